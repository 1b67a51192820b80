#include "common/sys/Registry.h"

#include <cerrno>
#include <cstring>
#include <utility>

#include "common/err/Errors.h"
#include "common/sys/RegistryErrors.h"
#include "common/sys/linux/RegistryDefs.h"
#include "common/sys/linux/RegistryFile.h"

namespace sys {

// An open key: the store it lives in, its path there and the rights it was opened with.
struct OpenRegistryKey {
    std::string storePath;
    std::string keyPath;
    std::uint32_t access = 0;
};

namespace {

constexpr const char* kSource = "common\\sys\\Registry";

using registry::Raise;
namespace lines = registry::lines;

// A failure of the store under the operation's own message; a file that does not parse
// adds its name, the line and the fault.
[[noreturn]] void Raise(const char* message, int line, int value,
                        const RegistryStoreError& failure) {
    if (*failure.Message() == '\0') {
        Raise(message, line, value, failure.SystemError());
    }
    throw RegistryError(kSource, std::string(message) + " " + failure.Message(), line, value,
                        failure.SystemError());
}

// The root's name as the store file writes it.
const char* RootName(RegistryRoot root) {
    const std::pair<RegistryRoot, const char*> roots[] = {
        {RegistryRoot::ClassesRoot, "HKEY_CLASSES_ROOT"},
        {RegistryRoot::CurrentUser, "HKEY_CURRENT_USER"},
        {RegistryRoot::LocalMachine, "HKEY_LOCAL_MACHINE"},
        {RegistryRoot::Users, "HKEY_USERS"},
        {RegistryRoot::CurrentConfig, "HKEY_CURRENT_CONFIG"}};
    for (const auto& [key, name] : roots) {
        if (key == root) {
            return name;
        }
    }
    return nullptr;
}

// A line break would end the name's line in the store file.
void RequireOneLine(const std::string& name) {
    if (name.find('\n') != std::string::npos) {
        throw RegistryStoreError(kSource, "", __LINE__, 0, EINVAL);
    }
}

// The value as stored now; raises RegistryStoreError when the key or value is gone.
RegistryValue Query(const OpenRegistryKey& open, const std::string& name) {
    RegistryKey store = RegistryFile(open.storePath).Load();
    const RegistryKey* key = store.FindPath(open.keyPath);
    const RegistryValue* value = key ? key->FindValue(name) : nullptr;
    if (value == nullptr) {
        throw RegistryStoreError(kSource, "", __LINE__, 0, ENOENT);
    }
    return *value;
}

// Applies change to the open key in one step on the store; raises RegistryStoreError.
void Change(const OpenRegistryKey& open, const std::function<bool(RegistryKey&)>& change) {
    if ((open.access & KEY_SET_VALUE) == 0) {
        throw RegistryStoreError(kSource, "", __LINE__, 0, EACCES);
    }
    RegistryFile(open.storePath).Update([&](RegistryKey& store) {
        RegistryKey* key = store.FindPath(open.keyPath);
        if (key == nullptr) {
            throw RegistryStoreError(kSource, "", __LINE__, 0, ENOENT);
        }
        return change(*key);
    });
}

void StoreValue(const OpenRegistryKey& open, const std::string& name, std::uint32_t type,
                const std::string& data, const char* failure, int line) {
    try {
        RequireOneLine(name);
        Change(open, [&](RegistryKey& key) { return key.SetValue(name, type, data); });
    } catch (const RegistryStoreError& error) {
        Raise(failure, line, kRegistryWriteFailed, error);
    }
}

void RemoveKey(const OpenRegistryKey& key, bool recursive) {
    const auto separator = key.keyPath.rfind('\\');
    if ((key.access & KEY_SET_VALUE) == 0 || separator == std::string::npos) {
        Raise("DeleteKeyAndSubkeys() - RegDeleteKey failed.", lines::kKeyNotDeleted,
              kRegistryUnexpected, EACCES);
    }
    const std::string parentPath = key.keyPath.substr(0, separator);
    const std::string name = key.keyPath.substr(separator + 1);
    try {
        RegistryFile(key.storePath).Update([&](RegistryKey& store) {
            RegistryKey* parent = store.FindPath(parentPath);
            const RegistryKey* target = parent ? parent->FindSubkey(name) : nullptr;
            if (target == nullptr) {
                throw RegistryStoreError(kSource, "", __LINE__, 0, ENOENT);
            }
            if (!recursive && !target->Subkeys().empty()) {
                // Raised from inside the step, which leaves the store untouched.
                Raise("Delete() - Cannot delete children", lines::kDeleteHasSubkeys,
                      kRegistryHasSubkeys, 0);
            }
            return parent->DeleteSubkey(name);
        });
    } catch (const RegistryStoreError& failure) {
        if (failure.SystemError() == ENOENT || failure.SystemError() == EBADMSG) {
            Raise("DeleteKeyAndSubkeys() - RegQueryInfoKey failed.", lines::kSubkeysNotCounted,
                  kRegistryUnexpected, failure);
        }
        Raise("DeleteKeyAndSubkeys() - RegDeleteKey failed.", lines::kKeyNotDeleted,
              kRegistryUnexpected, failure);
    }
}

}  // namespace

Registry::Registry() : root_(RegistryRoot::LocalMachine) {}

Registry::~Registry() = default;

void Registry::OpenIntern(bool create, std::uint32_t access) {
    const char* root = RootName(root_);
    if (root == nullptr) {
        Raise("OpenIntern() - Cannot open key.", lines::kOpenFailed, kRegistryOpenFailed, EBADF);
    }
    std::string path = root;
    for (const std::string& part : SplitKeyPath(subkey_)) {
        path += "\\" + part;
    }
    auto key = std::make_unique<OpenRegistryKey>(
        OpenRegistryKey{RegistryFile::DefaultPath(), path, access});
    try {
        // Opening a key that exists writes nothing, so it needs no more than a reader's lock.
        const RegistryFile file(key->storePath);
        if (file.Load().FindPath(path) == nullptr) {
            if (!create) {
                throw RegistryStoreError(kSource, "", __LINE__, 0, ENOENT);
            }
            RequireOneLine(path);
            file.Update([&](RegistryKey& store) {
                bool created = false;
                store.CreatePath(path, created);
                return created;
            });
        }
    } catch (const RegistryStoreError& failure) {
        Raise("OpenIntern() - Cannot open key.", lines::kOpenFailed, kRegistryOpenFailed, failure);
    }
    key_ = std::move(key);
    open_ = true;
}

void Registry::Close() {
    RequireOpen("Close() - Registry key not open, cannot close", lines::kCloseNotOpen);
    key_.reset();
    open_ = false;
}

// The store file is made readable and writable by its owner only.
void Registry::MakePrivate() {
    RequireOpen("MakePrivate() - Key not open, cannot set its access.", __LINE__);
}

void Registry::ReadString(const std::string& name, std::string& out) const {
    RequireOpen("ReadString() - Key not open, cannot read.", lines::kReadStringNotOpen);
    RegistryValue value;
    try {
        value = Query(*key_, name.size() < 2 ? std::string() : name);
    } catch (const RegistryStoreError& failure) {
        Raise("ReadString() - Read failed.", lines::kReadStringFailed, kRegistryReadFailed,
              failure);
    }
    if (value.type != REG_SZ && value.type != REG_EXPAND_SZ) {
        Raise("ReadString() - Incorrect data type.", lines::kReadStringWrongKind,
              kRegistryWrongKind, 0);
    }
    out = value.data.substr(0, value.data.find('\0'));
}

void Registry::WriteString(const std::string& name, const std::string& value) {
    RequireOpen("Write() - Key not open, cannot write.", lines::kWriteStringNotOpen);
    StoreValue(*key_, name, REG_SZ, value + '\0', "WriteString() - Write failed.",
               lines::kWriteStringFailed);
}

void Registry::ReadDWord(const std::string& name, std::uint32_t& out) const {
    RequireOpen("ReadDWord() - Key not open, cannot read.", lines::kReadDWordNotOpen);
    RegistryValue value;
    try {
        value = Query(*key_, name);
    } catch (const RegistryStoreError& failure) {
        Raise("ReadDWord() - Read failed.", lines::kReadDWordFailed, kRegistryReadFailed, failure);
    }
    if (value.type != REG_DWORD) {
        Raise("ReadDWord() - Incorrect data type.", lines::kReadDWordWrongKind, kRegistryWrongKind,
              0);
    }
    if (value.data.size() != 4) {
        Raise("ReadDWord() - Read failed.", lines::kReadDWordFailed, kRegistryReadFailed, EINVAL);
    }
    out = DWordFromBytes(value.data);
}

void Registry::WriteDWord(const std::string& name, std::uint32_t value) {
    RequireOpen("WriteDWord() - Key not open, cannot write.", lines::kWriteDWordNotOpen);
    StoreValue(*key_, name, REG_DWORD, DWordBytes(value), "WriteDWord() - Write failed.",
               lines::kWriteDWordFailed);
}

void Registry::ReadBinary(const std::string& name, unsigned char* buffer,
                          std::uint32_t& size) const {
    RequireOpen("ReadBinary() - Key not open, cannot write.", lines::kReadBinaryNotOpen);
    RegistryValue value;
    try {
        value = Query(*key_, name);
    } catch (const RegistryStoreError& failure) {
        Raise("ReadBinary() - Read failed.", lines::kReadBinaryFailed, kRegistryReadFailed,
              failure);
    }
    if (value.type != REG_BINARY) {
        Raise("ReadBinary() - Incorrect data type.", lines::kReadBinaryWrongKind,
              kRegistryWrongKind, 0);
    }
    const auto needed = static_cast<std::uint32_t>(value.data.size());
    if (size < needed) {
        size = needed;
        Raise("ReadBinary() - Not enough memory, please allocate.",
              lines::kReadBinaryBufferTooSmall, kRegistryBufferTooSmall, ERANGE);
    }
    if (needed != 0) {
        if (buffer == nullptr) {
            Raise("ReadBinary() - Read failed.", lines::kReadBinaryFailed, kRegistryReadFailed,
                  EFAULT);
        }
        std::memcpy(buffer, value.data.data(), needed);
    }
}

void Registry::WriteBinary(const std::string& name, const void* bytes, std::uint32_t size) {
    RequireOpen("WriteBinary(3 params) - Key not open, cannot write.", lines::kWriteBinaryNotOpen);
    if (bytes == nullptr && size != 0) {
        Raise("WriteBinary(3 params) - Write failed.", lines::kWriteBinaryFailed,
              kRegistryWriteFailed, EFAULT);
    }
    const std::string data = size != 0 ? std::string(static_cast<const char*>(bytes), size) : "";
    StoreValue(*key_, name, REG_BINARY, data, "WriteBinary(3 params) - Write failed.",
               lines::kWriteBinaryFailed);
}

void Registry::DeleteValue(const std::string& name) {
    RequireOpen("DeleteValue() - Key not open, cannot delete.", lines::kDeleteValueNotOpen);
    try {
        Change(*key_, [&](RegistryKey& key) {
            if (!key.DeleteValue(name)) {
                throw RegistryStoreError(kSource, "", __LINE__, 0, ENOENT);
            }
            return true;
        });
    } catch (const RegistryStoreError& failure) {
        Raise("DeleteValue() - Delete failed.", lines::kDeleteValueFailed,
              kRegistryDeleteValueFailed, failure);
    }
}

void Registry::DeleteOpenKey(bool recursive) {
    RemoveKey(*key_, recursive);
}

void Registry::DeleteKeyAndSubkeys(RegistryRoot) {
    Raise("DeleteKeyAndSubkeys() - RegDeleteKey failed.", lines::kKeyNotDeleted,
          kRegistryUnexpected, EACCES);
}

std::string SettingsStoreProblem() {
    const std::string path = RegistryFile::DefaultPath();
    try {
        RegistryFile(path).Load();
    } catch (const RegistryStoreError& error) {
        // A file that does not parse is named in the text with its line; other failures
        // carry only their errno.
        return *error.Message()
                   ? error.Message()
                   : path + ": " + std::strerror(static_cast<int>(error.SystemError()));
    }
    return "";
}

}  // namespace sys
