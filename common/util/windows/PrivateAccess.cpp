#include "common/util/windows/PrivateAccess.h"

#include <sddl.h>

namespace util::win {

namespace {

// "P" cuts inheritance from the parent; "FA" and "KA" are a file's and a key's full rights,
// "CI" hands a key's entries down to its subkeys.
constexpr const char* kPrivateFile = "D:P(A;;FA;;;SY)(A;;FA;;;BA)";
constexpr const char* kPrivateKey = "D:P(A;CI;KA;;;SY)(A;CI;KA;;;BA)";

// Null only when the system is out of memory. Never freed: it serves until the process ends.
PSECURITY_DESCRIPTOR Build(const char* text) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorA(text, SDDL_REVISION_1, &descriptor,
                                                                nullptr)) {
        return nullptr;
    }
    return descriptor;
}

}  // namespace

SECURITY_ATTRIBUTES* PrivateFileAttributes() {
    static SECURITY_ATTRIBUTES attributes{sizeof(SECURITY_ATTRIBUTES), Build(kPrivateFile), FALSE};
    return &attributes;
}

PSECURITY_DESCRIPTOR PrivateKeyDescriptor() {
    static const PSECURITY_DESCRIPTOR descriptor = Build(kPrivateKey);
    return descriptor;
}

// Without its list a file would get the folder's, so none is made.
KernelHandle CreatePrivateFile(const std::string& path, DWORD access, DWORD share,
                               DWORD disposition) {
    SECURITY_ATTRIBUTES* attributes = PrivateFileAttributes();
    if (attributes->lpSecurityDescriptor == nullptr) {
        ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return KernelHandle();
    }
    return OwnFile(::CreateFileA(path.c_str(), access, share, attributes, disposition,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
}

}  // namespace util::win
