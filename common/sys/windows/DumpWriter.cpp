#include "common/sys/windows/DumpWriter.h"

#include <utility>

#include "common/sys/windows/DumpFile.h"

namespace sys::win {

namespace {

// A parked writer that is told to stop ends at once.
constexpr DWORD kStopLimitMs = 5000;

}  // namespace

CDumpWriter::CDumpWriter(std::string folder)
    : folder_(std::move(folder)),
      wake_(::CreateEventA(nullptr, TRUE, FALSE, nullptr)),
      done_(::CreateEventA(nullptr, TRUE, FALSE, nullptr)) {
    if (wake_ && done_) {
        thread_.Reset(::CreateThread(nullptr, 0, Run, this, 0, nullptr));
    }
}

// Without a crash, exception_ is still empty when the thread wakes, and it ends unwritten.
CDumpWriter::~CDumpWriter() {
    if (thread_) {
        ::SetEvent(wake_.Get());
        ::WaitForSingleObject(thread_.Get(), kStopLimitMs);
    }
}

const std::string* CDumpWriter::Write(EXCEPTION_POINTERS* exception, DWORD crashingThread,
                                      DWORD limitMs) {
    if (!thread_) {
        return nullptr;
    }
    exception_ = exception;
    crashingThread_ = crashingThread;
    ::SetEvent(wake_.Get());
    const bool done = ::WaitForSingleObject(done_.Get(), limitMs) == WAIT_OBJECT_0;
    return done && !written_.empty() ? &written_ : nullptr;
}

DWORD WINAPI CDumpWriter::Run(LPVOID self) {
    auto& writer = *static_cast<CDumpWriter*>(self);
    ::WaitForSingleObject(writer.wake_.Get(), INFINITE);
    if (writer.exception_ != nullptr) {
        writer.written_ = WriteDumpFile(writer.folder_, writer.exception_, writer.crashingThread_);
        ::SetEvent(writer.done_.Get());
    }
    return 0;
}

}  // namespace sys::win
