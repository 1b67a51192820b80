// Request/reply messages through a real agent (its input and output threads, a worker thread
// per message and the session toolbox's echo) against a raw echo peer that answers every byte
// straight back, the physical limit of the exchange, and against a hand-off echo that answers
// every message from a thread of its own and does nothing else, the limit for any peer that
// runs each message on a thread (HandOffEcho.h). The peers run as processes of their own
// (agent_bench_peer) and talk to the same client here, pipelined with 64 messages in flight
// and one at a time. The agent runs with the toolbox as it is usually built, which the
// dispatcher loads and frees around every message, and with the same toolbox built to stay
// loaded once loaded (linked with -z nodelete), which leaves the agent's own cost. A last run
// reads the agent process's resident memory and thread count at idle and during a burst of
// 10,000 messages.

#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <vector>

#include "agent/store/Settings.h"
#include "tests/support/TestPeer.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kWindow = 64;
constexpr int kBatch = 2000;
constexpr int kBurst = 10000;
constexpr auto kIdleSettle = std::chrono::milliseconds(300);

enum class Mode { kRawEcho, kHandOffEcho, kAgent, kAgentResidentToolbox };

// A temporary system root whose settings name the benchmark's listener.
class BenchRoot {
public:
    explicit BenchRoot(int port) {
        std::string pattern = std::filesystem::temp_directory_path() / "wardex-bench-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("cannot make a temporary root");
        }
        path_ = pattern;
        ::setenv("CORVANE_ROOT", path_.c_str(), 1);
        const CSettings settings;
        settings.SetSetting("TcpAddr", "127.0.0.1");
        settings.SetSetting("TcpPort", std::to_string(port));
        settings.SetSetting("TestConnectionEvery", "60");
    }
    ~BenchRoot() {
        ::unsetenv("CORVANE_ROOT");
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }

private:
    std::string path_;
};

// The words of a command line separated by spaces.
std::vector<std::string> Words(const std::string& line) {
    std::istringstream stream(line);
    return {std::istream_iterator<std::string>(stream), std::istream_iterator<std::string>()};
}

bool IsAgent(Mode mode) {
    return mode == Mode::kAgent || mode == Mode::kAgentResidentToolbox;
}

// Another agent than this build's, such as the Windows build's under Wine: a bash command line
// that points the agent at the port in WARDEX_BENCH_PORT and runs it for one session.
const char* OutsideAgent() {
    return std::getenv("WARDEX_BENCH_AGENT_COMMAND");
}

// The command line of the far end, which connects to port.
std::vector<std::string> PeerCommand(Mode mode, const std::string& port) {
    if (IsAgent(mode) && OutsideAgent()) {
        ::setenv("WARDEX_BENCH_PORT", port.c_str(), 1);
        return {"bash", "-c", OutsideAgent()};
    }
    std::vector<std::string> args;
    // A profiler to run the agent under, e.g. "perf stat -o costs.txt".
    if (const char* prefix = std::getenv("WARDEX_BENCH_AGENT_PREFIX"); IsAgent(mode) && prefix) {
        args = Words(prefix);
    }
    if (IsAgent(mode)) {
        const char* toolbox =
            mode == Mode::kAgent ? WARDEX_BENCH_TOOLBOX : WARDEX_BENCH_RESIDENT_TOOLBOX;
        args.insert(args.end(), {WARDEX_BENCH_PEER, "agent", toolbox});
    } else {
        args.insert(args.end(),
                    {WARDEX_BENCH_PEER, mode == Mode::kRawEcho ? "echo" : "handoff", port});
    }
    return args;
}

