#pragma once
// "daling.web": the remote control's accounts, sessions and logins.
#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcWeb)
