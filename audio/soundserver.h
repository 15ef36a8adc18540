#pragma once
// The sound system every player of this process plays through: PulseAudio
// (or PipeWire's PulseAudio server), chosen for good once a server answers,
// else ALSA. Its outputs are listed through that system alone: libmpv's
// audio-device-list starts every output driver libmpv has, PipeWire's among
// them, whose failures then fill the log of a PulseAudio machine.
#include "audioplayer.h"

#include <optional>

namespace SoundServer {

// libmpv's name of the driver ("pulse" or "alsa") for a player that starts
// now: a server that refuses the connection means ALSA (asked again next
// time); one that is slow to answer is still there and is kept.
const char *driver();

// The outputs the driver offers, named as libmpv names them
// ("pulse/<sink>", "alsa/<pcm>") with their descriptions; nullopt when the
// server did not answer within `timeoutMs`.
std::optional<QList<AudioOutputDevice>> outputs(int timeoutMs = 1000);

// How the operator knows an output: the description the server gave it (the
// one the operator set, "ZoneB") in any list this process read, else its
// device name.
QString label(const QString &device);

} // namespace SoundServer
