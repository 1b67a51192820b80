#pragma once

#include <mutex>
#include <string>

namespace qxsim {

// Everything the simulator tells its user, one whole block at a time, so that lines of
// different agents never interleave. Agents are numbered from 1 in the order they connect.
class Printer {
public:
    // With stamps every line of standard output begins with the wall-clock time in seconds
    // since 1970, to the millisecond, so that a fleet's arrivals can be timed.
    explicit Printer(bool stamps = false) : stamps_(stamps) {}

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
    // The stamp for a line written now: empty without stamps.
    std::string Stamp() const;

    const bool stamps_;
    std::mutex lock_;
};

}  // namespace qxsim
