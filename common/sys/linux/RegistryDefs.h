#pragma once

// The store file's value kinds and the right to change a key, with the values the Windows
// registry gives them, so that values exported from a Windows machine keep their
// kinds.

#include <cstdint>

#include "common/sys/Registry.h"

constexpr std::uint32_t REG_NONE = 0;
constexpr std::uint32_t REG_SZ = 1;
constexpr std::uint32_t REG_EXPAND_SZ = 2;
constexpr std::uint32_t REG_BINARY = 3;
constexpr std::uint32_t REG_DWORD = 4;
constexpr std::uint32_t REG_LINK = 6;
constexpr std::uint32_t REG_MULTI_SZ = 7;
constexpr std::uint32_t REG_QWORD = 11;

constexpr std::uint32_t KEY_SET_VALUE = 0x0002;

// The root keys under the names the store file writes, for Linux code (tests, tools) written
// with those names.
inline constexpr sys::RegistryRoot HKEY_CLASSES_ROOT = sys::RegistryRoot::ClassesRoot;
inline constexpr sys::RegistryRoot HKEY_CURRENT_USER = sys::RegistryRoot::CurrentUser;
inline constexpr sys::RegistryRoot HKEY_LOCAL_MACHINE = sys::RegistryRoot::LocalMachine;
inline constexpr sys::RegistryRoot HKEY_USERS = sys::RegistryRoot::Users;
inline constexpr sys::RegistryRoot HKEY_CURRENT_CONFIG = sys::RegistryRoot::CurrentConfig;
