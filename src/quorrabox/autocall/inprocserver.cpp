// Loading in-process server libraries and creating their objects through the class registry.
#include "quorrabox/autocall/inprocserver.h"

#include "quorrabox/com/classregistry.h"

#include <dlfcn.h>
#include <filesystem>

namespace {

HRESULT Fail(std::string& detail, std::string text, HRESULT hr) {
    detail = std::move(text);
    return hr;
}

} // namespace

TInprocServer::~TInprocServer() {
    Unload();
}

HRESULT TInprocServer::Load(const std::string& path, std::string& detail) {
    std::error_code ec;
    std::string full = std::filesystem::absolute(path, ec).lexically_normal().string();
    m_handle = ::dlopen(ec ? path.c_str() : full.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (m_handle) return S_OK;
    const char* error = ::dlerror();
    detail = error ? error : "cannot load " + path;
    return CO_E_DLLNOTFOUND;
}

void* TInprocServer::Export(const char* name) const {
    return m_handle ? ::dlsym(m_handle, name) : nullptr;
}

HRESULT TInprocServer::GetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
    auto fn = reinterpret_cast<DllGetClassObjectFunc>(Export("DllGetClassObject"));
    return fn ? fn(clsid, riid, ppv) : CO_E_ERRORINDLL;
}

HRESULT TInprocServer::CanUnloadNow() {
    auto fn = reinterpret_cast<DllCanUnloadNowFunc>(Export("DllCanUnloadNow"));
    return fn ? fn() : S_FALSE;
}

HRESULT TInprocServer::RegisterServer() {
    auto fn = reinterpret_cast<DllRegisterServerFunc>(Export("DllRegisterServer"));
    return fn ? fn() : CO_E_ERRORINDLL;
}

HRESULT TInprocServer::UnregisterServer() {
    auto fn = reinterpret_cast<DllUnregisterServerFunc>(Export("DllUnregisterServer"));
    return fn ? fn() : CO_E_ERRORINDLL;
}

bool TInprocServer::Unload() {
    if (!m_handle) return true;
    if (CanUnloadNow() != S_OK) return false; // an object of the library is still alive: keep its code
    ::dlclose(m_handle);
    m_handle = nullptr;
    return true;
}

HRESULT CLSIDFromProgID(const std::string& progId, CLSID& clsid) {
    std::optional<std::string> text = GetRegStringValue(progId + "\\Clsid");
    return text && StringToGuid(*text, clsid) ? S_OK : CO_E_CLASSSTRING;
}

HRESULT InprocServerPath(REFCLSID clsid, std::string& path) {
    std::optional<std::string> value = GetRegStringValue("CLSID\\" + GuidToString(clsid) + "\\InprocServer32");
    if (!value || value->empty()) return REGDB_E_CLASSNOTREG;
    path = *value;
    return S_OK;
}

HRESULT CreateObjectByProgID(const std::string& progId, TInprocServer& server, IDispatch** object,
                             std::string& detail) {
    *object = nullptr;
    CLSID clsid{};
    std::string path;
    if (HRESULT hr = CLSIDFromProgID(progId, clsid); FAILED(hr))
        return Fail(detail, "Invalid class string " + progId, hr);
    if (HRESULT hr = InprocServerPath(clsid, path); FAILED(hr))
        return Fail(detail, "Class " + GuidToString(clsid) + " is not registered", hr);
    if (HRESULT hr = server.Load(path, detail); FAILED(hr)) return hr;
    IClassFactory* factory = nullptr;
    HRESULT hr = server.GetClassObject(clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory));
    if (FAILED(hr)) return Fail(detail, "DllGetClassObject of " + path, hr);
    hr = factory->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(object));
    factory->Release();
    if (FAILED(hr)) detail = "CreateInstance of " + progId;
    return hr;
}
