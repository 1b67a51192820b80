#pragma once

#include <windows.h>

#include <string>

#include "common/sys/windows/Owned.h"

namespace sys::win {

// A thread made when the crash handler is installed that waits, parked, to write the one dump
// of the process. A crash cannot start a thread safely: a new thread must enter every
// library's DllMain under the loader lock, which the crashing thread may hold.
class CDumpWriter final {
public:
    explicit CDumpWriter(std::string folder);
    ~CDumpWriter();
    CDumpWriter(const CDumpWriter&) = delete;
    CDumpWriter& operator=(const CDumpWriter&) = delete;

    const std::string& Folder() const { return folder_; }
    // Wakes the thread to write the dump and waits for it for at most `limitMs`: the dump's
    // path, or nullptr when no complete dump was written in that time. Called once at most.
    const std::string* Write(EXCEPTION_POINTERS* exception, DWORD crashingThread, DWORD limitMs);

private:
    static DWORD WINAPI Run(LPVOID self);

    const std::string folder_;
    EXCEPTION_POINTERS* exception_ = nullptr;
    DWORD crashingThread_ = 0;
    std::string written_;
    KernelHandle wake_;
    // Set as the dump is done: the thread's own end waits for the loader lock.
    KernelHandle done_;
    KernelHandle thread_;
};

}  // namespace sys::win
