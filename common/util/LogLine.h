#pragma once

// The levels of the agent log. Every sink takes them as numbers: the process log
// (logging::CAgentLog), the agent's Log that toolboxes and handlers call, and the
// best-effort sink of the threads that must go on without a log file.
enum class LogLevel { Error = 0, Information = 1, Debug = 2 };

constexpr int LogLevelNumber(LogLevel level) {
    return static_cast<int>(level);
}

// Writes one line through sink, anything with a printf-style Log(level, format, ...). The
// line starts with the calling file's source name (its kSource) and the line of the call:
// in a file whose kSource is "QxAgent", WARDEX_LOG(*this, LogLevel::Debug, "Deleting queues")
// on line 142 writes "QxAgent:142 Deleting queues". format is a string literal.
#define WARDEX_LOG(sink, level, format, ...) \
    WARDEX_LOG_AT(sink, level, __LINE__, format __VA_OPT__(, ) __VA_ARGS__)

// The same with a line number of the caller's choosing, for the lines whose number is fixed
// so that administrators' filters keep matching wherever the call moves in its file.
#define WARDEX_LOG_AT(sink, level, line, format, ...) \
    (sink).Log(LogLevelNumber(level), "%s:%d " format, kSource, line __VA_OPT__(, ) __VA_ARGS__)
