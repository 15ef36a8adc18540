#pragma once
#include <QLoggingCategory>

// "daling.paging": each live announcement, its zones, its streams and its end.
Q_DECLARE_LOGGING_CATEGORY(lcPaging)
