#pragma once

#include <string>

namespace sys {

// Called on the crashing thread once the dump is written, with the dump's path. On Linux it
// runs inside the signal handler and may make only async-signal-safe calls.
using CrashDumpCallback = void (*)(const char* dumpPath);

// Installs the process's crash handler: the program's last resort for a fatal fault. On a
// crash it writes "<dumpFolder>/<GUID>.dmp", a minidump of the process in the Windows format
// on both platforms, calls afterDump when one is given, and then lets the system's own
// handling follow (core dump, service restart) as if there were no handler. Every
// lang::IAThread started while the handler is installed keeps room on its stack for it
// (ThreadCrashStack), so that a runaway recursion still gets its dump.
//
// Linux: the handler takes SIGSEGV, SIGBUS, SIGILL, SIGFPE and SIGABRT (see MinidumpWriter);
// after the dump it restores the signal's default action and raises the signal again.
// Windows: an unhandled-exception filter, a SIGABRT handler and a terminate handler; a
// writer thread is parked from the start, since a crash cannot start a thread safely.
//
// On Linux, which crashes get a dump: every crash on the thread that installs the handler, a stack
// overflow included, since that thread gets an alternate signal stack (AltSignalStack), and
// likewise on every thread that has one of its own, as every lang::IAThread has. On any
// other thread the handler runs on that thread's own stack: every crash but a stack overflow
// is dumped; a thread whose stack is exhausted cannot take the signal and the kernel ends the
// process without a dump.
//
// A second crash while a dump is being written ends the process: on Linux, on the same thread
// the kernel ends it at once (the crash signals are blocked in the handler) and another
// crashing thread waits a bounded time for the first dump, then re-raises its own signal; on
// Windows any second crash ends the process at once.
//
// Returns false, and changes nothing, when a handler is installed already, the dump path
// would be too long or the system refuses a signal action.
bool InstallCrashHandler(const std::string& dumpFolder, CrashDumpCallback afterDump = nullptr);

// Puts back the handlers, and on Linux the calling thread's alternate stack, that were there
// before. Call it on the thread that installed the handler, when no crash can come
// any more from code that relied on it.
void RemoveCrashHandler();

}  // namespace sys
