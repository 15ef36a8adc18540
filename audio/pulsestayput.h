#pragma once
// Streams that never move: PulseAudio moves a stream whose sink goes away to
// the default sink, unless the stream was connected with PA_STREAM_DONT_MOVE
// (it is then ended instead), and libmpv offers no option for that flag. This
// program's own definitions of two libpulse calls stand in front of the
// library's (the dynamic linker binds libmpv's calls to the executable's
// symbols first) and pass them on: a stream made by a core whose client name
// is kStayPutClient and connected to a named sink gets the flag.
namespace PulseStayPut {
// The client name (mpv's audio-client-name) of a core whose streams stay put.
inline constexpr const char *kStayPutClient = "daling-zone";
// True when the stand-ins are in front of libpulse in this process (they
// are, unless something loaded earlier defines the same calls).
bool active();
} // namespace PulseStayPut
