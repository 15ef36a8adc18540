#include "audiolog.h"

Q_LOGGING_CATEGORY(lcAudio, "daling.audio", QtInfoMsg)
