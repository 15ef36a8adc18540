#pragma once
// The built-in evacuation tone: the temporal-three pattern of evacuation
// signals (three half-second bursts half a second apart, then a second and
// a half of silence), each burst a tone sweeping up from 800 to 1000 Hz,
// loud and unmistakable over a school's speakers. Written by our own code
// into the music folder at first start (no third-party audio), and again
// whenever it is found missing or broken when an emergency begins.
#include <QString>

namespace alarmtone {

inline const QString kFileName = QStringLiteral("紧急警报.wav");
constexpr int kRate = 44100;
constexpr int kCycleMs = 4000; // one pattern; the file holds two
constexpr int kFileMs = 2 * kCycleMs;

// The tone as 16-bit mono PCM samples.
QByteArray pcm();
// Writes it as a .wav file at path (through a temporary file and a rename,
// so that a start cut short leaves no half file); false with the reason in
// *error when it cannot.
bool write(const QString &path, QString *error = nullptr);
// True when the file at path is there and our reader knows it as sound.
bool usable(const QString &path);

} // namespace alarmtone
