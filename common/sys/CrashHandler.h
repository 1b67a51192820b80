#pragma once

#include <string>

namespace sys {

// Called on the crashing thread, inside the signal handler, once the dump is written, with
// the dump's path. It may make only async-signal-safe calls.
using CrashDumpCallback = void (*)(const char* dumpPath);

// Installs the process's crash handler for SIGSEGV, SIGBUS, SIGILL, SIGFPE and SIGABRT. On a
// crash it writes "<dumpFolder>/<GUID>.dmp", a minidump of the process (see MinidumpWriter),
// calls afterDump when one is given, restores the signal's default action and raises the
// signal again, so the system's own handling (core dump, service restart) follows.
//
// Which crashes get a dump: every crash on the thread that installs the handler, a stack
// overflow included, since that thread gets an alternate signal stack (AltSignalStack), and
// likewise on every thread that has one of its own, as every lang::IAThread has. On any
// other thread the handler runs on that thread's own stack: every crash but a stack overflow
// is dumped; a thread whose stack is exhausted cannot take the signal and the kernel ends the
// process without a dump.
//
// A second crash while a dump is being written ends the process: on the same thread the
// kernel ends it at once (the crash signals are blocked in the handler); another crashing
// thread waits a bounded time for the first dump, then re-raises its own signal.
//
// Returns false, and changes nothing, when a handler is installed already, the dump path
// would be too long or the system refuses a signal action.
bool InstallCrashHandler(const std::string& dumpFolder, CrashDumpCallback afterDump = nullptr);

// Puts back the signal actions, and on the calling thread the alternate stack, that were
// there before. Call it on the thread that installed the handler, when no crash can come
// any more from code that relied on it.
void RemoveCrashHandler();

}  // namespace sys
