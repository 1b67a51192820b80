#pragma once

// The settings' fixed error lines (what they are: docs/architecture.md).
namespace store::lines {

inline constexpr int kSetSettingFailed = 195;
inline constexpr int kDeleteSettingFailed = 351;

}  // namespace store::lines
