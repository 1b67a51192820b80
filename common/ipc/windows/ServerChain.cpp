#include "common/ipc/windows/ServerChain.h"

// clang-format off
#include <windows.h>
#include <wincrypt.h>
#include <wininet.h>
#include <schannel.h>
// clang-format on

#include "common/sys/windows/Owned.h"
#include "common/sys/windows/SystemMessage.h"

namespace ipc::win {
namespace {

using Certificate = sys::win::Owned<PCCERT_CONTEXT, ::CertFreeCertificateContext>;
using Chain = sys::win::Owned<PCCERT_CHAIN_CONTEXT, ::CertFreeCertificateChain>;

TlsEngine::Failure Refused(unsigned long status, const char* what) {
    return {status, std::string("certificate verify failed: ") + what + ": " +
                        sys::win::SystemMessage(static_cast<std::uint32_t>(status))};
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

}  // namespace

TlsEngine::Failure CheckServerChain(PCtxtHandle context) {
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
    if (chain.Get()->TrustStatus.dwErrorStatus != CERT_TRUST_NO_ERROR) {
        return Refused(CERT_E_UNTRUSTEDROOT, "the system does not trust the server's chain");
    }
    SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{};
    ssl.cbSize = sizeof ssl;
    ssl.dwAuthType = AUTHTYPE_SERVER;
    ssl.fdwChecks = SECURITY_FLAG_IGNORE_CERT_CN_INVALID;
    CERT_CHAIN_POLICY_PARA policy{};
    policy.cbSize = sizeof policy;
    policy.pvExtraPolicyPara = &ssl;
    CERT_CHAIN_POLICY_STATUS verdict{};
    verdict.cbSize = sizeof verdict;
    if (!::CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain.Get(), &policy,
                                            &verdict)) {
        return Refused(::GetLastError(), "the SSL policy could not be checked");
    }
    if (verdict.dwError != 0) {
        return Refused(verdict.dwError, "the system does not trust the server's chain");
    }
    return {};
}

}  // namespace ipc::win
