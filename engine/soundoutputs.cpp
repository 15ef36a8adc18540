#include "soundoutputs.h"

#include "soundserver.h"

#include <QFile>
#include <QtEndian>

#include <cmath>

QString SoundOutputs::label(const QString &device) const
{
    for (Role role : {Bells, Broadcast})
        if (this->device(role) == device) {
            const QString d = m_settings.value(descriptionSettingName(role));
            if (!d.isEmpty())
                return d;
        }
    return SoundServer::label(device);
}

OutputChoice::OutputChoice(Settings &settings) : m_settings(settings)
{
    rebuild({});
}

QList<AudioOutputDevice> OutputChoice::usable(const QList<AudioOutputDevice> &offered)
{
    // A card's ALSA devices, best first: its default route (with rate and
    // format conversion), then the plain converted device.
    static const QStringList cardRoutes{QStringLiteral("alsa/sysdefault:CARD="),
                                        QStringLiteral("alsa/default:CARD="),
                                        QStringLiteral("alsa/plughw:CARD=")};
    QList<AudioOutputDevice> out;
    QStringList cards;
    for (const QString &route : cardRoutes)
        for (const AudioOutputDevice &d : offered) {
            if (!d.name.startsWith(route))
                continue;
            const QString card = d.name.mid(route.size()).section(u',', 0, 0);
            if (!cards.contains(card)) {
                cards << card;
                out << d;
            }
        }
    QList<AudioOutputDevice> servers;
    for (const AudioOutputDevice &d : offered)
        if (d.name.startsWith(QStringLiteral("pulse/")) || d.name.startsWith(QStringLiteral("pipewire/"))
            || d.name.startsWith(QStringLiteral("alsa/hdmi:CARD="))) // a projector's or a screen's speaker
            servers << d;
    return servers + out;
}

void OutputChoice::rebuild(const QList<AudioOutputDevice> &offered)
{
    const SoundOutputs outputs(m_settings);
    const QString kept[2] = {outputs.device(SoundOutputs::Bells),
                             outputs.device(SoundOutputs::Broadcast)};
    const QString keptText[2] = {m_settings.value(SoundOutputs::descriptionSettingName(SoundOutputs::Bells)),
                                 m_settings.value(SoundOutputs::descriptionSettingName(SoundOutputs::Broadcast))};
    // libmpv's own word for the default ("auto") is not usable(): the
    // default is listed once, first.
    m_entries = {AudioOutputDevice{QString(), kDefaultText}};
    m_entries.append(usable(offered));
    m_absent.clear();
    for (int role = 0; role < 2; ++role) {
        int at = -1;
        for (int i = 0; i < m_entries.size() && at < 0; ++i)
            if (m_entries[i].name == kept[role])
                at = i;
        if (at < 0) { // a choice is never dropped because its device is unplugged
            m_entries.append({kept[role], keptText[role]});
            m_absent << kept[role];
            at = int(m_entries.size()) - 1;
        }
        m_chosen[role] = at;
    }
}

QString OutputChoice::load(AudioPlayer &lister)
{
    try {
        rebuild(lister.outputDevices());
        return {};
    } catch (const AudioError &e) {
        return e.text();
    }
}

QString OutputChoice::text(int index) const
{
    const AudioOutputDevice d = m_entries.value(index);
    if (d.name.isEmpty())
        return d.description;
    if (m_absent.contains(d.name))
        return QStringLiteral("%1（当前不存在）").arg(d.description.isEmpty() ? d.name : d.description);
    return d.description.isEmpty() ? d.name : QStringLiteral("%1（%2）").arg(d.description, d.name);
}

bool OutputChoice::isPipeSink(const QString &device) const
{
    if (!device.startsWith(QStringLiteral("pulse/")) || m_absent.contains(device))
        return false;
    for (const AudioOutputDevice &d : m_entries)
        if (d.name == device)
            return d.description.contains(QStringLiteral("fifo"), Qt::CaseInsensitive)
                   || d.description.contains(QStringLiteral("pipe"), Qt::CaseInsensitive);
    return false;
}

void OutputChoice::choose(Role role, int index)
{
    if (index >= 0 && index < m_entries.size())
        m_chosen[role] = index;
}

void OutputChoice::save()
{
    SoundOutputs outputs(m_settings);
    for (Role role : {SoundOutputs::Bells, SoundOutputs::Broadcast})
        outputs.setDevice(role, device(role), device(role).isEmpty() ? QString()
                                                  : m_entries.value(m_chosen[role]).description);
}

AudioPlayer &OutputPreview::player()
{
    if (!m_player)
        m_player = m_make(QString());
    return *m_player;
}

void OutputPreview::play(const QString &device, const QString &label)
{
    AudioPlayer &p = player();
    p.close();
    p.setOutputDevice(device);
    p.setFileName(toneFile());
    p.open();
    if (!p.missingOutput().isEmpty())
        throw AudioError(QStringLiteral("声音输出「%1」不存在。").arg(label.isEmpty() ? SoundServer::label(device) : label),
                         AudioError::Cause::Output);
    p.play();
}

void OutputPreview::stop()
{
    if (m_player)
        m_player->close();
}

// Written here rather than shipped: a few lines of PCM need no file in the
// package, and the tone is the same on every machine.
QString OutputPreview::toneFile()
{
    if (!m_dir)
        m_dir = std::make_unique<QTemporaryDir>();
    const QString path = m_dir->filePath(QStringLiteral("tone.wav"));
    if (QFile::exists(path))
        return path;
    constexpr int rate = 44100, frames = rate * 6 / 10;
    QByteArray pcm(frames * 2, Qt::Uninitialized);
    for (int i = 0; i < frames; ++i) {
        // 20 ms fades at both ends: no click.
        const double fade = std::min({1.0, i / (0.02 * rate), (frames - i) / (0.02 * rate)});
        const auto v = qint16(std::lround(12000.0 * fade * std::sin(2 * M_PI * 880.0 * i / rate)));
        qToLittleEndian(v, pcm.data() + 2 * i);
    }
    QByteArray wav;
    auto u32 = [&](quint32 v) { char b[4]; qToLittleEndian(v, b); wav.append(b, 4); };
    auto u16 = [&](quint16 v) { char b[2]; qToLittleEndian(v, b); wav.append(b, 2); };
    wav += "RIFF";
    u32(36 + quint32(pcm.size()));
    wav += "WAVEfmt ";
    u32(16); u16(1); u16(1); u32(rate); u32(rate * 2); u16(2); u16(16);
    wav += "data";
    u32(quint32(pcm.size()));
    wav += pcm;
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(wav) != wav.size())
        throw AudioError(QStringLiteral("无法写出试听用的声音文件：%1").arg(path));
    return path;
}
