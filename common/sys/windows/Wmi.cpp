#include "common/sys/windows/Wmi.h"

#include <oleauto.h>

#include "common/err/Errors.h"

namespace sys {

namespace {

// The fixed line and value of the error a property that cannot be read raises.
constexpr int kLinePropertyUnreadable = 2152;
constexpr int kWmiPropertyUnreadable = 1;

// A BSTR made for one call and freed after it.
using Bstr = win::Owned<BSTR, ::SysFreeString>;

}  // namespace

ScopedWmiComInit::~ScopedWmiComInit() {
    services_.Reset();
    locator_.Reset();
    if (comStarted_) {
        ::CoUninitialize();
    }
}

HRESULT ScopedWmiComInit::StartCom() {
    HRESULT result = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    comStarted_ = SUCCEEDED(result);
    // A thread whose COM runs in another model can still use it.
    if (result == RPC_E_CHANGED_MODE) {
        result = S_OK;
    }
    if (FAILED(result)) {
        return result;
    }
    result = ::CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_CONNECT,
                                    RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr);
    // Security is set once per process: a second query finds it set by the first.
    return result == RPC_E_TOO_LATE ? S_OK : result;
}

HRESULT ScopedWmiComInit::Connect(const wchar_t* nameSpace) {
    HRESULT result = StartCom();
    if (SUCCEEDED(result)) {
        result = ::CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER,
                                    IID_IWbemLocator, reinterpret_cast<void**>(locator_.Put()));
    }
    if (SUCCEEDED(result)) {
        const Bstr name(::SysAllocString(nameSpace));
        result = locator_.Get()->ConnectServer(name.Get(), nullptr, nullptr, nullptr, 0, nullptr,
                                               nullptr, services_.Put());
    }
    if (SUCCEEDED(result)) {
        result = ::CoSetProxyBlanket(services_.Get(), RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr,
                                     RPC_C_AUTHN_LEVEL_CALL, RPC_C_IMP_LEVEL_IMPERSONATE, nullptr,
                                     EOAC_NONE);
    }
    return result;
}

namespace Wmi {

win::ComPtr<IWbemClassObject> GetFirstInstance(IWbemServices& services, const wchar_t* className) {
    win::ComPtr<IEnumWbemClassObject> instances;
    const Bstr name(::SysAllocString(className));
    win::ComPtr<IWbemClassObject> first;
    ULONG returned = 0;
    if (FAILED(services.CreateInstanceEnum(name.Get(), 0, nullptr, instances.Put())) ||
        FAILED(instances.Get()->Next(0, 1, first.Put(), &returned)) || returned != 1) {
        return {};
    }
    return first;
}

void GetVariant(IWbemClassObject& object, const wchar_t* property, Variant& value) {
    CIMTYPE type = 0;
    if (FAILED(object.Get(property, 0, value.Get(), &type, nullptr))) {
        throw CWmiError("Wmi", "Wmi::GetVariant() - IWbemClassObject->Get() failed.",
                        kLinePropertyUnreadable, kWmiPropertyUnreadable, ::GetLastError());
    }
}

}  // namespace Wmi

}  // namespace sys
