#pragma once
#include <QString>
#include <optional>

// Reads the time cell of an imported sheet the way a Chinese regional setting
// reads a date and time: blanks (spaces, tabs, no-break and ideographic
// spaces) around each part and separator; ":" or the full-width "："; an optional
// leading date (yyyy/M/d or yyyy-M-d, ignored); hours, then optional ":"
// minutes, ":" seconds and "." milliseconds; an AM/PM or 上午/下午 marker before or after
// the time. Plain digits 0-9 only. Returns whole seconds since midnight
// (milliseconds dropped), or nothing when the text is not a time.
std::optional<qint64> parseTimeText(const QString &text);
