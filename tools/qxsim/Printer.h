#pragma once

#include <mutex>
#include <string>

namespace qxsim {

// Everything the simulator tells its user, one whole block at a time, so that lines of
// different agents never interleave. Agents are numbered from 1 in the order they connect.
class Printer {
public:
    // "qxsim: <text>" on standard output.
    void Note(const std::string& text);
    // "qxsim: <text>" on standard error.
    void Error(const std::string& text);
    // "[<agent>] <text>".
    void Line(int agent, const std::string& text);
    // A message's text form: "[<agent>] IN  <lead line>" (or OUT) and one indented line per
    // field beneath it.
    void Message(int agent, bool incoming, const std::string& text);

private:
    std::mutex lock_;
};

}  // namespace qxsim
