#pragma once

// The kinds of the error family, each named after the component that raises it. Catch them
// by reference, the most specific first; err::CGeneralError catches them all. What a kind's
// value means, and its fixed lines, stand in the raising component's catalogue of lines.

#include "common/err/GeneralError.h"

WARDEX_ERROR_KIND(CAgentError, err::CGeneralError);
WARDEX_ERROR_KIND(QueueError, err::CGeneralError);
WARDEX_ERROR_KIND(CToolBoxError, err::CGeneralError);

namespace logging {
WARDEX_ERROR_KIND(CAgentLogError, err::CGeneralError);
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
}  // namespace lang

namespace sys {
WARDEX_ERROR_KIND(RegistryError, err::CGeneralError);
WARDEX_ERROR_KIND(CWmiError, err::CGeneralError);
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
