// The class factory of the server layer: makes the automation objects of one registered class.
#pragma once

#include "quorrabox/autoserv.h"

#include <atomic>

/// Reference-counted from 1 at creation; counts itself in the server state while it lives.
class TAutoClassFactory final : public IClassFactory {
public:
    explicit TAutoClassFactory(const TAutoClassInfo& info);
    TAutoClassFactory(const TAutoClassFactory&) = delete;
    TAutoClassFactory& operator=(const TAutoClassFactory&) = delete;

    HRESULT QueryInterface(REFIID riid, void** ppvObject) override;
    ULONG AddRef() override;
    ULONG Release() override;
    /// Refuses aggregation; otherwise a new object asked for `riid`.
    HRESULT CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) override;
    HRESULT LockServer(int fLock) override;

private:
    ~TAutoClassFactory();

    const TAutoClassInfo& m_info;
    std::atomic<ULONG> m_refCount{1};
};
