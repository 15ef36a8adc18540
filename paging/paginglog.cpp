#include "paginglog.h"

Q_LOGGING_CATEGORY(lcPaging, "daling.paging", QtInfoMsg)
