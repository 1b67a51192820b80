#include "agent/program/CrashHandler.h"

#include <utility>

#include "common/sys/CrashHandler.h"

CCrashHandler::CCrashHandler(std::string dumpFolder)
    : dumpFolder_(std::move(dumpFolder)), installed_(sys::InstallCrashHandler(dumpFolder_)) {}

CCrashHandler::~CCrashHandler() {
    if (installed_) {
        sys::RemoveCrashHandler();
    }
}
