// Any text gives a canonical weekday set or nothing: each of 日一二三四五六
// at most once, in that order.
#include "weekdaytext.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    const auto days = WeekdayText::read(text);
    if (!days)
        return 0;
    const QString order = QStringLiteral("日一二三四五六");
    qsizetype last = -1;
    for (const QChar c : *days) {
        const qsizetype at = order.indexOf(c);
        if (at <= last)
            abort();
        last = at;
    }
    return 0;
}
