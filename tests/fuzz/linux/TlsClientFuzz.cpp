// Plays a server that answers the TLS client's hello with arbitrary bytes, cut into the
// pieces the first byte chooses, with the name check and a key pin asked for or not. The
// client must refuse or wait, never read outside its buffers; whatever it opens after a
// handshake stays within the buffer it was given.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "common/ipc/TlsEngine.h"

namespace {

constexpr char kPin[] = "0000000000000000000000000000000000000000000000000000000000000000";

ipc::ServerIdentityPolicy PolicyFor(std::uint8_t choice) {
    ipc::ServerIdentityPolicy policy;
    if (choice & 0x10) {
        policy.name = "server.example";
    }
    if (choice & 0x20) {
        policy.pins = kPin;
    }
    return policy;
}

// Drains the application bytes once the handshake is done; false when the session is over.
bool OpenAll(ipc::TlsEngine& engine) {
    unsigned char buffer[512];
    for (;;) {
        const ipc::TlsEngine::Opened opened = engine.Open(buffer, sizeof buffer);
        if (opened.count > sizeof buffer) {
            __builtin_trap();
        }
        if (opened.failed || opened.count == 0) {
            return !opened.failed;
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    // No authority is trusted, which spares loading the system's store for every input:
    // random bytes never make a chain that verifies anyway.
    static const bool noTrustStore = ::setenv("SSL_CERT_FILE", "/nonexistent", 1) == 0 &&
                                     ::setenv("SSL_CERT_DIR", "/nonexistent", 1) == 0;
    static_cast<void>(noTrustStore);
    const auto engine = ipc::NewTlsEngine(PolicyFor(data[0]));
    if (!engine->AcquireCredentials() || !engine->StartSession() ||
        engine->Handshake() != ipc::TlsEngine::Progress::kWantInput) {
        __builtin_trap();  // the client's hello needs no input
    }
    engine->TakeOutput();
    const std::size_t pieceSize = (data[0] & 0x0F) * 64 + 1;
    bool done = false;
    for (std::size_t at = 1; at < size; at += pieceSize) {
        engine->Feed(data + at, std::min(pieceSize, size - at));
        if (!done) {
            const auto progress = engine->Handshake();
            engine->TakeOutput();
            if (progress == ipc::TlsEngine::Progress::kFailed) {
                engine->Refusal();
                return 0;
            }
            done = progress == ipc::TlsEngine::Progress::kDone;
        }
        if (done && !OpenAll(*engine)) {
            return 0;
        }
    }
    engine->CloseNotify();
    return 0;
}
