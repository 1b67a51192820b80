#pragma once

#include <string>

// The program's last resort for a fatal fault: installed first thing in main and removed as
// main returns. A crash writes a minidump named by a GUID into the dump folder and then
// proceeds to the system's own handling (core dump, service restart).
class CCrashHandler final {
public:
    explicit CCrashHandler(std::string dumpFolder);
    ~CCrashHandler();
    CCrashHandler(const CCrashHandler&) = delete;
    CCrashHandler& operator=(const CCrashHandler&) = delete;

    const std::string& DumpFolder() const { return dumpFolder_; }
    bool IsInstalled() const { return installed_; }

private:
    std::string dumpFolder_;
    bool installed_;
};
