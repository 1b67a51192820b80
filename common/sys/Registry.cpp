#include "common/sys/Registry.h"

#include "common/err/Errors.h"
#include "common/sys/RegistryErrors.h"

// What the registry wrapper does the same on every platform: the key's settings, the rights
// it is opened with, and the typed wrappers over the DWORD calls. The store itself is the
// platform's.

namespace sys {

namespace registry {

void Raise(const char* message, int line, int value, std::uint32_t systemError) {
    throw RegistryError("common\\sys\\Registry", message, line, value, systemError);
}

}  // namespace registry

namespace {

using registry::Raise;
namespace lines = registry::lines;

// The rights a key is opened with, in the registry's own numbers.
constexpr std::uint32_t kAllAccess = 0xF003F;
constexpr std::uint32_t kGenericRead = 0x80000000;
constexpr std::uint32_t kWow64View32 = 0x200;

}  // namespace

void Registry::SetKey(RegistryRoot root) {
    RequireClosed("SetKey() - Registry key already open, cannot set key.", lines::kSetKeyWhileOpen);
    root_ = root;
}

void Registry::SetKey(RegistryRoot root, const std::string& subkey) {
    RequireClosed("SetKey() - Registry key already open, cannot set key.",
                  lines::kSetKeyAndSubkeyWhileOpen);
    root_ = root;
    subkey_ = subkey;
}

void Registry::SetSubkey(const std::string& subkey) {
    RequireClosed("SetSubkey() - Registry key already open, cannot set subkey.",
                  lines::kSetSubkeyWhileOpen);
    subkey_ = subkey;
}

void Registry::Open(bool create, bool readOnly, int view) {
    try {
        RequireClosed("OpenIntern() - Registry key already open, cannot set subkey.",
                      lines::kOpenWhileOpen);
        std::uint32_t access = create || !readOnly ? kAllAccess : kGenericRead;
        if (view == kView32) {
            access |= kWow64View32;
        }
        OpenIntern(create, access);
    } catch (const RegistryError&) {
        throw;
    } catch (...) {
        Raise("Open() - Unknown error caught.", lines::kOpenUnexpected, kRegistryUnexpected,
              err::LastSystemError());
    }
}

void Registry::ReadInt(const std::string& name, int& out) const {
    try {
        std::uint32_t value = 0;
        ReadDWord(name, value);
        out = static_cast<int>(value);
    } catch (const RegistryError&) {
        throw;
    } catch (...) {
        Raise("ReadInt() - Unknown error caught.", lines::kReadIntUnexpected, kRegistryUnexpected,
              err::LastSystemError());
    }
}

void Registry::WriteInt(const std::string& name, int value) {
    try {
        WriteDWord(name, static_cast<std::uint32_t>(value));
    } catch (const RegistryError&) {
        throw;
    } catch (...) {
        Raise("WriteInt() - Unknown error caught.", lines::kWriteIntUnexpected, kRegistryUnexpected,
              err::LastSystemError());
    }
}

void Registry::ReadBool(const std::string& name, bool& out) const {
    try {
        std::uint32_t value = 0;
        ReadDWord(name, value);
        out = value == 1;
    } catch (const RegistryError&) {
        throw;
    } catch (...) {
        Raise("ReadBool() - Unknown error caught.", lines::kReadBoolUnexpected, kRegistryUnexpected,
              err::LastSystemError());
    }
}

void Registry::WriteBool(const std::string& name, bool value) {
    try {
        WriteDWord(name, value ? 1 : 0);
    } catch (const RegistryError&) {
        throw;
    } catch (...) {
        Raise("WriteBool() - Unknown error caught.", lines::kWriteBoolUnexpected,
              kRegistryUnexpected, err::LastSystemError());
    }
}

void Registry::Delete(bool recursive) {
    RequireOpen("Delete() - Registry key not open, cannot delete", lines::kDeleteNotOpen);
    try {
        DeleteOpenKey(recursive);
    } catch (const RegistryError&) {
        throw;
    } catch (...) {
        Raise("Delete() - Unknown error caught.", lines::kDeleteUnexpected, kRegistryUnexpected,
              err::LastSystemError());
    }
    Close();
}

void Registry::RequireOpen(const char* message, int line) const {
    if (!open_) {
        Raise(message, line, kRegistryNotOpen, 0);
    }
}

void Registry::RequireClosed(const char* message, int line) const {
    if (open_) {
        Raise(message, line, kRegistryAlreadyOpen, 0);
    }
}

}  // namespace sys
