#pragma once

#include <windows.h>
// The WMI interfaces need the system's types declared first.
#include <wbemidl.h>

#include "common/sys/windows/Owned.h"

namespace sys {

// One connection to WMI from the calling thread: COM started for the thread (multithreaded)
// and the services of one namespace, asked to impersonate the caller. Everything is given
// back, COM last, when the object goes.
class ScopedWmiComInit {
public:
    ScopedWmiComInit() = default;
    ScopedWmiComInit(const ScopedWmiComInit&) = delete;
    ScopedWmiComInit& operator=(const ScopedWmiComInit&) = delete;
    virtual ~ScopedWmiComInit();

    // The first failing result of the steps, or the last success.
    HRESULT Connect(const wchar_t* nameSpace);
    IWbemServices* Services() const { return services_.Get(); }

private:
    HRESULT StartCom();

    bool comStarted_ = false;
    win::ComPtr<IWbemLocator> locator_;
    win::ComPtr<IWbemServices> services_;
};

// A VARIANT that is cleared when it goes.
class Variant {
public:
    Variant() { ::VariantInit(&value_); }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;
    ~Variant() { ::VariantClear(&value_); }

    VARIANT* Get() { return &value_; }
    const VARIANT& Value() const { return value_; }

private:
    VARIANT value_;
};

namespace Wmi {

// The first instance of the class; empty when there is none or the enumeration fails.
win::ComPtr<IWbemClassObject> GetFirstInstance(IWbemServices& services, const wchar_t* className);
// Reads one property; raises sys::CWmiError when the object does not give it.
void GetVariant(IWbemClassObject& object, const wchar_t* property, Variant& value);

}  // namespace Wmi

}  // namespace sys
