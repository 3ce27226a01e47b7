// Client side of in-process servers: finding a class through the class registry, loading the
// server library and reaching its four exports, as a COM runtime does for CoCreateInstance.
#pragma once

#include "quorrabox/com/comvariant.h"

#include <string>

/// One loaded server library. Closing it waits until the library says it may be unloaded.
class TInprocServer {
public:
    TInprocServer() = default;
    TInprocServer(const TInprocServer&) = delete;
    TInprocServer& operator=(const TInprocServer&) = delete;
    ~TInprocServer();

    /// Loads the library at `path` (made absolute); CO_E_DLLNOTFOUND with the loader's message in `detail`.
    HRESULT Load(const std::string& path, std::string& detail);
    HRESULT GetClassObject(REFCLSID clsid, REFIID riid, void** ppv);
    HRESULT CanUnloadNow();
    HRESULT RegisterServer();
    HRESULT UnregisterServer();
    /// Closes the library when it reports that it is not in use; true when it is closed.
    bool Unload();

private:
    void* Export(const char* name) const;

    void* m_handle = nullptr;
};

/// The CLSID registered for a ProgID; CO_E_CLASSSTRING when there is none.
HRESULT CLSIDFromProgID(const std::string& progId, CLSID& clsid);
/// The library registered as the in-process server of a class; REGDB_E_CLASSNOTREG when there is none.
HRESULT InprocServerPath(REFCLSID clsid, std::string& path);
/// ProgID → CLSID → library → class factory → new object asked for IDispatch. `detail` explains a failure.
HRESULT CreateObjectByProgID(const std::string& progId, TInprocServer& server, IDispatch** object, std::string& detail);
