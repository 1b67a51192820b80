#include "tools/qxsim/Script.h"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <fstream>

namespace qxsim {
namespace {

constexpr const char* kBlanks = " \t\r";

std::string Trim(const std::string& text) {
    const std::string::size_type first = text.find_first_not_of(kBlanks);
    if (first == std::string::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

// Splits "word rest" at the first blank.
std::pair<std::string, std::string> SplitWord(const std::string& line) {
    const std::string::size_type blank = line.find_first_of(kBlanks);
    if (blank == std::string::npos) {
        return {line, {}};
    }
    return {line.substr(0, blank), Trim(line.substr(blank))};
}

}  // namespace

ScriptReader::ScriptReader(std::string source, bool keyboard)
    : source_(std::move(source)), keyboard_(keyboard) {}

void ScriptReader::Fail(const std::string& what) {
    open_.reset();
    throw ScriptError(source_ + ":" + std::to_string(lineNumber_) + ": " + what);
}

// The message record takes a line as name=value only when "=" stands at its third byte or
// later; anything else would be cut short at the agent without a word.
void ScriptReader::CheckLine(const std::string& line, const char* what) {
    if (line.size() < 3 || line.find('=', 2) == std::string::npos) {
        Fail(std::string(what) + " '" + line + "' is not name=value (a name of two bytes or more)");
    }
}

int ScriptReader::Number(const std::string& text, const char* what) {
    int value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || stop != end || value < 0) {
        Fail(std::string(what) + " needs a number, not '" + text + "'");
    }
    return value;
}

Step ScriptReader::ParseSend(const std::string& argument) {
    CheckLine(argument, "the lead line");
    return Step{Step::Kind::kSend, lineNumber_, argument + "\n", 0};
}

// "Lead=Value" or "Lead=Value 5000": a last word of digits is the time-out.
Step ScriptReader::ParseExpect(const std::string& argument) {
    std::string lead = argument;
    int milliseconds = kDefaultExpectMs;
    const std::string::size_type blank = argument.find_last_of(kBlanks);
    if (blank != std::string::npos &&
        argument.find_first_not_of("0123456789", blank + 1) == std::string::npos) {
        lead = Trim(argument.substr(0, blank));
        milliseconds = Number(argument.substr(blank + 1), "expect's time-out");
    }
    CheckLine(lead, "the lead pair");
    return Step{Step::Kind::kExpect, lineNumber_, lead, milliseconds};
}

Step ScriptReader::Command(const std::string& word, const std::string& argument) {
    enum class Where { kAnywhere, kScript, kKeyboard };
    struct Rule {
        const char* word;
        bool argument;
        Where where;
    };
    static constexpr Rule kRules[] = {
        {"send", true, Where::kAnywhere},    {"expect", true, Where::kScript},
        {"sleep", true, Where::kScript},     {"note", true, Where::kScript},
        {"close", false, Where::kAnywhere},  {"to", true, Where::kKeyboard},
        {"agents", false, Where::kKeyboard}, {"quit", false, Where::kKeyboard},
    };
    const Rule* rule = nullptr;
    for (const Rule& candidate : kRules) {
        rule = word == candidate.word ? &candidate : rule;
    }
    if (rule == nullptr) {
        Fail("unknown command '" + word + "'");
    }
    if (rule->argument == argument.empty()) {
        Fail(word + (rule->argument ? " needs an argument" : " takes no argument"));
    }
    if (rule->where == (keyboard_ ? Where::kScript : Where::kKeyboard)) {
        Fail(word + (keyboard_ ? " works only in a script file" : " works only at the keyboard"));
    }
    if (word == "send") {
        return ParseSend(argument);
    }
    if (word == "expect") {
        return ParseExpect(argument);
    }
    if (word == "sleep") {
        return Step{Step::Kind::kSleep, lineNumber_, {}, Number(argument, "sleep")};
    }
    if (word == "note") {
        return Step{Step::Kind::kNote, lineNumber_, argument, 0};
    }
    if (word == "to") {
        return Step{
            Step::Kind::kTarget, lineNumber_, {}, argument == "all" ? 0 : Number(argument, "to")};
    }
    const Step::Kind kind = word == "close"    ? Step::Kind::kClose
                            : word == "agents" ? Step::Kind::kList
                                               : Step::Kind::kQuit;
    return Step{kind, lineNumber_, {}, 0};
}

std::vector<Step> ScriptReader::Feed(const std::string& line) {
    ++lineNumber_;
    const std::string trimmed = Trim(line);
    std::vector<Step> done;
    if (trimmed.empty()) {
        if (open_) {
            done.push_back(std::move(*open_));
            open_.reset();
        }
        return done;
    }
    if (trimmed[0] == '#') {
        return done;
    }
    if (line[0] == ' ' || line[0] == '\t') {
        if (!open_) {
            Fail("an indented field line belongs under a send");
        }
        CheckLine(trimmed, "the field");
        open_->text += trimmed + "\n";
        return done;
    }
    if (open_) {
        done.push_back(std::move(*open_));
        open_.reset();
    }
    const auto [word, argument] = SplitWord(trimmed);
    Step step = Command(word, argument);
    if (step.kind == Step::Kind::kSend) {
        open_ = std::move(step);
    } else {
        done.push_back(std::move(step));
    }
    return done;
}

std::optional<Step> ScriptReader::Finish() {
    std::optional<Step> last = std::move(open_);
    open_.reset();
    return last;
}

std::vector<Step> ReadScriptFile(const std::string& path) {
    std::ifstream file(path);
    if (!file) {
        throw ScriptError("cannot read the script " + path + ": " + std::strerror(errno));
    }
    ScriptReader reader(path, false);
    std::vector<Step> steps;
    for (std::string line; std::getline(file, line);) {
        for (Step& step : reader.Feed(line)) {
            steps.push_back(std::move(step));
        }
    }
    if (std::optional<Step> last = reader.Finish()) {
        steps.push_back(std::move(*last));
    }
    return steps;
}

}  // namespace qxsim
