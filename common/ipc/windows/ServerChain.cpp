#include "common/ipc/windows/ServerChain.h"

// clang-format off
#include <windows.h>
#include <wincrypt.h>
#include <wininet.h>
#include <schannel.h>
#include <bcrypt.h>
// clang-format on

#include <cstdio>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/sys/windows/Owned.h"
#include "common/sys/windows/SystemMessage.h"

namespace ipc::win {
namespace {

using Certificate = sys::win::Owned<PCCERT_CONTEXT, ::CertFreeCertificateContext>;
using Chain = sys::win::Owned<PCCERT_CHAIN_CONTEXT, ::CertFreeCertificateChain>;
using LocalMemory = sys::win::Owned<HLOCAL, ::LocalFree>;

TlsEngine::Failure Refused(unsigned long status, const std::string& what) {
    return {status, what + ": " + sys::win::SystemMessage(static_cast<std::uint32_t>(status))};
}

// The chain from the server's certificate to a root, with the certificates the server sent
// as the place to look for the intermediate ones; for server authentication.
Chain BuildChain(PCCERT_CONTEXT certificate) {
    char serverAuth[] = szOID_PKIX_KP_SERVER_AUTH;
    LPSTR usages[] = {serverAuth};
    CERT_CHAIN_PARA parameters{};
    parameters.cbSize = sizeof parameters;
    parameters.RequestedUsage.dwType = USAGE_MATCH_TYPE_OR;
    parameters.RequestedUsage.Usage.cUsageIdentifier = 1;
    parameters.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
    Chain chain;
    ::CertGetCertificateChain(nullptr, certificate, nullptr, certificate->hCertStore, &parameters,
                              0, nullptr, chain.Put());
    return chain;
}

std::wstring Utf16(const std::string& text) {
    const int size = static_cast<int>(text.size());
    std::wstring wide(static_cast<std::size_t>(size), L'\0');
    wide.resize(static_cast<std::size_t>(
        ::MultiByteToWideChar(CP_UTF8, 0, text.data(), size, wide.data(), size)));
    return wide;
}

// What the chain engine found wrong with the chain, in words, for the refusal line: an
// administrator can tell an unknown authority from an expired certificate.
std::string TrustErrors(DWORD status) {
    static constexpr std::pair<DWORD, const char*> kErrors[] = {
        {CERT_TRUST_IS_UNTRUSTED_ROOT, "untrusted root"},
        {CERT_TRUST_IS_PARTIAL_CHAIN, "no chain to a root"},
        {CERT_TRUST_IS_NOT_TIME_VALID, "outside its validity"},
        {CERT_TRUST_IS_NOT_SIGNATURE_VALID, "bad signature"},
        {CERT_TRUST_IS_NOT_VALID_FOR_USAGE, "not for server authentication"},
        {CERT_TRUST_IS_REVOKED, "revoked"},
    };
    std::string words;
    for (const auto& [flag, text] : kErrors) {
        if ((status & flag) != 0) {
            words += (words.empty() ? "" : ", ") + std::string(text);
            status &= ~flag;
        }
    }
    if (status != 0) {
        char rest[32];
        std::snprintf(rest, sizeof rest, "%strust status 0x%lx", words.empty() ? "" : ", ",
                      static_cast<unsigned long>(status));
        words += rest;
    }
    return words;
}

// The system's SSL policy over the chain: the server's name in the certificate's subject
// alternative names when name is set, else no name at all.
TlsEngine::Failure CheckSslPolicy(PCCERT_CHAIN_CONTEXT chain, const std::string& name) {
    std::wstring serverName = Utf16(name);
    SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{};
    ssl.cbSize = sizeof ssl;
    ssl.dwAuthType = AUTHTYPE_SERVER;
    ssl.fdwChecks = name.empty() ? SECURITY_FLAG_IGNORE_CERT_CN_INVALID : 0;
    ssl.pwszServerName = name.empty() ? nullptr : serverName.data();
    CERT_CHAIN_POLICY_PARA policy{};
    policy.cbSize = sizeof policy;
    policy.pvExtraPolicyPara = &ssl;
    CERT_CHAIN_POLICY_STATUS verdict{};
    verdict.cbSize = sizeof verdict;
    if (!::CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &verdict)) {
        return Refused(::GetLastError(), "the SSL policy could not be checked");
    }
    if (verdict.dwError == static_cast<DWORD>(CERT_E_CN_NO_MATCH)) {
        return Refused(verdict.dwError, NameMismatch(name));
    }
    if (verdict.dwError != 0) {
        return Refused(verdict.dwError, "the system does not trust the server's chain");
    }
    return {};
}

// The SHA-256 of the certificate's SubjectPublicKeyInfo, encoded again in DER from its parts
// (the bytes a pin is taken of); nothing when the system cannot make it.
std::optional<KeyFingerprint> FingerprintOf(PCCERT_CONTEXT certificate) {
    LocalMemory encoded;
    DWORD size = 0;
    if (!::CryptEncodeObjectEx(X509_ASN_ENCODING, X509_PUBLIC_KEY_INFO,
                               &certificate->pCertInfo->SubjectPublicKeyInfo,
                               CRYPT_ENCODE_ALLOC_FLAG, nullptr, encoded.Put(), &size)) {
        return std::nullopt;
    }
    KeyFingerprint fingerprint{};
    DWORD length = fingerprint.size();
    const bool hashed = ::CryptHashCertificate2(BCRYPT_SHA256_ALGORITHM, 0, nullptr,
                                                static_cast<const BYTE*>(encoded.Get()), size,
                                                fingerprint.data(), &length);
    return hashed && length == fingerprint.size() ? std::optional(fingerprint) : std::nullopt;
}

// The pins over the keys of the chain the system verified, the server's own first.
TlsEngine::Failure CheckPins(PCCERT_CHAIN_CONTEXT chain, const std::string& pins) {
    std::vector<KeyFingerprint> keys;
    const CERT_SIMPLE_CHAIN& simple = *chain->rgpChain[0];
    for (DWORD i = 0; i < simple.cElement; ++i) {
        if (const auto key = FingerprintOf(simple.rgpElement[i]->pCertContext)) {
            keys.push_back(*key);
        }
    }
    std::string refusal = CheckPinnedKeys(pins, keys);
    if (refusal.empty()) {
        return {};
    }
    return {static_cast<unsigned long>(TRUST_E_EXPLICIT_DISTRUST), std::move(refusal)};
}

}  // namespace

