#pragma once

#include <set>
#include <string>
#include <vector>

namespace sys {

// A logon or a logoff seen between two readings of the utmp file.
struct SessionChange {
    bool logon = false;
    std::string user;
    std::string line;
};

// The user sessions (USER_PROCESS records) of a utmp file, and what changed between two
// readings of it. Only the records' presence counts, so a rewritten record of another kind
// (a dead process, a boot time) changes nothing.
class UtmpSessions {
public:
    explicit UtmpSessions(std::string path);

    // The system's utmp, or run/utmp below a relocated root.
    static std::string DefaultPath();

    const std::string& Path() const { return path_; }
    // Reads the file again and gives the logons and logoffs since the last reading. A file
    // that cannot be read keeps the last reading and says why in problem; a partial record
    // at the end is left out and named there too.
    std::vector<SessionChange> Reread(std::string& problem);

private:
    bool Read(std::set<std::string>& sessions, std::string& problem) const;

    const std::string path_;
    std::set<std::string> sessions_;
};

}  // namespace sys
