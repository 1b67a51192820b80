#include "tools/qxsim/Options.h"

#include <charconv>
#include <string_view>

namespace qxsim {

const char kUsage[] =
    "usage: qxsim [options]\n"
    "A management server for trying out the agent and its toolboxes: accepts agents, prints\n"
    "every message in and out, and sends messages from a script and from the keyboard.\n"
    "  --address=A       listen on address A (default 127.0.0.1)\n"
    "  --port=N          listen on port N (default 4040; 0 takes any free port)\n"
    "  --script=FILE     run FILE for every agent that connects\n"
    "  --stdin           read commands from standard input too (the default without --script)\n"
    "  --cert=FILE --key=FILE\n"
    "                    the server certificate (PEM, with its chain) and its key for TLS;\n"
    "                    without them a certificate authority is made for the run\n"
    "  --ca-out=FILE     write the authority made for the run to FILE\n"
    "  --present=WHICH   the certificate from that authority: right (the default), wrong-name\n"
    "                    (for another name), wrong-key (the right names, another key)\n"
    "  --session=MODE    answer CreateSession: accept (then TLS, the default), refuse, ignore\n"
    "  --exit-after=N    stop once N agents have connected and gone\n"
    "  --timestamps      begin every line with the time in seconds since 1970 (to the ms)\n"
    "  --help            this text\n"
    "Ctrl-C stops the simulator.\n";

namespace {

int Number(std::string_view option, std::string_view text, int low, int high) {
    int value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || stop != end || value < low || value > high) {
        throw UsageError(std::string(option) + " needs a number from " + std::to_string(low) +
                         " to " + std::to_string(high) + ", not '" + std::string(text) + "'");
    }
    return value;
}

SessionMode Mode(std::string_view text) {
    if (text == "accept") {
        return SessionMode::kAccept;
    }
    if (text == "refuse") {
        return SessionMode::kRefuse;
    }
    if (text == "ignore") {
        return SessionMode::kIgnore;
    }
    throw UsageError("--session takes accept, refuse or ignore, not '" + std::string(text) + "'");
}

Presented Certificate(std::string_view text) {
    if (text == "right") {
        return Presented::kRight;
    }
    if (text == "wrong-name") {
        return Presented::kWrongName;
    }
    if (text == "wrong-key") {
        return Presented::kWrongKey;
    }
    throw UsageError("--present takes right, wrong-name or wrong-key, not '" + std::string(text) +
                     "'");
}

void Apply(Options& options, std::string_view name, std::string_view value) {
    if (name == "--address") {
        options.address = value;
    } else if (name == "--port") {
        options.port = Number(name, value, 0, 65535);
    } else if (name == "--script") {
        options.script = value;
    } else if (name == "--cert") {
        options.certificate = value;
    } else if (name == "--key") {
        options.key = value;
    } else if (name == "--ca-out") {
        options.caOut = value;
    } else if (name == "--present") {
        options.presented = Certificate(value);
    } else if (name == "--session") {
        options.session = Mode(value);
    } else if (name == "--exit-after") {
        options.exitAfter = Number(name, value, 0, 1000000);
    } else {
        throw UsageError("unknown option " + std::string(name) + " (see --help)");
    }
}

}  // namespace

Options ParseOptions(int argc, const char* const* argv) {
    Options options;
    bool stdinAsked = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--help" || argument == "-h") {
            options.help = true;
        } else if (argument == "--stdin") {
            stdinAsked = true;
        } else if (argument == "--timestamps") {
            options.timestamps = true;
        } else if (const auto equals = argument.find('='); equals != std::string_view::npos) {
            Apply(options, argument.substr(0, equals), argument.substr(equals + 1));
        } else {
            throw UsageError("unknown option " + std::string(argument) + " (see --help)");
        }
    }
    if (options.certificate.empty() != options.key.empty()) {
        throw UsageError("--cert and --key go together");
    }
    if (!options.certificate.empty() && options.presented != Presented::kRight) {
        throw UsageError("--present needs the authority made for the run, not --cert");
    }
    options.keyboard = stdinAsked || options.script.empty();
    return options;
}

}  // namespace qxsim