// The far end as a process of its own, connected to this program's listener.
class Peer {
public:
    explicit Peer(Mode mode) {
        const bool agent = IsAgent(mode);
        if (agent && !OutsideAgent()) {
            root_ = std::make_unique<BenchRoot>(listener_.Port());
        }
        std::vector<std::string> args = PeerCommand(mode, listener_.PortText());
        std::vector<char*> argv;
        for (std::string& arg : args) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);
        if (::posix_spawnp(&pid_, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
            throw std::runtime_error("cannot start agent_bench_peer");
        }
        server_ = std::make_unique<testsupport::Peer>(listener_.Accept());
        if (agent && server_->Next().find("Request=CreateSession") != 0) {
            throw std::runtime_error("the agent did not ask for a session");
        }
    }
    ~Peer() {
        server_.reset();
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }

    testsupport::Peer& Server() { return *server_; }

    // A value of /proc/<pid>/status in its unit (kB for memory); 0 when missing.
    long Status(const std::string& name) const {
        std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
        std::string line;
        while (std::getline(status, line)) {
            if (line.rfind(name + ":", 0) == 0) {
                return std::atol(line.c_str() + name.size() + 1);
            }
        }
        return 0;
    }

private:
    testsupport::TestServer listener_;
    std::unique_ptr<BenchRoot> root_;
    pid_t pid_ = 0;
    std::unique_ptr<testsupport::Peer> server_;
};

std::string Message(int tag) {
    return testsupport::Request("Echo", "Tag=" + std::to_string(tag) + "\n");
}

int TagOf(std::string_view reply) {
    const std::size_t at = reply.find("Tag=");
    return at == std::string_view::npos ? -1 : std::atoi(reply.data() + at + 4);
}

// The client's side on the bare socket, cheap per message so that the raw echo peer's rate
// is the wire's and not the client's: the requests due at once go out in one write, and the
// replies are read 64 KiB at a time and cut at their zero bytes in place.
class Client {
public:
    Client(int socket, int count) : socket_(socket) {
        // The test peer's sockets do not block; here a blocking call saves a poll per call.
        ::fcntl(socket, F_SETFL, ::fcntl(socket, F_GETFL) & ~O_NONBLOCK);
        for (int tag = 0; tag < count; ++tag) {
            requests_.push_back(Message(tag) + '\0');
        }
    }

    // Every request once, with at most window unanswered; appends each one's latency in
    // microseconds.
    void Exchange(int window, std::vector<double>& latencies) {
        const int count = static_cast<int>(requests_.size());
        sent_.assign(requests_.size(), Clock::now());
        next_ = 0;
        while (next_ < std::min(window, count)) {
            Queue(sent_[0]);
        }
        for (int received = 0; received < count;) {
            SendQueued();
            received += ReadReplies(latencies);
        }
    }

private:
    void Queue(Clock::time_point now) {
        sent_[static_cast<std::size_t>(next_)] = now;
        out_ += requests_[static_cast<std::size_t>(next_)];
        ++next_;
    }

    void SendQueued() {
        for (std::size_t done = 0; done < out_.size();) {
            const ssize_t sent = ::send(socket_, out_.data() + done, out_.size() - done, 0);
            if (sent <= 0) {
                throw std::runtime_error("the peer does not take the requests");
            }
            done += static_cast<std::size_t>(sent);
        }
        out_.clear();
    }

    // One read; each whole reply found queues the next request.
    int ReadReplies(std::vector<double>& latencies) {
        const ssize_t count = ::recv(socket_, chunk_.data(), chunk_.size(), 0);
        if (count <= 0) {
            throw std::runtime_error("the peer closed the connection");
        }
        in_.append(chunk_.data(), static_cast<std::size_t>(count));
        const Clock::time_point now = Clock::now();
        int replies = 0;
        std::size_t start = 0;
        for (std::size_t end; (end = in_.find('\0', start)) != std::string::npos; start = end + 1) {
            const int tag = TagOf(std::string_view(in_).substr(start, end - start));
            if (tag < 0 || tag >= static_cast<int>(sent_.size())) {
                throw std::runtime_error("a reply without its tag");
            }
            latencies.push_back(std::chrono::duration<double, std::micro>(
                                    now - sent_[static_cast<std::size_t>(tag)])
                                    .count());
            ++replies;
            if (next_ < static_cast<int>(requests_.size())) {
                Queue(now);
            }
        }
        in_.erase(0, start);
        return replies;
    }

