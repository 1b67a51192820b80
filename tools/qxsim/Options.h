#pragma once

#include <stdexcept>
#include <string>

#include "tools/qxsim/Certificates.h"

namespace qxsim {

// How the simulator answers "Request"="CreateSession".
enum class SessionMode {
    kAccept,  // "Reply"="CreateSession", "Result"="Success", then TLS on that connection
    kRefuse,  // "Reply"="CreateSession", "Result"="Refused"; the connection stays plain
    kIgnore,  // no answer: the script (or the person) answers
};

struct Options {
    std::string address = "127.0.0.1";
    int port = 4040;  // 0: any free port (the one taken is printed)
    std::string script;
    bool keyboard = false;  // read commands from standard input
    std::string certificate;
    std::string key;
    std::string caOut;  // where to write the generated authority; empty: a folder of the run
    Presented presented = Presented::kRight;  // which certificate of that authority
    SessionMode session = SessionMode::kAccept;
    int exitAfter = 0;        // stop once this many agents have come and gone; 0: never
    bool timestamps = false;  // every printed line begins with the time
    bool help = false;
};

class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Throws UsageError for an unknown or malformed option.
Options ParseOptions(int argc, const char* const* argv);

extern const char kUsage[];

}  // namespace qxsim
