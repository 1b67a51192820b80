#pragma once

// The file helpers' fixed error lines and values (what they are: docs/architecture.md).

namespace util::lines {

inline constexpr int kSizeOfMissingFile = 72;
inline constexpr int kSizeNotRead = 78;
inline constexpr int kDeleteMissingFile = 136;
inline constexpr int kDeleteFailed = 139;
inline constexpr int kEmptyFileFolderNotMade = 317;
inline constexpr int kEmptyFileNotCreated = 327;

}  // namespace util::lines

namespace util {

// The value of a CFileIOError: the system error tells the rest.
enum FileErrorValue : int {
    kFileFailed = 0,
};

}  // namespace util
