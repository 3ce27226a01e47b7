// The four exports of the in-process server, and the server state set up when the library loads.
#include "quorrabox/autofact.h"
#include "quorrabox/modulepath.h"
#include "quorrabox/toolauto.h"

// The Windows build names its exports in quorrabox.def; here they are the only visible symbols.
#if defined(_WIN32)
#define QUORRABOX_EXPORT extern "C"
#else
#define QUORRABOX_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

// Loading the library creates the server state and registers the class record in it.
struct TServerSetup {
    TServerSetup() { Automation().RegisterAutoClass(QuorraToolClassInfo()); }
};
const TServerSetup serverSetup;

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
