#include "tools/qxsim/Printer.h"

#include <chrono>
#include <cstdio>
#include <sstream>

namespace qxsim {

std::string Printer::Stamp() const {
    if (!stamps_) {
        return "";
    }
    using namespace std::chrono;
    const auto ms = duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
    char text[32];
    std::snprintf(text, sizeof text, "%lld.%03lld ", static_cast<long long>(ms / 1000),
                  static_cast<long long>(ms % 1000));
    return text;
}

void Printer::Note(const std::string& text) {
    std::lock_guard guard(lock_);
    std::fprintf(stdout, "%sqxsim: %s\n", Stamp().c_str(), text.c_str());
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
    std::fprintf(stdout, "%s[%d] %s\n", Stamp().c_str(), agent, text.c_str());
    std::fflush(stdout);
}

void Printer::Message(int agent, bool incoming, const std::string& text) {
    std::ostringstream block;
    const char* direction = incoming ? "IN  " : "OUT ";
    const std::string stamp = Stamp();
    std::istringstream lines(text);
    bool first = true;
    for (std::string line; std::getline(lines, line);) {
        block << stamp << '[' << agent << "] " << (first ? direction : "    ") << line << '\n';
        first = false;
    }
    if (first) {
        block << stamp << '[' << agent << "] " << direction << "(an empty message)\n";
    }
    std::lock_guard guard(lock_);
    std::fputs(block.str().c_str(), stdout);
    std::fflush(stdout);
}

}  // namespace qxsim
