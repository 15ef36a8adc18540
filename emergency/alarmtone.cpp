// A RIFF/WAVE header is a few fixed fields: written here by hand rather than
// pulling in an audio library for it.
#include "alarmtone.h"

#include "audiofilefacts.h"

#include <QFileInfo>
#include <QSaveFile>
#include <QtEndian>
#include <cmath>
#include <numbers>

namespace alarmtone {

QByteArray pcm()
{
    constexpr int burstMs = 500, fadeMs = 5;
    constexpr double amplitude = 0.8 * 32767;
    const int total = kRate / 1000 * kFileMs;
    QByteArray out(total * 2, '\0');
    auto *s = reinterpret_cast<qint16 *>(out.data());
    double phase = 0;
    for (int i = 0; i < total; ++i) {
        const int ms = int(qint64(i) * 1000 / kRate) % kCycleMs;
        // Bursts at 0, 1000 and 2000 ms of each cycle.
        const bool on = ms < 2500 && ms % 1000 < burstMs;
        if (!on) {
            phase = 0;
            continue;
        }
        const double t = double(i % (kRate * burstMs / 1000)) / kRate; // within the burst
        const double hz = 800 + 200 * t / (burstMs / 1000.0);
        phase += 2 * std::numbers::pi * hz / kRate;
        const double edge = std::min({1.0, t * 1000 / fadeMs, (burstMs / 1000.0 - t) * 1000 / fadeMs});
        s[i] = qToLittleEndian(qint16(std::lround(amplitude * edge * std::sin(phase))));
    }
    return out;
}

bool write(const QString &path, QString *error)
{
    const QByteArray data = pcm();
    QByteArray wav;
    auto u32 = [&](quint32 v) { char b[4]; qToLittleEndian(v, b); wav.append(b, 4); };
    auto u16 = [&](quint16 v) { char b[2]; qToLittleEndian(v, b); wav.append(b, 2); };
    wav += "RIFF";
    u32(quint32(36 + data.size()));
    wav += "WAVEfmt ";
    u32(16);
    u16(1); // PCM
    u16(1); // mono
    u32(kRate);
    u32(kRate * 2);
    u16(2);
    u16(16);
    wav += "data";
    u32(quint32(data.size()));
    wav += data;
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(wav) != wav.size() || !f.commit()) {
        if (error)
            *error = f.errorString();
        return false;
    }
    return true;
}

bool usable(const QString &path)
{
    const QFileInfo fi(path);
    return fi.isFile() && fi.size() > 44 && !AudioFileFacts::sniff(path).format.isEmpty();
}

} // namespace alarmtone
