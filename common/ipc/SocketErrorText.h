#pragma once

#include <string>

namespace ipc {

// The standard sentence for a Windows Sockets error code, for log lines; an empty string
// for a code the table does not know.
std::string SocketErrorText(int code);

}  // namespace ipc
