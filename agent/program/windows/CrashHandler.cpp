#include "agent/program/CrashHandler.h"

#include <utility>

// The Windows dump writer (an unhandled-exception filter writing the minidump with dbghelp)
// is not part of this build yet: no handler is installed, and a crash takes the system's own
// course without a dump.
CCrashHandler::CCrashHandler(std::string dumpFolder)
    : dumpFolder_(std::move(dumpFolder)), installed_(false) {}

CCrashHandler::~CCrashHandler() = default;
