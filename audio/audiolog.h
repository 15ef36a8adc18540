#pragma once
// The audio layer's log: what the player could not do and why, for the
// technician reading the desktop session's journal. Debug lines are off by
// default (QT_LOGGING_RULES="daling.audio.debug=true" turns them on).
#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcAudio)
