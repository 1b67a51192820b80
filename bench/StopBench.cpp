// How long a stop takes from each state of the service: the real program started as the
// service, brought into the state, sent SIGTERM, and timed until its process has ended. The
// baseline is the stop of an idle session ("reading"), measured in the same run; every state
// is measured three times and reported by its median.

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "tests/service/linux/ServiceTestSupport.h"

namespace {

using Clock = std::chrono::steady_clock;
using servicetest::ServiceWorld;
using servicetest::StopState;

constexpr int kRuns = 3;
// systemd's default stop time-out: a stop that takes longer is ended by force.
constexpr std::chrono::milliseconds kStopLimit{90000};

// Milliseconds from SIGTERM to the end of the process; -1 when it did not end in time or
// ended with another exit code than 0.
double StopMilliseconds(const StopState& state) {
    ServiceWorld world;
    std::unique_ptr<testsupport::ChildProcess> service;
    const servicetest::Reached reached =
        state.reach(world, [&] { service = world.StartService(); });
    const Clock::time_point signalled = Clock::now();
    service->Signal(SIGTERM);
    const std::optional<int> exitCode = service->WaitForExit(kStopLimit);
    const std::chrono::duration<double, std::milli> taken = Clock::now() - signalled;
    return exitCode == 0 ? taken.count() : -1;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main() {
    try {
        std::vector<std::pair<std::string, double>> figures;
        double baseline = 0;
        for (const StopState& state : servicetest::StopStates()) {
            std::vector<double> runs;
            for (int run = 0; run < kRuns; ++run) {
                runs.push_back(StopMilliseconds(state));
            }
            const bool failed =
                std::any_of(runs.begin(), runs.end(), [](double ms) { return ms < 0; });
            figures.emplace_back(state.name, failed ? -1 : Median(runs));
            if (std::string(state.name) == "reading") {
                baseline = figures.back().second;
            }
        }
        std::printf("%-44s %10s %8s\n", "stop from", "median ms", "ratio");
        for (const auto& [name, ms] : figures) {
            if (ms < 0) {
                std::printf("%-44s %10s %8s\n", name.c_str(), "NO STOP", "-");
            } else {
                std::printf("%-44s %10.0f %8.1f\n", name.c_str(), ms, ms / baseline);
            }
        }
        const bool allStopped = std::none_of(figures.begin(), figures.end(),
                                             [](const auto& f) { return f.second < 0; });
        std::printf("target: every state stops with exit 0 within %lld s ... %s\n",
                    static_cast<long long>(kStopLimit.count() / 1000),
                    allStopped ? "met" : "MISSED");
        return allStopped ? 0 : 1;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "stop_bench: %s\n", error.what());
        return 2;
    }
}
