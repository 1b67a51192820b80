#pragma once

#include <utmp.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "tests/support/ScratchFiles.h"

namespace scratch {

// One utmp record: its kind (USER_PROCESS, DEAD_PROCESS, ...), user, line and process.
struct UtmpRecord {
    short type;
    std::string user;
    std::string line = "pts/0";
    int pid = 0;
};

// Writes the records in the glibc utmp layout, each with the end of its line as its id;
// cut keeps only that many bytes.
inline void WriteUtmp(const std::string& path, const std::vector<UtmpRecord>& records,
                      std::size_t cut = std::string::npos) {
    std::string bytes;
    for (const UtmpRecord& record : records) {
        utmp entry{};
        entry.ut_type = record.type;
        entry.ut_pid = record.pid;
        const std::string id =
            record.line.empty() ? "" : record.line.substr(record.line.size() - 1);
        std::strncpy(entry.ut_user, record.user.c_str(), sizeof entry.ut_user);
        std::strncpy(entry.ut_line, record.line.c_str(), sizeof entry.ut_line);
        std::strncpy(entry.ut_id, id.c_str(), sizeof entry.ut_id);
        bytes.append(reinterpret_cast<const char*>(&entry), sizeof entry);
    }
    WriteFile(path, bytes.substr(0, std::min(cut, bytes.size())));
}

}  // namespace scratch
