// Parsing and rebuilding a typical server message, against a baseline that only copies the
// same text and splits it into lines.

#include <benchmark/benchmark.h>
#include <string>
#include <string_view>
#include <vector>

#include "common/msg/QXMessage.h"

namespace {

const std::string kTypicalMessage =
    "Request=SetState\n"
    "ID=4711\n"
    "Server-Name=mgmt01.corvane.example\n"
    "QXVersion=6.8.282\n"
    "Request-Type=Task\n"
    "Task-Sequence-ID=90210\n"
    "Task-Type=7\n"
    "Schedule-ID=12\n"
    "Status-Code=0\n"
    "Config=deploy-office-2026\n"
    "Encrypted=Yes\n";

void BM_BaselineCopyAndSplitLines(benchmark::State& state) {
    std::vector<std::string_view> lines;
    for (auto _ : state) {
        const std::string copy = kTypicalMessage;
        lines.clear();
        std::string_view rest = copy;
        while (!rest.empty()) {
            const auto end = rest.find('\n');
            lines.push_back(rest.substr(0, end));
            rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
        }
        benchmark::DoNotOptimize(lines.data());
    }
}
BENCHMARK(BM_BaselineCopyAndSplitLines);

void BM_ParseMessage(benchmark::State& state) {
    msg::CQXMessage message;
    for (auto _ : state) {
        message.Assign(kTypicalMessage);
        benchmark::DoNotOptimize(message.GetFields());
    }
}
BENCHMARK(BM_ParseMessage);

void BM_ParseAndRebuildMessage(benchmark::State& state) {
    msg::CQXMessage message;
    for (auto _ : state) {
        message.Assign(kTypicalMessage);
        benchmark::DoNotOptimize(message.GetText());
    }
}
BENCHMARK(BM_ParseAndRebuildMessage);

}  // namespace

BENCHMARK_MAIN();
