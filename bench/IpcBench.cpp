// Request/reply round trips per second over loopback through the agent's transports: the
// plain TCP transport is the baseline, the TLS channel over it is measured against it. Both
// talk to the same echo server of the tests (written directly on sockets and OpenSSL), which
// answers each request with a reply of the same size.

#include <benchmark/benchmark.h>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

#include "common/ipc/Aipc.h"
#include "tests/support/TestPeer.h"

namespace {

constexpr unsigned kTimeoutMs = 5000;

// Echoes fixed-size requests on one connection until the client closes it.
class EchoServer {
public:
    EchoServer(bool tls, std::size_t size)
        : thread_([this, tls, size] {
              try {
                  testsupport::PeerSocket socket = listener_.Accept();
                  tls ? ServeTls(std::move(socket), size) : ServePlain(std::move(socket), size);
              } catch (const std::runtime_error&) {
                  // The client closed: the run is over.
              }
          }) {}
    ~EchoServer() { thread_.join(); }

    int Port() const { return listener_.Port(); }

private:
    static void ServePlain(testsupport::PeerSocket socket, std::size_t size) {
        testsupport::PlainPeer session(std::move(socket));
        for (;;) {
            session.SendRaw(session.Receive(size));
        }
    }

    static void ServeTls(testsupport::PeerSocket socket, std::size_t size) {
        testsupport::Peer session(std::move(socket));
        if (!session.StartTls(testsupport::TestPki::Instance().ServerContext(true))) {
            return;
        }
        for (;;) {
            session.Queue(session.Receive(size));
            session.Flush();
        }
    }

    testsupport::TestServer listener_;
    std::thread thread_;
};

void RoundTrips(benchmark::State& state, bool tls) {
    const auto size = static_cast<std::size_t>(state.range(0));
    testsupport::TestPki::Instance();
    EchoServer server(tls, size);
    std::unique_ptr<ipc::CIPCInterface> transport = ipc::CIPCInterface::Create(ipc::IPCTYPE_TCP);
    transport->Connect("127.0.0.1", server.Port());
    if (tls) {
        transport = ipc::CIPCInterface::CreateEncrypted(ipc::IPCTYPE_SCHANNEL, transport);
    }
    const std::string request(size, 'q');
    std::string reply(size, '\0');
    for (auto _ : state) {
        transport->Write(request.data(), size, kTimeoutMs);
        for (std::size_t have = 0; have < size;) {
            have += transport->Read(reply.data() + have, size - have, kTimeoutMs);
        }
    }
    state.SetItemsProcessed(state.iterations());
    transport->Disconnect();
}

void BM_BaselinePlainRoundTrip(benchmark::State& state) {
    RoundTrips(state, false);
}
void BM_TlsRoundTrip(benchmark::State& state) {
    RoundTrips(state, true);
}

BENCHMARK(BM_BaselinePlainRoundTrip)->Arg(64)->Arg(4096)->UseRealTime();
BENCHMARK(BM_TlsRoundTrip)->Arg(64)->Arg(4096)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
