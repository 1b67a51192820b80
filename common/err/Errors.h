#pragma once

// The kinds of the error family, each named after the component that raises it. Catch them
// by reference, the most specific first; err::CGeneralError catches them all. Beside a kind
// whose raises give its value a meaning stand those values; a value of 0 means none. The
// values, like the lines, are matched by administrators' log filters and never change.

#include "common/err/GeneralError.h"

WARDEX_ERROR_KIND(CAgentError, err::CGeneralError);
enum AgentErrorValue : int { kAgentOperationFailed = 1, kAgentInputFileMissing = 3 };
WARDEX_ERROR_KIND(QueueError, err::CGeneralError);
WARDEX_ERROR_KIND(CToolBoxError, err::CGeneralError);
// Which part of the toolbox failed.
enum ToolboxErrorValue : int {
    kToolboxLibraryFault = 0,
    kToolboxEntryPointFault = 1,
    kToolboxTableFault = 2,
    kToolboxTableEntryFault = 3,
};

namespace logging {
WARDEX_ERROR_KIND(CAgentLogError, err::CGeneralError);
enum LogErrorValue : int { kLogUnavailable = 1, kLogOutOfMemory = 2, kLogFileNotOpened = 4 };
}  // namespace logging

namespace util {
WARDEX_ERROR_KIND(CFileIOError, err::CGeneralError);
}

namespace ipc {
WARDEX_ERROR_KIND(CIPCError, err::CGeneralError);
WARDEX_ERROR_KIND(CIPCSocketError, CIPCError);
WARDEX_ERROR_KIND(CTCPCSocketError, CIPCSocketError);
WARDEX_ERROR_KIND(CIPAddressError, err::CGeneralError);
}  // namespace ipc

namespace lang {
WARDEX_ERROR_KIND(CThreadError, err::CGeneralError);
// A thread's Run let out an exception of no kind of the family.
enum ThreadErrorValue : int { kThreadUnrecoverable = -1 };
}  // namespace lang

namespace sys {
WARDEX_ERROR_KIND(RegistryError, err::CGeneralError);
WARDEX_ERROR_KIND(CWmiError, err::CGeneralError);
enum WmiErrorValue : int { kWmiPropertyUnreadable = 1 };
// The settings store's file, which Registry reports as a RegistryError of its own wording:
// the system error is the errno of the call that failed, and the message, empty otherwise,
// names the file, the line and the fault of a file that does not parse.
WARDEX_ERROR_KIND(RegistryStoreError, err::CGeneralError);
// A store text that does not follow the regedit export format: the message is the fault and
// the line is the line of the text at fault.
WARDEX_ERROR_KIND(RegistryParseError, err::CGeneralError);
}  // namespace sys

namespace WindowsServices {
WARDEX_ERROR_KIND(ServiceControlError, err::CGeneralError);
}