TlsEngine::Failure CheckServerChain(PCtxtHandle context, const ServerIdentityPolicy& policy) {
    Certificate certificate;
    const SECURITY_STATUS status =
        ::QueryContextAttributesA(context, SECPKG_ATTR_REMOTE_CERT_CONTEXT, certificate.Put());
    if (status != SEC_E_OK || !certificate) {
        return Refused(status != SEC_E_OK ? status : SEC_E_CERT_UNKNOWN,
                       "the server presented no certificate");
    }
    const Chain chain = BuildChain(certificate.Get());
    if (!chain) {
        return Refused(::GetLastError(), "the system built no chain");
    }
    // The chain engine's own verdict first: the SSL policy of Wine, in a prefix whose root
    // store is still being filled, has passed a chain to an unknown root.
    if (const DWORD status = chain.Get()->TrustStatus.dwErrorStatus;
        status != CERT_TRUST_NO_ERROR) {
        return Refused(CERT_E_UNTRUSTEDROOT, "the system does not trust the server's chain (" +
                                                 TrustErrors(status) + ")");
    }
    if (TlsEngine::Failure failure = CheckSslPolicy(chain.Get(), policy.name); failure.status) {
        return failure;
    }
    return CheckPins(chain.Get(), policy.pins);
}

}  // namespace ipc::win
