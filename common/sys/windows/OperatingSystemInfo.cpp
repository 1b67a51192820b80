#include <variant>

#include "common/err/Errors.h"
#include "common/sys/windows/OperatingSystemSources.h"
#include "common/sys/windows/Wmi.h"

namespace sys {

namespace {

using Info = OperatingSystemInfo;
// The field a property goes to; its type says how the value is taken: a text, a switch, or
// the low 32, 16 or 8 bits of a number.
using Field = std::variant<std::string Info::*, bool Info::*, std::uint32_t Info::*,
                           std::uint16_t Info::*, std::uint8_t Info::*>;

struct Property {
    const wchar_t* name;
    Field field;
};

// In the order they are read.
const Property kProperties[] = {
    {L"BootDevice", &Info::BootDevice},
    {L"BuildNumber", &Info::BuildNumber},
    {L"BuildType", &Info::BuildType},
    {L"CodeSet", &Info::CodeSet},
    {L"CountryCode", &Info::CountryCode},
    {L"CSDVersion", &Info::CSDVersion},
    {L"Debug", &Info::Debug},
    {L"Description", &Info::Description},
    {L"Distributed", &Info::Distributed},
    {L"EncryptionLevel", &Info::EncryptionLevel},
    {L"Locale", &Info::Locale},
    {L"Manufacturer", &Info::Manufacturer},
    {L"MaxNumberOfProcesses", &Info::MaxNumberOfProcesses},
    {L"Name", &Info::Name},
    {L"NumberOfLicensedUsers", &Info::NumberOfLicensedUsers},
    {L"NumberOfProcesses", &Info::NumberOfProcesses},
    {L"NumberOfUsers", &Info::NumberOfUsers},
    {L"OperatingSystemSKU", &Info::OperatingSystemSKU},
    {L"Organization", &Info::Organization},
    {L"OSArchitecture", &Info::OSArchitecture},
    {L"OSLanguage", &Info::OSLanguage},
    {L"OSProductSuite", &Info::OSProductSuite},
    {L"OtherTypeDescription", &Info::OtherTypeDescription},
    {L"Primary", &Info::Primary},
    {L"ProductType", &Info::ProductType},
    {L"QuantumLength", &Info::QuantumLength},
    {L"QuantumType", &Info::QuantumType},
    {L"RegisteredUser", &Info::RegisteredUser},
    {L"SerialNumber", &Info::SerialNumber},
    {L"ServicePackMajorVersion", &Info::ServicePackMajorVersion},
    {L"ServicePackMinorVersion", &Info::ServicePackMinorVersion},
    {L"SuiteMask", &Info::SuiteMask},
    {L"SystemDevice", &Info::SystemDevice},
    {L"SystemDirectory", &Info::SystemDirectory},
    {L"SystemDrive", &Info::SystemDrive},
    {L"Version", &Info::Version},
    {L"WindowsDirectory", &Info::WindowsDirectory},
};

// Wide text in the narrow code page of the system's A calls.
std::string Narrow(const wchar_t* text) {
    const int size = ::WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1) {
        return "";
    }
    std::string narrow(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, text, -1, narrow.data(), size, nullptr, nullptr);
    narrow.resize(static_cast<std::size_t>(size - 1));
    return narrow;
}

// Numbers arrive as 8-, 16- or 32-bit variants or, for 64 bits, as text.
std::int64_t Number(const VARIANT& value) {
    Variant converted;
    // The call takes its source as changeable but leaves it alone.
    if (FAILED(::VariantChangeType(converted.Get(), const_cast<VARIANT*>(&value), 0, VT_I8))) {
        return 0;
    }
    return converted.Value().llVal;
}

void Store(Info& info, const Field& field, const VARIANT& value) {
    std::visit(
        [&](auto member) {
            using Type = std::remove_reference_t<decltype(info.*member)>;
            if constexpr (std::is_same_v<Type, std::string>) {
                info.*member = value.vt == VT_BSTR ? Narrow(value.bstrVal) : std::string();
            } else if constexpr (std::is_same_v<Type, bool>) {
                info.*member = Number(value) != 0;
            } else {
                info.*member = static_cast<Type>(Number(value));
            }
        },
        field);
}

}  // namespace

void QueryOperatingSystem(OperatingSystemInfo& info, const OperatingSystemSources& sources) {
    ScopedWmiComInit wmi;
    if (FAILED(wmi.Connect(sources.nameSpace.c_str()))) {
        return;
    }
    const auto system = Wmi::GetFirstInstance(*wmi.Services(), sources.className.c_str());
    if (!system) {
        return;
    }
    for (const Property& property : kProperties) {
        try {
            Variant value;
            Wmi::GetVariant(*system.Get(), property.name, value);
            if (value.Value().vt != VT_NULL) {
                Store(info, property.field, value.Value());
            }
        } catch (const CWmiError&) {
            // The property stays as it was; the next one may still be there.
        }
    }
}

void OperatingSystemInfo::Query() {
    QueryOperatingSystem(*this, OperatingSystemSources());
}

}  // namespace sys
