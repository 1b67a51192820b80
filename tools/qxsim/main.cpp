// qxsim: a management-server simulator for administrators and toolbox authors.

#include <signal.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <sys/signalfd.h>

#include "tools/qxsim/Certificates.h"
#include "tools/qxsim/Options.h"
#include "tools/qxsim/Printer.h"
#include "tools/qxsim/Script.h"
#include "tools/qxsim/Server.h"

namespace {

// SIGINT and SIGTERM are blocked in every thread (the threads inherit the mask) and read from
// a signalfd by the server's poll. SIGPIPE is ignored: a write to an agent that has gone
// fails with EPIPE instead.
sys::FileDescriptor TakeOverSignals() {
    sigset_t stopping;
    sigemptyset(&stopping);
    sigaddset(&stopping, SIGINT);
    sigaddset(&stopping, SIGTERM);
    if (::pthread_sigmask(SIG_BLOCK, &stopping, nullptr) != 0) {
        throw std::runtime_error("cannot block SIGINT and SIGTERM");
    }
    ::signal(SIGPIPE, SIG_IGN);
    sys::FileDescriptor signals(::signalfd(-1, &stopping, SFD_CLOEXEC));
    if (!signals) {
        throw std::runtime_error(std::string("signalfd: ") + std::strerror(errno));
    }
    return signals;
}

std::unique_ptr<qxsim::TlsContext> MakeTls(const qxsim::Options& options, qxsim::Printer& printer) {
    std::unique_ptr<qxsim::TlsContext> tls;
    if (!options.certificate.empty()) {
        printer.Note("TLS with the certificate " + options.certificate);
        tls = qxsim::TlsContext::FromFiles(options.certificate, options.key);
    } else {
        tls = qxsim::TlsContext::Generated(options.caOut, options.presented);
        printer.Note("certificate authority of this run: " + tls->CaFile() +
                     " (for the agent: export SSL_CERT_FILE=" + tls->CaFile() + ")");
    }
    if (options.presented == qxsim::Presented::kWrongName) {
        printer.Note("presenting a certificate for wrong-name.invalid only");
    }
    if (!tls->RightPin().empty()) {
        printer.Note("the right certificate's key pin (not presented): " + tls->RightPin());
    }
    printer.Note("key pin of the certificate presented: " + tls->PresentedPin());
    return tls;
}

}  // namespace

int main(int argc, char** argv) {
    qxsim::Printer printer;
    qxsim::Options options;
    std::vector<qxsim::Step> script;
    try {
        options = qxsim::ParseOptions(argc, argv);
        if (options.help) {
            std::fputs(qxsim::kUsage, stdout);
            return 0;
        }
        if (!options.script.empty()) {
            script = qxsim::ReadScriptFile(options.script);
        }
    } catch (const std::exception& error) {
        printer.Error(error.what());
        return 2;
    }
    qxsim::Printer served(options.timestamps);
    try {
        sys::FileDescriptor signals = TakeOverSignals();
        std::unique_ptr<qxsim::TlsContext> tls = MakeTls(options, served);
        const qxsim::SessionSetup setup{script, options.session, *tls, served};
        qxsim::Server server(options, setup, std::move(signals));
        return server.Run();
    } catch (const std::exception& error) {
        served.Error(error.what());
        return 1;
    }
}
