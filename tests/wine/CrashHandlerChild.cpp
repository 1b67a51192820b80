// Installs the agent's crash handler with the folder it is given and ends in the way it is
// asked:
//   crash_handler_child <dump folder> terminate|fault
// terminate calls std::terminate; fault writes to address 0x20 after setting a filter
// of its own first, which the handler is to put back when it goes and to call after its dump.

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>

#include "agent/program/CrashHandler.h"

namespace {

LONG WINAPI ReportChained(EXCEPTION_POINTERS*) {
    std::puts("the filter set before ran");
    std::fflush(stdout);
    std::_Exit(5);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        return 2;
    }
    if (std::strcmp(argv[2], "fault") == 0) {
        ::SetUnhandledExceptionFilter(ReportChained);
        { const CCrashHandler removed(argv[1]); }
        if (::SetUnhandledExceptionFilter(ReportChained) != ReportChained) {
            return 4;  // the filter set before was not put back
        }
        const CCrashHandler handler(argv[1]);
        asm volatile("movl $1, 0x20" ::: "memory");  // an absolute address on x86 and x86-64
    }
    const CCrashHandler handler(argv[1]);
    std::terminate();
}
