#pragma once
// The log of a stub test program: every level written (the session search
// logs at debug level), and the lines written since a point read back.
#include "tests/support/TestLog.h"

// Raises the program's own log to verbose and configures the process-wide logger.
void ConfigureStubTestLog(const wchar_t* logName);
