#pragma once
#include <QLoggingCategory>

// "daling.client": a client's link to the engine, its copy of the day, the
// service's setup.
Q_DECLARE_LOGGING_CATEGORY(lcClient)
