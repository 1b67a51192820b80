#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace qxsim {

// One step of a session script, or one command typed at the keyboard.
struct Step {
    enum class Kind {
        kSend,    // send the message in text
        kExpect,  // wait for a message whose lead pair is lead (name=value), up to milliseconds
        kSleep,   // wait milliseconds, still printing what arrives
        kNote,    // print text in the transcript, to say what a step means
        kClose,   // close the connection
        kTarget,  // keyboard only: later sends go to agent number target (0: every agent)
        kList,    // keyboard only: list the connected agents
        kQuit,    // keyboard only: stop the simulator
    };
    Kind kind;
    int line = 0;      // where the step starts in its source
    std::string text;  // kSend: the message's text form; kExpect: the lead line; kNote: it
    int number = 0;    // kExpect, kSleep: milliseconds; kTarget: agent number
};

// A script or keyboard line that does not follow the language; what() names the source and
// the line, for example "session.qxs:3: unknown command 'sned'".
class ScriptError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Reads the script language line by line:
//
//   # a comment
//   expect Request=CreateSession 10000   wait for that lead pair (time-out in ms, optional);
//                                        one that came earlier and no expect took counts
//   send Request=GetState                a message: its lead line...
//     State=Specific                     ...and its fields, indented; a blank line, the
//     Task-Type=                         next command or the end of the input ends it
//   sleep 500
//   note no toolbox takes it             a line for the reader of the transcript
//   close
//
// The keyboard also takes "to N" / "to all", "agents" and "quit".
class ScriptReader {
public:
    // keyboard: the source is a person typing (allows to, agents and quit; refuses expect
    // and sleep, which only make sense in a session of their own).
    ScriptReader(std::string source, bool keyboard);

    // Takes the next line; returns the steps that the line completed (a command line can end
    // an open send and be a step itself). Throws ScriptError; after an error the reader
    // starts afresh with the next line.
    std::vector<Step> Feed(const std::string& line);
    // The end of the input: returns the step still open, if any.
    std::optional<Step> Finish();

    static constexpr int kDefaultExpectMs = 10000;

private:
    [[noreturn]] void Fail(const std::string& what);
    Step Command(const std::string& word, const std::string& argument);
    Step ParseSend(const std::string& argument);
    Step ParseExpect(const std::string& argument);
    int Number(const std::string& text, const char* what);
    void CheckLine(const std::string& line, const char* what);

    std::string source_;
    bool keyboard_;
    int lineNumber_ = 0;
    std::optional<Step> open_;  // a send whose fields may still follow
};

// All steps of a script file. Throws ScriptError (a file that cannot be read too).
std::vector<Step> ReadScriptFile(const std::string& path);

}  // namespace qxsim
