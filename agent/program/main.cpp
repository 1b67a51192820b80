#include "agent/program/CrashHandler.h"
#include "agent/program/ProgramEntry.h"
#include "common/sys/CurrentProcess.h"
#include "common/sys/ProgramPath.h"

int main(int argc, char** argv) {
    const CCrashHandler crashHandler(sys::ProgramFolder());
    sys::ReportFileSizeLimitAsError();
    sys::LoadLibrariesFromSafeFoldersOnly();
    return RunProgram(argc, argv);
}
