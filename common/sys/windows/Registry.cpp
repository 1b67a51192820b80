#include "common/sys/Registry.h"

#include <windows.h>

#include "common/err/Errors.h"
#include "common/sys/RegistryErrors.h"
#include "common/sys/windows/Owned.h"
#include "common/sys/windows/SystemMessage.h"
#include "common/util/windows/PrivateAccess.h"

namespace sys {

using RegistryHandle = win::Owned<HKEY, ::RegCloseKey>;

struct OpenRegistryKey {
    RegistryHandle handle;
    // The system lets a key be deleted through any handle to it; the store keeps to the
    // rights the key was opened with, as on Linux.
    bool deletable = false;
};

namespace {

using registry::Raise;
namespace lines = registry::lines;

// The key the agent keeps its settings in, in the 32-bit view (Registry::kView32).
constexpr const char* kAgentKey = "Software\\Corvane\\Client Service";

// A failed registry call: its status becomes the thread's last error and the error's
// system error.
[[noreturn]] void RaiseStatus(const char* message, int line, int value, LONG status) {
    ::SetLastError(static_cast<DWORD>(status));
    Raise(message, line, value, static_cast<std::uint32_t>(status));
}

HKEY PredefinedKey(RegistryRoot root) {
    switch (root) {
        case RegistryRoot::ClassesRoot:
            return HKEY_CLASSES_ROOT;
        case RegistryRoot::CurrentUser:
            return HKEY_CURRENT_USER;
        case RegistryRoot::LocalMachine:
            return HKEY_LOCAL_MACHINE;
        case RegistryRoot::Users:
            return HKEY_USERS;
        case RegistryRoot::CurrentConfig:
            return HKEY_CURRENT_CONFIG;
    }
    return nullptr;
}

// A subkey path without a name below the root opens the root key itself.
bool IsRootPath(const std::string& subkey) {
    return subkey.find_first_not_of('\\') == std::string::npos;
}

// The kind and size of a stored value.
LONG QueryKind(HKEY key, const char* name, DWORD& type, DWORD& size) {
    size = 0;
    return ::RegQueryValueExA(key, name, nullptr, &type, nullptr, &size);
}

LONG Store(HKEY key, const std::string& name, DWORD type, const void* bytes, DWORD size) {
    return ::RegSetValueExA(key, name.c_str(), 0, type, static_cast<const BYTE*>(bytes), size);
}

DWORD SubkeyCount(HKEY key, LONG& status) {
    DWORD count = 0;
    status = ::RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr,
                                nullptr, nullptr, nullptr, nullptr);
    return count;
}

// Depth first: each deleted subkey moves the next one to index 0.
void DeleteTree(HKEY key) {
    LONG status = ERROR_SUCCESS;
    for (DWORD count = SubkeyCount(key, status); status == ERROR_SUCCESS && count > 0;
         count = SubkeyCount(key, status)) {
        char name[256];
        DWORD length = sizeof name;
        status = ::RegEnumKeyExA(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (status != ERROR_SUCCESS) {
            RaiseStatus("DeleteKeyAndSubkeys() - RegEnumKeyEx failed.", lines::kSubkeyNotListed,
                        kRegistryUnexpected, status);
        }
        RegistryHandle subkey;
        status = ::RegOpenKeyExA(key, name, 0, KEY_ALL_ACCESS, subkey.Put());
        if (status != ERROR_SUCCESS) {
            RaiseStatus("DeleteKeyAndSubkeys() - RegOpenKeyEx failed.", lines::kSubkeyNotOpened,
                        kRegistryUnexpected, status);
        }
        DeleteTree(subkey.Get());
        status = ::RegCloseKey(subkey.Release());
        if (status != ERROR_SUCCESS) {
            RaiseStatus("DeleteKeyAndSubkeys() - RegCloseKey failed.", lines::kSubkeyNotClosed,
                        kRegistryUnexpected, status);
        }
    }
    if (status != ERROR_SUCCESS) {
        RaiseStatus("DeleteKeyAndSubkeys() - RegQueryInfoKey failed.", lines::kSubkeysNotCounted,
                    kRegistryUnexpected, status);
    }
    status = ::RegDeleteKeyA(key, "");
    if (status != ERROR_SUCCESS) {
        RaiseStatus("DeleteKeyAndSubkeys() - RegDeleteKey failed.", lines::kKeyNotDeleted,
                    kRegistryUnexpected, status);
    }
}

}  // namespace

Registry::Registry() : root_(RegistryRoot::LocalMachine) {}

Registry::~Registry() = default;

void Registry::OpenIntern(bool create, std::uint32_t access) {
    auto key = std::make_unique<OpenRegistryKey>();
    const HKEY root = PredefinedKey(root_);
    LONG status = ERROR_INVALID_HANDLE;
    if (root != nullptr && create) {
        char noClass[] = "";
        status = ::RegCreateKeyExA(root, subkey_.c_str(), 0, noClass, 0, access, nullptr,
                                   key->handle.Put(), nullptr);
    } else if (root != nullptr) {
        status = ::RegOpenKeyExA(root, subkey_.c_str(), 0, access, key->handle.Put());
    }
    if (status != ERROR_SUCCESS) {
        RaiseStatus("OpenIntern() - Cannot open key.", lines::kOpenFailed, kRegistryOpenFailed,
                    status);
    }
    key->deletable = (access & DELETE) != 0;
    key_ = std::move(key);
    open_ = true;
}

void Registry::Close() {
    RequireOpen("Close() - Registry key not open, cannot close", lines::kCloseNotOpen);
    const LONG status = ::RegCloseKey(key_->handle.Get());
    if (status != ERROR_SUCCESS) {
        RaiseStatus("Close() - RegCloseKey failed", lines::kCloseFailed, kRegistryCloseFailed,
                    status);
    }
    key_->handle.Release();
    key_.reset();
    open_ = false;
}

void Registry::ReadString(const std::string& name, std::string& out) const {
    RequireOpen("ReadString() - Key not open, cannot read.", lines::kReadStringNotOpen);
    const char* valueName = name.size() < 2 ? nullptr : name.c_str();
    const HKEY key = key_->handle.Get();
    DWORD type = REG_NONE;
    DWORD size = 0;
    LONG status = QueryKind(key, valueName, type, size);
    if (status == ERROR_SUCCESS && type != REG_SZ && type != REG_EXPAND_SZ) {
        Raise("ReadString() - Incorrect data type.", lines::kReadStringWrongKind,
              kRegistryWrongKind, 0);
    }
    std::string text(size, '\0');
    if (status == ERROR_SUCCESS) {
        status = ::RegQueryValueExA(key, valueName, nullptr, nullptr,
                                    reinterpret_cast<BYTE*>(text.data()), &size);
    }
    if (status != ERROR_SUCCESS) {
        RaiseStatus("ReadString() - Read failed.", lines::kReadStringFailed, kRegistryReadFailed,
                    status);
    }
    text.resize(size);
    out = text.substr(0, text.find('\0'));
}

void Registry::WriteString(const std::string& name, const std::string& value) {
    RequireOpen("Write() - Key not open, cannot write.", lines::kWriteStringNotOpen);
    const LONG status = Store(key_->handle.Get(), name, REG_SZ, value.c_str(),
                              static_cast<DWORD>(value.size() + 1));
    if (status != ERROR_SUCCESS) {
        RaiseStatus("WriteString() - Write failed.", lines::kWriteStringFailed,
                    kRegistryWriteFailed, status);
    }
}

void Registry::ReadDWord(const std::string& name, std::uint32_t& out) const {
    RequireOpen("ReadDWord() - Key not open, cannot read.", lines::kReadDWordNotOpen);
    const HKEY key = key_->handle.Get();
    DWORD type = REG_NONE;
    DWORD size = 0;
    LONG status = QueryKind(key, name.c_str(), type, size);
    if (status == ERROR_SUCCESS && type != REG_DWORD) {
        Raise("ReadDWord() - Incorrect data type.", lines::kReadDWordWrongKind, kRegistryWrongKind,
              0);
    }
    // A value of the kind but of another size is no number.
    if (status == ERROR_SUCCESS && size != sizeof(DWORD)) {
        status = ERROR_INVALID_DATA;
    }
    DWORD value = 0;
    if (status == ERROR_SUCCESS) {
        status = ::RegQueryValueExA(key, name.c_str(), nullptr, nullptr,
                                    reinterpret_cast<BYTE*>(&value), &size);
    }
    if (status != ERROR_SUCCESS) {
        RaiseStatus("ReadDWord() - Read failed.", lines::kReadDWordFailed, kRegistryReadFailed,
                    status);
    }
    out = value;
}

void Registry::WriteDWord(const std::string& name, std::uint32_t value) {
    RequireOpen("WriteDWord() - Key not open, cannot write.", lines::kWriteDWordNotOpen);
    const DWORD number = value;
    const LONG status = Store(key_->handle.Get(), name, REG_DWORD, &number, sizeof number);
    if (status != ERROR_SUCCESS) {
        RaiseStatus("WriteDWord() - Write failed.", lines::kWriteDWordFailed, kRegistryWriteFailed,
                    status);
    }
}

void Registry::ReadBinary(const std::string& name, unsigned char* buffer,
                          std::uint32_t& size) const {
    RequireOpen("ReadBinary() - Key not open, cannot write.", lines::kReadBinaryNotOpen);
    const HKEY key = key_->handle.Get();
    DWORD type = REG_NONE;
    DWORD needed = 0;
    LONG status = QueryKind(key, name.c_str(), type, needed);
    if (status == ERROR_SUCCESS && type != REG_BINARY) {
        Raise("ReadBinary() - Incorrect data type.", lines::kReadBinaryWrongKind,
              kRegistryWrongKind, 0);
    }
    if (status == ERROR_SUCCESS && size < needed) {
        size = needed;
        RaiseStatus("ReadBinary() - Not enough memory, please allocate.",
                    lines::kReadBinaryBufferTooSmall, kRegistryBufferTooSmall, ERROR_MORE_DATA);
    }
    // Without a buffer the call would only report the size again.
    if (status == ERROR_SUCCESS && needed != 0 && buffer == nullptr) {
        status = ERROR_INVALID_PARAMETER;
    }
    if (status == ERROR_SUCCESS && needed != 0) {
        status = ::RegQueryValueExA(key, name.c_str(), nullptr, nullptr, buffer, &needed);
    }
    if (status != ERROR_SUCCESS) {
        RaiseStatus("ReadBinary() - Read failed.", lines::kReadBinaryFailed, kRegistryReadFailed,
                    status);
    }
}

void Registry::WriteBinary(const std::string& name, const void* bytes, std::uint32_t size) {
    RequireOpen("WriteBinary(3 params) - Key not open, cannot write.", lines::kWriteBinaryNotOpen);
    const LONG status = bytes == nullptr && size != 0
                            ? ERROR_INVALID_PARAMETER
                            : Store(key_->handle.Get(), name, REG_BINARY, bytes, size);
    if (status != ERROR_SUCCESS) {
        RaiseStatus("WriteBinary(3 params) - Write failed.", lines::kWriteBinaryFailed,
                    kRegistryWriteFailed, status);
    }
}

// The list is set on the key as found, which also covers a key that an administrator or a
// policy made first with the parent's list.
void Registry::MakePrivate() {
    RequireOpen("MakePrivate() - Key not open, cannot set its access.", __LINE__);
    const PSECURITY_DESCRIPTOR descriptor = util::win::PrivateKeyDescriptor();
    const LONG status =
        descriptor == nullptr
            ? ERROR_NOT_ENOUGH_MEMORY
            : ::RegSetKeySecurity(key_->handle.Get(),
                                  DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                  descriptor);
    if (status != ERROR_SUCCESS) {
        RaiseStatus("MakePrivate() - RegSetKeySecurity failed.", __LINE__, kRegistryWriteFailed,
                    status);
    }
}

void Registry::DeleteValue(const std::string& name) {
    RequireOpen("DeleteValue() - Key not open, cannot delete.", lines::kDeleteValueNotOpen);
    const LONG status = ::RegDeleteValueA(key_->handle.Get(), name.c_str());
    if (status != ERROR_SUCCESS) {
        RaiseStatus("DeleteValue() - Delete failed.", lines::kDeleteValueFailed,
                    kRegistryDeleteValueFailed, status);
    }
}

void Registry::DeleteOpenKey(bool recursive) {
    // A root key cannot be deleted, and walking its tree first would empty it.
    if (IsRootPath(subkey_) || !key_->deletable) {
        RaiseStatus("DeleteKeyAndSubkeys() - RegDeleteKey failed.", lines::kKeyNotDeleted,
                    kRegistryUnexpected, ERROR_ACCESS_DENIED);
    }
    LONG status = ERROR_SUCCESS;
    const DWORD subkeys = SubkeyCount(key_->handle.Get(), status);
    if (status != ERROR_SUCCESS) {
        RaiseStatus("DeleteKeyAndSubkeys() - RegQueryInfoKey failed.", lines::kSubkeysNotCounted,
                    kRegistryUnexpected, status);
    }
    if (subkeys > 0 && !recursive) {
        Raise("Delete() - Cannot delete children", lines::kDeleteHasSubkeys, kRegistryHasSubkeys,
              0);
    }
    DeleteTree(key_->handle.Get());
}

void Registry::DeleteKeyAndSubkeys(RegistryRoot) {
    RaiseStatus("DeleteKeyAndSubkeys() - RegDeleteKey failed.", lines::kKeyNotDeleted,
                kRegistryUnexpected, ERROR_ACCESS_DENIED);
}

std::string SettingsStoreProblem() {
    RegistryHandle key;
    const LONG status = ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kAgentKey, 0,
                                        KEY_QUERY_VALUE | KEY_WOW64_32KEY, key.Put());
    // A missing key is an agent without settings, as a missing store file is on Linux.
    if (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND) {
        return "";
    }
    return std::string("HKEY_LOCAL_MACHINE\\") + kAgentKey + ": " +
           win::SystemMessage(static_cast<std::uint32_t>(status));
}

}  // namespace sys
