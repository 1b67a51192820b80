#include "common/sys/DataRegistry.h"

#include <vector>

#include "common/err/Errors.h"
#include "common/sys/RegistryErrors.h"

namespace sys {

namespace {

// Another process may make the value larger between the probe and the read.
constexpr int kBinaryReadAttempts = 4;
constexpr int kBufferTooSmall = 11;

}  // namespace

void CDataRegistry::ReadData(const std::string& name, lang::IDataConverter& converter) const {
    try {
        std::string type;
        converter.GetTypeName(type);
        if (type == "StdString") {
            std::string text;
            ReadString(name, text);
            converter.Assign(text);
        } else if (type == "Bool") {
            bool value = false;
            ReadBool(name, value);
            dynamic_cast<lang::Bool&>(converter).Assign(value);
        } else if (type == "Int") {
            int value = 0;
            ReadInt(name, value);
            dynamic_cast<lang::Int&>(converter).Assign(value);
        } else if (type == "UnsignedInt") {
            std::uint32_t value = 0;
            ReadDWord(name, value);
            dynamic_cast<lang::UnsignedInt&>(converter).Assign(static_cast<unsigned int>(value));
        } else if (type == "UnsignedLong") {
            std::uint32_t value = 0;
            ReadDWord(name, value);
            converter.Assign(std::to_string(value));
        } else if (type == "Binary") {
            ReadBinaryData(name, converter);
        }
    } catch (const RegistryError&) {
        throw;
    } catch (...) {
        throw RegistryError(
            "common\\sys\\DataRegistry", "CDataRegistry::ReadData() - Unknown error caught.",
            registry::lines::kTypedReadUnexpected, kRegistryUnexpected, err::LastSystemError());
    }
}

void CDataRegistry::WriteData(const std::string& name, const lang::IDataConverter& converter) {
    std::string type;
    converter.GetTypeName(type);
    if (type == "Bool") {
        WriteBool(name, dynamic_cast<const lang::Bool&>(converter).GetValue());
    } else if (type == "Int") {
        WriteInt(name, dynamic_cast<const lang::Int&>(converter).GetValue());
    } else if (type == "UnsignedInt") {
        WriteDWord(name, dynamic_cast<const lang::UnsignedInt&>(converter).GetValue());
    } else if (type == "StdString") {
        std::string text;
        converter.GetString(text);
        WriteString(name, text);
    } else if (type == "Binary") {
        WriteBinary(name, converter.GetData(), converter.GetLength());
    }
}

void CDataRegistry::ReadBinaryData(const std::string& name, lang::IDataConverter& converter) const {
    std::uint32_t size = 0;
    for (int attempt = 1;; ++attempt) {
        std::vector<unsigned char> buffer(size + 1);
        try {
            ReadBinary(name, buffer.data(), size);
            converter.Assign(lang::Binary(buffer.data(), size));
            return;
        } catch (const RegistryError& error) {
            if (error.Value() != kBufferTooSmall || attempt == kBinaryReadAttempts) {
                throw;
            }
        }
    }
}

}  // namespace sys
