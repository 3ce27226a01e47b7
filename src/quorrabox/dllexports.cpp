// The four exports of the in-process server, and the server state set up when the library loads.
#include "quorrabox/autofact.h"
#include "quorrabox/modulepath.h"
#include "quorrabox/toolauto.h"

#include <string>

namespace {

// Loading the library creates the server state and registers the class record in it.
struct TServerSetup {
    TServerSetup() { Automation().RegisterAutoClass(QuorraToolClassInfo()); }
};
const TServerSetup serverSetup;

} // namespace

VKT_COM_EXPORT HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
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

VKT_COM_EXPORT HRESULT DllCanUnloadNow() {
    return Automation().CanUnload() ? S_OK : S_FALSE;
}

VKT_COM_EXPORT HRESULT DllRegisterServer() {
    try {
        // A server path that cannot be told would register a class no client can load.
        std::string path = ModulePath();
        if (path.empty()) return SELFREG_E_CLASS;
        return Automation().RegisterServer(path);
    } catch (...) {
        return SELFREG_E_CLASS;
    }
}

VKT_COM_EXPORT HRESULT DllUnregisterServer() {
    try {
        Automation().UnregisterServer();
    } catch (...) {
        // deleting is best effort
    }
    return S_OK;
}
