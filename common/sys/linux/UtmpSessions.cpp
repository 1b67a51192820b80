#include "common/sys/linux/UtmpSessions.h"

#include <paths.h>
#include <utmp.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

#include "common/sys/Root.h"
#include "common/util/StringUtils.h"

namespace sys {

namespace {

constexpr char kSeparator = '\n';

std::string Field(const char* text, std::size_t size) {
    return std::string(text, strnlen(text, size));
}

// One session's identity: user, line, id and process; the user and line come first so
// that a change can be named from the key alone.
std::string SessionKey(const utmp& record) {
    return Field(record.ut_user, sizeof record.ut_user) + kSeparator +
           Field(record.ut_line, sizeof record.ut_line) + kSeparator +
           Field(record.ut_id, sizeof record.ut_id) + kSeparator + std::to_string(record.ut_pid);
}

SessionChange ChangeOf(const std::string& key, bool logon) {
    const std::size_t userEnd = key.find(kSeparator);
    const std::size_t lineEnd = key.find(kSeparator, userEnd + 1);
    return {logon, key.substr(0, userEnd), key.substr(userEnd + 1, lineEnd - userEnd - 1)};
}

}  // namespace

UtmpSessions::UtmpSessions(std::string path) : path_(std::move(path)) {
    std::string ignored;
    Read(sessions_, ignored);
}

std::string UtmpSessions::DefaultPath() {
    return IsRootRelocated() ? UnderRoot("run/utmp") : std::string(_PATH_UTMP);
}

std::vector<SessionChange> UtmpSessions::Reread(std::string& problem) {
    std::set<std::string> now;
    if (!Read(now, problem)) {
        return {};
    }
    std::vector<SessionChange> changes;
    for (const std::string& key : now) {
        if (!sessions_.contains(key)) {
            changes.push_back(ChangeOf(key, true));
        }
    }
    for (const std::string& key : sessions_) {
        if (!now.contains(key)) {
            changes.push_back(ChangeOf(key, false));
        }
    }
    sessions_ = std::move(now);
    return changes;
}

bool UtmpSessions::Read(std::set<std::string>& sessions, std::string& problem) const {
    std::ifstream file(path_, std::ios::binary);
    if (!file.is_open()) {
        problem = util::Format("%s cannot be read: %s", path_.c_str(), std::strerror(errno));
        return false;
    }
    const std::string bytes{std::istreambuf_iterator<char>(file), {}};
    const std::size_t whole = bytes.size() / sizeof(utmp);
    if (bytes.size() % sizeof(utmp) != 0) {
        problem = util::Format("%s ends in a partial record of %zu bytes, left out", path_.c_str(),
                               bytes.size() % sizeof(utmp));
    }
    for (std::size_t i = 0; i < whole; ++i) {
        utmp record;
        std::memcpy(&record, bytes.data() + i * sizeof(utmp), sizeof(utmp));
        if (record.ut_type == USER_PROCESS) {
            sessions.insert(SessionKey(record));
        }
    }
    return true;
}

}  // namespace sys
