#pragma once
// The first start of an installed copy: where the package put a sample
// timetable (sample/dbDaLing.db beside the program) and there is no store
// yet, the store begins as a copy of it, writable by its owner and
// the operators (the data folder's group), so that a new user sees and
// hears the program work at once.
#include "apppaths.h"

// True when the sample was copied.
bool seedStoreFromSample(const AppPaths &paths);
