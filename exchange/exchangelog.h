#pragma once
// The logging category of the spreadsheet exchange (readers, import, export).
#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcExchange)