    int socket_;
    std::vector<std::string> requests_;
    std::vector<Clock::time_point> sent_;
    int next_ = 0;
    std::string out_;
    std::string in_;
    std::vector<char> chunk_ = std::vector<char>(65536);
};

double Percentile(std::vector<double> values, double fraction) {
    if (values.empty()) {
        return 0;
    }
    const auto at = static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1));
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(at),
                     values.end());
    return values[at];
}

void Run(benchmark::State& state, Mode mode, int batch, int window) {
    Peer peer(mode);
    Client client(peer.Server().Socket(), batch);
    std::vector<double> latencies;
    for (auto _ : state) {
        client.Exchange(window, latencies);
    }
    state.SetItemsProcessed(state.iterations() * batch);
    state.counters["p50_us"] = Percentile(latencies, 0.50);
    state.counters["p99_us"] = Percentile(latencies, 0.99);
}

void BM_Baseline_RawEchoPipelined(benchmark::State& state) {
    Run(state, Mode::kRawEcho, kBatch, kWindow);
}
void BM_HandOffEchoPipelined(benchmark::State& state) {
    Run(state, Mode::kHandOffEcho, kBatch, kWindow);
}
void BM_AgentPipelined(benchmark::State& state) {
    Run(state, Mode::kAgent, kBatch, kWindow);
}
void BM_AgentPipelinedResidentToolbox(benchmark::State& state) {
    Run(state, Mode::kAgentResidentToolbox, kBatch, kWindow);
}
void BM_RawEchoOneAtATime(benchmark::State& state) {
    Run(state, Mode::kRawEcho, 1, 1);
}
void BM_AgentOneAtATime(benchmark::State& state) {
    Run(state, Mode::kAgent, 1, 1);
}
void BM_AgentOneAtATimeResidentToolbox(benchmark::State& state) {
    Run(state, Mode::kAgentResidentToolbox, 1, 1);
}

// Idle: the session is open and nothing has been sent for a while. Peak: the highest thread
// count seen and the high-water mark of resident memory while a burst of kBurst messages
// is sent in one stream and answered.
void BM_AgentFootprint(benchmark::State& state) {
    Peer peer(Mode::kAgent);
    std::this_thread::sleep_for(kIdleSettle);
    state.counters["idle_rss_kib"] = static_cast<double>(peer.Status("VmRSS"));
    state.counters["idle_threads"] = static_cast<double>(peer.Status("Threads"));
    std::atomic<bool> done{false};
    std::atomic<long> peakThreads{0};
    std::thread sampler([&] {
        while (!done) {
            peakThreads = std::max(peakThreads.load(), peer.Status("Threads"));
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    for (auto _ : state) {
        std::string burst;
        for (int tag = 0; tag < kBurst; ++tag) {
            burst += Message(tag) + '\0';
        }
        std::thread sender([&] { peer.Server().SendRaw(burst); });
        for (int received = 0; received < kBurst; ++received) {
            peer.Server().Next();
        }
        sender.join();
    }
    done = true;
    sampler.join();
    state.counters["peak_rss_kib"] = static_cast<double>(peer.Status("VmHWM"));
    state.counters["peak_threads"] = static_cast<double>(peakThreads.load());
    state.SetItemsProcessed(state.iterations() * kBurst);
}

BENCHMARK(BM_Baseline_RawEchoPipelined)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_HandOffEchoPipelined)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_AgentPipelined)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_AgentPipelinedResidentToolbox)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RawEchoOneAtATime)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_AgentOneAtATime)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_AgentOneAtATimeResidentToolbox)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_AgentFootprint)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
