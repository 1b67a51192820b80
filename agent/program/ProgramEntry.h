#pragma once

#include "common/util/ParamList.h"

// The program's work after the crash handler is in place: the log, the parameter list, the
// program's folder as the current directory, then one command-line mode or the service.
// Returns the exit code, 0 or 1.
int RunProgram(int argc, const char* const* argv);

// Reads the log settings and creates the file log.
void InitializeLog();
