#pragma once

// The toolbox chain's fixed log and error lines (what they are: docs/architecture.md).
namespace toolbox::lines {

// The chain (TbxDispatch).
inline constexpr int kAttempt = 40;
inline constexpr int kVersionMismatch = 55;
inline constexpr int kCalling = 68;
inline constexpr int kNextToolbox = 78;
inline constexpr int kReturned = 102;
inline constexpr int kLoaderReason = 108;
inline constexpr int kCaught = 110;
inline constexpr int kRaised = 114;

// Loading one toolbox (CToolBox::Load).
inline constexpr int kAlreadyLoaded = 68;
inline constexpr int kNoName = 72;
inline constexpr int kLoadFailed = 78;
inline constexpr int kNoEntryPoint = 85;
inline constexpr int kNoTable = 92;

}  // namespace toolbox::lines

// The value of a CToolBoxError: which part of the toolbox failed.
enum ToolboxErrorValue : int {
    kToolboxLibraryFault = 0,
    kToolboxEntryPointFault = 1,
    kToolboxTableFault = 2,
    kToolboxTableEntryFault = 3,
};
