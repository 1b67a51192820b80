#pragma once

#include <array>
#include <string>
#include <vector>

namespace ipc {

// The SHA-256 of a public key's DER SubjectPublicKeyInfo: what a pin names.
using KeyFingerprint = std::array<unsigned char, 32>;

// What the agent asks of its server's certificate beyond a chain to a trusted authority. The
// agent takes it from its settings and hands it to the TLS channel when the channel is made;
// the default asks nothing more.
struct ServerIdentityPolicy {
    // The name the certificate must carry in its subject alternative names: a DNS name, or
    // an IP address in its usual text form. Empty: no name is checked.
    std::string name;
    // Fingerprints of the keys the server may present, as 64 hex digits each (a colon may
    // stand between two digits of a byte pair), separated by commas. The server's key, or the
    // key of any certificate of its verified chain, must be one of them. Empty: any key.
    std::string pins;
};

// The fingerprint as 64 lower-case hex digits, the form a pin is written in.
std::string FingerprintText(const KeyFingerprint& fingerprint);

// Why a certificate is refused when its subject alternative names do not hold the name the
// policy asks for, in the same words on every platform.
std::string NameMismatch(const std::string& name);

// Why the keys of the server's verified chain (the server's own first) are refused under the
// pins; empty when one of them matches a pin, or when there are no pins. A pin text that does
// not read as fingerprints refuses every chain, so that a typo never turns pinning off.
std::string CheckPinnedKeys(const std::string& pins, const std::vector<KeyFingerprint>& chain);

}  // namespace ipc
