#include "tools/qxsim/Printer.h"

#include <cstdio>
#include <sstream>

namespace qxsim {

void Printer::Note(const std::string& text) {
    std::lock_guard guard(lock_);
    std::fprintf(stdout, "qxsim: %s\n", text.c_str());
    std::fflush(stdout);
}

void Printer::Error(const std::string& text) {
    std::lock_guard guard(lock_);
    std::fflush(stdout);
    std::fprintf(stderr, "qxsim: %s\n", text.c_str());
    std::fflush(stderr);
}

void Printer::Line(int agent, const std::string& text) {
    std::lock_guard guard(lock_);
    std::fprintf(stdout, "[%d] %s\n", agent, text.c_str());
    std::fflush(stdout);
}

void Printer::Message(int agent, bool incoming, const std::string& text) {
    std::ostringstream block;
    const char* direction = incoming ? "IN  " : "OUT ";
    std::istringstream lines(text);
    bool first = true;
    for (std::string line; std::getline(lines, line);) {
        block << '[' << agent << "] " << (first ? direction : "    ") << line << '\n';
        first = false;
    }
    if (first) {
        block << '[' << agent << "] " << direction << "(an empty message)\n";
    }
    std::lock_guard guard(lock_);
    std::fputs(block.str().c_str(), stdout);
    std::fflush(stdout);
}

}  // namespace qxsim
