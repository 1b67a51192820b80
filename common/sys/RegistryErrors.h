#pragma once

#include <cstdint>

namespace sys::registry::lines {

// The registry wrapper's fixed error lines, on every platform (what they are:
// docs/architecture.md).
inline constexpr int kSetKeyWhileOpen = 98;
inline constexpr int kSetKeyAndSubkeyWhileOpen = 112;
inline constexpr int kSetSubkeyWhileOpen = 126;
inline constexpr int kOpenUnexpected = 150;
inline constexpr int kCloseFailed = 184;
inline constexpr int kCloseNotOpen = 187;
inline constexpr int kDeleteNotOpen = 195;
inline constexpr int kDeleteHasSubkeys = 203;
inline constexpr int kDeleteUnexpected = 218;
inline constexpr int kReadStringNotOpen = 247;
inline constexpr int kReadStringWrongKind = 256;
inline constexpr int kReadStringFailed = 268;
inline constexpr int kWriteStringNotOpen = 276;
inline constexpr int kWriteStringFailed = 287;
inline constexpr int kReadDWordNotOpen = 429;
inline constexpr int kReadDWordWrongKind = 436;
inline constexpr int kReadDWordFailed = 442;
inline constexpr int kReadIntUnexpected = 458;
inline constexpr int kWriteDWordNotOpen = 467;
inline constexpr int kWriteDWordFailed = 472;
inline constexpr int kWriteIntUnexpected = 488;
inline constexpr int kReadBinaryNotOpen = 502;
inline constexpr int kReadBinaryWrongKind = 511;
inline constexpr int kReadBinaryBufferTooSmall = 517;
inline constexpr int kReadBinaryFailed = 527;
inline constexpr int kWriteBinaryNotOpen = 537;
inline constexpr int kWriteBinaryFailed = 542;
inline constexpr int kReadBoolUnexpected = 560;
inline constexpr int kWriteBoolUnexpected = 580;
inline constexpr int kDeleteValueNotOpen = 589;
inline constexpr int kDeleteValueFailed = 594;
inline constexpr int kSubkeysNotCounted = 653;
inline constexpr int kSubkeyNotListed = 661;
inline constexpr int kSubkeyNotOpened = 665;
inline constexpr int kSubkeyNotClosed = 674;
inline constexpr int kKeyNotDeleted = 684;
inline constexpr int kOpenWhileOpen = 760;
inline constexpr int kOpenFailed = 813;
// The typed reads (CDataRegistry)
inline constexpr int kTypedReadUnexpected = 89;

}  // namespace sys::registry::lines

namespace sys {

// The value of a RegistryError: what kind of failure it was.
enum RegistryErrorValue : int {
    kRegistryUnexpected = 0,
    kRegistryAlreadyOpen = 1,
    kRegistryCloseFailed = 2,
    kRegistryOpenFailed = 3,
    kRegistryHasSubkeys = 4,
    kRegistryDeleteValueFailed = 5,
    kRegistryReadFailed = 6,
    kRegistryWriteFailed = 7,
    kRegistryNotOpen = 8,
    kRegistryWrongKind = 9,
    kRegistryBufferTooSmall = 11,
};

}  // namespace sys

namespace sys::registry {

// Raises sys::RegistryError from the registry wrapper, whose errors all name it as their
// source.
[[noreturn]] void Raise(const char* message, int line, int value, std::uint32_t systemError);

}  // namespace sys::registry
