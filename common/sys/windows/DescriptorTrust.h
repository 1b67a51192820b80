#pragma once

#include <windows.h>

#include <string>

namespace sys::win {

// The verdict on a file's or folder's security descriptor: "is owned by another user" when
// its owner is not SYSTEM, Administrators or TrustedInstaller, "is writable by others" when
// its access list (or the lack of one) lets anyone else write to it, add to it, delete it or
// change its list or owner; empty when only those three may change it. Entries that only
// what is made inside the folder inherits do not count.
std::string UntrustedDescriptorReason(PSECURITY_DESCRIPTOR descriptor);

}  // namespace sys::win
