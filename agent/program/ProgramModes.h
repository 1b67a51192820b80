#pragma once

#include "common/util/ParamList.h"

// The command-line modes. Each takes the whole parameter list.
using ModeHandler = void (*)(const util::ParamList& params);

struct OptionEntry {
    const char* option;
    ModeHandler handler;
};

// The modes in their order of precedence, ended by an empty entry. An option only has to
// begin an argument ("-helpme" shows the usage).
extern const OptionEntry kOptionTable[];

// Runs the mode of the first table entry that an argument names; false when none does.
// Only one mode ever runs: "-debug -help" shows the usage.
bool DispatchOption(const util::ParamList& params);

void ShowUsage(const util::ParamList& params);
void ShowVersion(const util::ParamList& params);
void ShowSettings(const util::ParamList& params);
void InstallService(const util::ParamList& params);
void RemoveService(const util::ParamList& params);
void RunDebug(const util::ParamList& params);
void RunShiftkit(const util::ParamList& params);

// Appends the toolbox names of every "-load=" argument to toolboxes, in order: the names
// after the first "=", split at ",", neither trimmed nor made unique.
void ExtractToolboxList(const util::ParamList& params, util::ParamList& toolboxes);
