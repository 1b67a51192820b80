#pragma once

// The fixed identifiers of the toolbox chain's log lines and errors. The number after the
// file name in a log line, and the line and value of an error, are matched by administrators'
// log filters: they never change, whatever line of the source writes them.
namespace toolbox_lines {

// The chain (TbxDispatch).
constexpr int kAttempt = 40;
constexpr int kVersionMismatch = 55;
constexpr int kCalling = 68;
constexpr int kNextToolbox = 78;
constexpr int kReturned = 102;
constexpr int kLoaderReason = 108;
constexpr int kCaught = 110;
constexpr int kRaised = 114;

// Loading one toolbox (CToolBox::Load).
constexpr int kAlreadyLoaded = 68;
constexpr int kNoName = 72;
constexpr int kLoadFailed = 78;
constexpr int kNoEntryPoint = 85;
constexpr int kNoTable = 92;

}  // namespace toolbox_lines
