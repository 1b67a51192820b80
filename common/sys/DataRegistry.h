#pragma once

#include <string>

#include "common/lang/DataConverter.h"
#include "common/sys/Registry.h"

namespace sys {

// Reads and writes one setting of the open key through a typed value converter, whose type
// name picks the kind of registry value: "StdString" a string, "Bool", "Int",
// "UnsignedInt" and "UnsignedLong" a REG_DWORD, "Binary" a REG_BINARY. Other type names
// read and write nothing.
class CDataRegistry : public Registry {
public:
    CDataRegistry() = default;
    ~CDataRegistry() override = default;

    // Registry errors pass on unchanged; anything else becomes sys::RegistryError value 0.
    void ReadData(const std::string& name, lang::IDataConverter& converter) const;
    void WriteData(const std::string& name, const lang::IDataConverter& converter);

private:
    // Probes the size, allocates, reads and hands the bytes to the converter.
    void ReadBinaryData(const std::string& name, lang::IDataConverter& converter) const;
};

}  // namespace sys
