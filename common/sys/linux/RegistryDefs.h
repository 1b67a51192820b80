#pragma once

// The names the registry wrapper shares with the Windows registry API: root keys, value
// kinds and access rights. On Linux they are the wrapper's own definitions, with the same
// values, so code written against the Windows names builds unchanged.

#include <cstdint>

#ifndef _WIN32

// An open key. The predefined root keys below are markers that are never dereferenced; the
// keys the wrapper opens point to its own handle record.
struct HKEY__;
using HKEY = HKEY__*;

#define WARDEX_PREDEFINED_KEY(code) (reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(code)))
#define HKEY_CLASSES_ROOT WARDEX_PREDEFINED_KEY(0x80000000u)
#define HKEY_CURRENT_USER WARDEX_PREDEFINED_KEY(0x80000001u)
#define HKEY_LOCAL_MACHINE WARDEX_PREDEFINED_KEY(0x80000002u)
#define HKEY_USERS WARDEX_PREDEFINED_KEY(0x80000003u)
#define HKEY_CURRENT_CONFIG WARDEX_PREDEFINED_KEY(0x80000005u)

constexpr std::uint32_t REG_NONE = 0;
constexpr std::uint32_t REG_SZ = 1;
constexpr std::uint32_t REG_EXPAND_SZ = 2;
constexpr std::uint32_t REG_BINARY = 3;
constexpr std::uint32_t REG_DWORD = 4;
constexpr std::uint32_t REG_LINK = 6;
constexpr std::uint32_t REG_MULTI_SZ = 7;
constexpr std::uint32_t REG_QWORD = 11;

constexpr std::uint32_t KEY_SET_VALUE = 0x0002;
constexpr std::uint32_t KEY_ALL_ACCESS = 0xF003F;
constexpr std::uint32_t GENERIC_READ = 0x80000000;
constexpr std::uint32_t KEY_WOW64_32KEY = 0x200;

#endif
