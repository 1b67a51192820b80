#pragma once

#include <exception>
#include <functional>
#include <string>

#include <corvane/IQXMessage.h>

// The agent's settings: a fixed table of 63 named, typed values, each kept as the value of
// that name in the settings store key HKEY_LOCAL_MACHINE "Software\Corvane\Client Service".
// Settings have no built-in defaults: a setting that is not stored has no value, and each
// caller brings its own fallback. The object holds no data; every operation opens the key
// (creating it when missing) and closes it again, so it can be made on the stack anywhere
// and used from any thread.
class CSettings {
public:
    // Sets value to the stored setting as text. An unknown name leaves value alone. A
    // setting that is not stored, or is stored as another kind of value, raises
    // sys::RegistryError; any other failure leaves value alone too.
    void GetSetting(const std::string& name, std::string& value) const;
    // Stores the text as the setting's type: a boolean as 1 for anything but no, false or
    // 0 (any case); an integer or unsigned setting as the decimal number the text begins
    // with, 0 when it begins with none. No text is refused, and an unknown name is ignored.
    // A store that cannot be written raises sys::RegistryError; other failures raise
    // err::CGeneralError.
    void SetSetting(const std::string& name, const std::string& value) const;
    // Deletes the stored value of that name, setting or not.
    void DeleteSetting(const std::string& name) const;
    // With the "Settings" value "Specified" (any case), fills the fields the message has
    // with their stored settings and leaves the others as they are; otherwise adds every
    // stored setting as a field. Never raises for a single setting.
    void GetSettings(msg::IQXMessage* message) const;
    // Gets each failure of SetSettings as it happens: a sys::RegistryError or another
    // member of the err::CGeneralError family.
    using FailureHandler = std::function<void(const std::exception_ptr& failure)>;
    // Stores each field of the message that names a setting, in name order. Every field is
    // tried: a field that cannot be stored goes to onFailure and the walk goes on.
    void SetSettings(msg::IQXMessage* message, const FailureHandler& onFailure) const;
    // Deletes every setting, then the settings key and its parent "Software\Corvane"; the
    // parent stays, with sys::RegistryError value 4, when something else is below it.
    void DeleteAllSettings() const;
};
