#pragma once
// Where the sound goes: the output chosen for the bells (and every playback
// that tests them) and the one for the ad-hoc broadcast, kept in the
// settings as libmpv's device name; empty is the system default. And the
// logic of the sound output dialog, testable without a window.
#include "audioplayer.h"
#include "settings.h"

#include <QTemporaryDir>
#include <functional>
#include <memory>

class SoundOutputs {
public:
    enum Role { Bells, Broadcast };
    explicit SoundOutputs(Settings &settings) : m_settings(settings) {}

    static QString settingName(Role role)
    {
        return role == Bells ? QStringLiteral("铃声输出") : QStringLiteral("广播输出");
    }
    // The description the operator picked it by, kept beside it.
    static QString descriptionSettingName(Role role)
    {
        return role == Bells ? QStringLiteral("铃声输出名称") : QStringLiteral("广播输出名称");
    }
    QString device(Role role) const { return m_settings.value(settingName(role)); }
    // Throws StoreError when it cannot be kept.
    void setDevice(Role role, const QString &name, const QString &description = {})
    {
        m_settings.setValue(settingName(role), name);
        m_settings.setValue(descriptionSettingName(role), description);
    }
    // How the operator knows an output: the description it was chosen by,
    // else its device name.
    QString label(const QString &device) const;

private:
    Settings &m_settings;
};

// The dialog's list and its two choices.
class OutputChoice {
public:
    using Role = SoundOutputs::Role;
    static inline const QString kDefaultText = QStringLiteral("系统默认输出");

    explicit OutputChoice(Settings &settings);

    // Whether the dialog lists an output the server offers: the sound
    // server's outputs and each real sound card once, not the ALSA plugins
    // (jack, lavrate, dmix …) nor the other backends' devices.
    static QList<AudioOutputDevice> usable(const QList<AudioOutputDevice> &offered);

    // Reads the outputs the server offers through `lister`; the list keeps
    // the system default first and a chosen output the server does not
    // offer now. Returns the reason when the server could not tell.
    QString load(AudioPlayer &lister);
    int count() const { return int(m_entries.size()); }
    QString text(int index) const;
    QString name(int index) const { return m_entries.value(index).name; }
    QString description(int index) const { return m_entries.value(index).description; }
    // Whether the listed output is a pipe sink (what feeds a Snapcast
    // stream): the sound server describes PulseAudio's module-pipe-sink as
    // "Unix FIFO sink <file>". False for an output not listed now.
    bool isPipeSink(const QString &device) const;

    int chosen(Role role) const { return m_chosen[role]; }
    void choose(Role role, int index);
    QString device(Role role) const { return name(m_chosen[role]); }
    // Keeps both choices; throws StoreError.
    void save();

private:
    void rebuild(const QList<AudioOutputDevice> &offered);
    Settings &m_settings;
    QList<AudioOutputDevice> m_entries;
    QStringList m_absent; // chosen and not offered now
    int m_chosen[2] = {0, 0};
};

// 试听: a short tone of our own on one output, through a player of its
// own, so that a bell or a broadcast playing meanwhile is not touched.
class OutputPreview {
public:
    using MakePlayer = std::function<std::unique_ptr<AudioPlayer>(const QString &)>;
    explicit OutputPreview(MakePlayer make) : m_make(std::move(make)) {}

    // The player the dialog also lists the outputs with.
    AudioPlayer &player();
    // Plays the tone on `device`; throws AudioError with the reason, which
    // names the output by `label` when given.
    void play(const QString &device, const QString &label = {});
    void stop();
    // The tone's file, written on first use: 0.6 s of 880 Hz, 16-bit mono.
    QString toneFile();

private:
    MakePlayer m_make;
    std::unique_ptr<AudioPlayer> m_player;
    std::unique_ptr<QTemporaryDir> m_dir;
};
