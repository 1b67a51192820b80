#include "common/ipc/ServerIdentity.h"

#include <algorithm>
#include <optional>
#include <sstream>

namespace ipc {
namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

std::string Trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos) {
        return "";
    }
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// One pin: 64 hex digits, with colons allowed between the byte pairs.
std::optional<KeyFingerprint> ReadPin(const std::string& text) {
    std::string digits = text;
    digits.erase(std::remove(digits.begin(), digits.end(), ':'), digits.end());
    KeyFingerprint pin{};
    if (digits.size() != 2 * pin.size()) {
        return std::nullopt;
    }
    for (std::size_t i = 0; i < pin.size(); ++i) {
        const int high = HexDigit(digits[2 * i]);
        const int low = HexDigit(digits[2 * i + 1]);
        if (high < 0 || low < 0) {
            return std::nullopt;
        }
        pin[i] = static_cast<unsigned char>(high * 16 + low);
    }
    return pin;
}

std::string DescribeChain(const std::vector<KeyFingerprint>& chain) {
    if (chain.empty()) {
        return "the server presented no key";
    }
    std::string text = "the server presented the key " + FingerprintText(chain.front());
    for (std::size_t i = 1; i < chain.size(); ++i) {
        text += (i == 1 ? " (its chain: " : ", ") + FingerprintText(chain[i]);
    }
    return text + (chain.size() > 1 ? ")" : "") + ", which matches no pin of ServerCertificatePins";
}

}  // namespace

std::string FingerprintText(const KeyFingerprint& fingerprint) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    for (const unsigned char byte : fingerprint) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0x0f];
    }
    return text;
}

std::string NameMismatch(const std::string& name) {
    return "the certificate is not for " + name + " (VerifyServerName)";
}

std::string CheckPinnedKeys(const std::string& pins, const std::vector<KeyFingerprint>& chain) {
    if (Trimmed(pins).empty()) {
        return "";
    }
    std::vector<KeyFingerprint> allowed;
    std::istringstream entries(pins);
    for (std::string entry; std::getline(entries, entry, ',');) {
        entry = Trimmed(entry);
        if (entry.empty()) {
            continue;
        }
        const std::optional<KeyFingerprint> pin = ReadPin(entry);
        if (!pin) {
            return "ServerCertificatePins holds \"" + entry +
                   "\", which is not a SHA-256 fingerprint (64 hex digits): every server key is "
                   "refused until it is corrected";
        }
        allowed.push_back(*pin);
    }
    const bool matched = std::any_of(chain.begin(), chain.end(), [&](const KeyFingerprint& key) {
        return std::find(allowed.begin(), allowed.end(), key) != allowed.end();
    });
    return matched ? "" : DescribeChain(chain);
}

}  // namespace ipc
