// Any text gives a time of day or nothing; never a value outside the day.
#include "timetext.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    const auto seconds = parseTimeText(text);
    if (seconds && (*seconds < 0 || *seconds >= 86400))
        abort();
    return 0;
}
