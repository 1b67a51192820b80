#pragma once

#include <string>

#include "common/err/Errors.h"
#include "common/sys/linux/RegistryTree.h"

namespace sys {

// Reads a regedit export: "Windows Registry Editor Version 5.00" or "REGEDIT4", in UTF-8
// or in the UTF-16 that Windows exports, with LF or CRLF line ends. Sections "[-key]" and
// values "name"=- delete what came before them, as an import would. An empty text is an
// empty store. Raises RegistryParseError.
RegistryKey ParseRegistryText(const std::string& bytes);

// Writes the store as a version 5.00 file in UTF-8 with LF line ends: every key but the
// empty root keys as a section, text values in quotes where they can be, REG_DWORD values
// as dword:, everything else as hex lists wrapped the way regedit wraps them.
std::string FormatRegistryText(const RegistryKey& store);

}  // namespace sys
