// The four exports of the in-process server, and the server state set up when the library loads.
#include "quorrabox/autofact.h"
#include "quorrabox/toolauto.h"

#include <dlfcn.h>
#include <filesystem>

#define QUORRABOX_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

// Loading the library creates the server state and registers the class record in it.
struct TServerSetup {
    TServerSetup() { Automation().RegisterClass(QuorraToolClassInfo()); }
};
const TServerSetup serverSetup;

// The full path of this library as the loader opened it.
std::string ModulePath() {
    Dl_info info{};
    if (!::dladdr(reinterpret_cast<void*>(&ModulePath), &info) || !info.dli_fname) return {};
    std::error_code ec;
    std::filesystem::path path = std::filesystem::absolute(info.dli_fname, ec);
    return ec ? std::string(info.dli_fname) : path.lexically_normal().string();
}

} // namespace

QUORRABOX_EXPORT HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    const TAutoClassInfo* info = Automation().FindClass(rclsid);
    if (!info) return CLASS_E_CLASSNOTAVAILABLE;
    try {
        auto* factory = new TAutoClassFactory(*info);
        HRESULT hr = factory->QueryInterface(riid, ppv);
        factory->Release();
        return hr;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

QUORRABOX_EXPORT HRESULT DllCanUnloadNow() {
    return Automation().CanUnload() ? S_OK : S_FALSE;
}

QUORRABOX_EXPORT HRESULT DllRegisterServer() {
    try {
        return Automation().RegisterServer(ModulePath());
    } catch (...) {
        return SELFREG_E_CLASS;
    }
}

QUORRABOX_EXPORT HRESULT DllUnregisterServer() {
    try {
        Automation().UnregisterServer();
    } catch (...) {
        // deleting is best effort
    }
    return S_OK;
}
