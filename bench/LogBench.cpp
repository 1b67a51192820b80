// Lines per second through the agent's file log, which opens, appends to and closes its file
// for every line, against a baseline that does only that open, append and close with a fixed
// line and no header, formatting, level check or size check.

#include <stdlib.h>

#include <benchmark/benchmark.h>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "agent/log/AgentLog.h"
#include "agent/log/FileLog.h"

namespace {

// A scratch log file, removed when the benchmark ends.
class ScratchLog {
public:
    ScratchLog() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "wardex-logbench-XXXXXX").string();
        folder_ = ::mkdtemp(pattern.data());
    }
    ~ScratchLog() {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }
    std::string Path() const { return (folder_ / "agent.log").string(); }

private:
    std::filesystem::path folder_;
};

const std::string kFixedLine = "[12/06/26 02:14:39.123 4242 1] LogBench:10 - line 12345 of the run";

void BM_BaselineOpenAppendClose(benchmark::State& state) {
    ScratchLog log;
    for (auto _ : state) {
        std::ofstream file(log.Path(), std::ios::out | std::ios::app);
        file << kFixedLine << '\n';
    }
    state.SetItemsProcessed(state.iterations());
}

// The agent's own path: header, printf formatting, level check, append, size check. The
// limit is far above what a run writes, so no truncation happens.
void BM_AgentLogLine(benchmark::State& state) {
    static ScratchLog log;
    logging::CAgentLog* agentLog = logging::CAgentLog::GetInstance();
    agentLog->InitializeFileLog(true, true, true, log.Path(), 1u << 30);
    std::filesystem::remove(log.Path());  // the next line creates it again
    int line = 0;
    for (auto _ : state) {
        agentLog->Log(1, "%s:%d - line %d of the run", "LogBench", 10, ++line);
    }
    state.SetItemsProcessed(state.iterations());
}

// The same with a 64 KiB limit, so that every few hundred lines 13 KiB are cut from the front.
void BM_FileLogLineWithTruncation(benchmark::State& state) {
    ScratchLog log;
    constexpr std::uint32_t kLimit = 64 * 1024;
    logging::CFileLog fileLog(true, true, true, log.Path(), kLimit, kLimit / 5);
    int line = 0;
    for (auto _ : state) {
        logging::LogHeader header;
        header.Stamp(1);
        fileLog.Log(header, header.Text() + std::to_string(++line) + " LogBench:10 - a line");
    }
    state.SetItemsProcessed(state.iterations());
}

// A level whose flag is off: only the header and the size check remain.
void BM_FileLogFilteredLine(benchmark::State& state) {
    ScratchLog log;
    logging::CFileLog fileLog(true, false, false, log.Path(), 1u << 30, 1u << 28);
    for (auto _ : state) {
        logging::LogHeader header;
        header.Stamp(2);
        fileLog.Log(header, header.Text() + "LogBench:10 - debug detail");
    }
    state.SetItemsProcessed(state.iterations());
}

BENCHMARK(BM_BaselineOpenAppendClose);
BENCHMARK(BM_AgentLogLine);
BENCHMARK(BM_FileLogLineWithTruncation);
BENCHMARK(BM_FileLogFilteredLine);

}  // namespace

BENCHMARK_MAIN();
