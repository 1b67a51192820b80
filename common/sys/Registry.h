#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace sys {

// The root keys of the store. Each platform maps them to its own: the Linux store file names
// its sections after them, Windows opens its predefined keys.
enum class RegistryRoot { ClassesRoot, CurrentUser, LocalMachine, Users, CurrentConfig };

// An open key as the platform's store keeps it.
struct OpenRegistryKey;

// One key of the settings store: set the root and the subkey path, open (or create) the
// key, read and write its typed values by name, then close it or delete it. An empty value
// name stands for the key's default value. Every failure raises sys::RegistryError whose
// value tells the kind (sys::RegistryErrorValue, in RegistryErrors.h); a failure while
// deleting a subtree counts as unexpected. Each read and each change is one complete step
// on the store, so other processes see all of it or nothing.
// One thread at a time per object.
class Registry {
public:
    Registry();
    Registry(const Registry&) = delete;
    Registry& operator=(const Registry&) = delete;
    virtual ~Registry();

    void SetKey(RegistryRoot root);
    void SetKey(RegistryRoot root, const std::string& subkey);
    void SetSubkey(const std::string& subkey);
    // create makes the key (and the keys above it) when missing; readOnly opens for reading
    // only (unless create is set); view kView32 asks for the 32-bit view, which on Linux is
    // the one view there is.
    void Open(bool create, bool readOnly, int view);
    // The view that 32-bit programs see, "Software\WOW6432Node" on 64-bit Windows. The agent
    // keeps its settings there whatever it is built for, since the 32-bit programs,
    // installers and policies that set them up use it, and a machine that moves from one
    // build to the other keeps them.
    static constexpr int kView32 = 1;
    bool IsOpen() const { return open_; }
    void Close();
    // Lets the system and administrators alone reach the open key and what is made below
    // it, whatever list it had: for a key that holds secrets. Raises value 7 when the list
    // cannot be set. On Linux the store file is its owner's alone already.
    void MakePrivate();

    // A REG_SZ or REG_EXPAND_SZ value (unexpanded), up to its first zero byte. A name
    // shorter than two characters reads the default value.
    void ReadString(const std::string& name, std::string& out) const;
    void WriteString(const std::string& name, const std::string& value);
    void ReadDWord(const std::string& name, std::uint32_t& out) const;
    void WriteDWord(const std::string& name, std::uint32_t value);
    void ReadInt(const std::string& name, int& out) const;
    void WriteInt(const std::string& name, int value);
    // True only for a stored 1.
    void ReadBool(const std::string& name, bool& out) const;
    void WriteBool(const std::string& name, bool value);
    // A REG_BINARY value. When size is smaller than the value, size is set to the value's
    // size and value 11 is raised: probe with size 0, allocate, call again.
    void ReadBinary(const std::string& name, unsigned char* buffer, std::uint32_t& size) const;
    void WriteBinary(const std::string& name, const void* bytes, std::uint32_t size);
    void DeleteValue(const std::string& name);
    // Deletes the open key (with its subkeys when recursive) and closes it.
    void Delete(bool recursive);
    // Deletes a key and everything below it; a root key cannot be deleted, so this raises.
    void DeleteKeyAndSubkeys(RegistryRoot root);

private:
    void OpenIntern(bool create, std::uint32_t access);
    // The platform's part of Delete; the key stays open.
    void DeleteOpenKey(bool recursive);
    void RequireOpen(const char* message, int line) const;
    void RequireClosed(const char* message, int line) const;

    bool open_ = false;
    std::unique_ptr<OpenRegistryKey> key_;
    RegistryRoot root_;
    std::string subkey_;
};

// Why the agent's settings store cannot be read as a whole, or empty when it can: a store
// that does not parse is named with the line of the fault, other failures name the store
// and the system's reason.
std::string SettingsStoreProblem();

}  // namespace sys
