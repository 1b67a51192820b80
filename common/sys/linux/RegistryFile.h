#pragma once

#include <functional>
#include <string>

#include "common/err/Errors.h"
#include "common/sys/linux/RegistryTree.h"

namespace sys {

// The file that backs the settings store. Readers hold a shared lock and writers an
// exclusive one on the file's folder (the file itself is replaced on every change, so it
// cannot carry the lock); an administrator's script can join in with flock(1) on the
// folder. A change is written to a temporary file in the same folder, flushed to disk and
// renamed over the store, so a reader or a writer killed half-way never leaves a torn
// file. A file that does not parse is never written over.
class RegistryFile {
public:
    explicit RegistryFile(std::string path);

    // The agent's store: etc/corvane/registry.reg below the system root.
    static std::string DefaultPath();

    const std::string& Path() const { return path_; }
    // The stored keys; a missing file or folder is an empty store. Raises
    // RegistryStoreError.
    RegistryKey Load() const;
    // Runs change on the stored keys while no other process can read or write them, and
    // writes the result back when change returns true. The folder is created (mode 0700)
    // and the file too (mode 0600) when missing; an existing file keeps its mode. Raises
    // RegistryStoreError, or passes on what change raises with nothing written.
    void Update(const std::function<bool(RegistryKey&)>& change) const;

private:
    bool ReadContent(std::string& content, unsigned& mode) const;
    RegistryKey Parse(const std::string& content) const;
    void MakeFolder() const;
    void RemoveStaleTemporaries() const;
    void WriteAtomically(const std::string& content, unsigned mode, int folder) const;

    std::string path_;
    std::string folder_;
    std::string name_;
};

}  // namespace sys
