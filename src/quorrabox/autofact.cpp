// Class factory: interface answers, object creation without aggregation, server locks.
#include "quorrabox/autofact.h"

#include "quorrabox/autodisp.h"

TAutoClassFactory::TAutoClassFactory(const TAutoClassInfo& info) : m_info(info) {
    Automation().FactoryCreated();
}

TAutoClassFactory::~TAutoClassFactory() {
    Automation().FactoryDestroyed();
}

HRESULT TAutoClassFactory::QueryInterface(REFIID riid, void** ppvObject) {
    if (!ppvObject) return E_POINTER;
    if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IClassFactory)) {
        *ppvObject = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    *ppvObject = nullptr;
    return E_NOINTERFACE;
}

ULONG TAutoClassFactory::AddRef() {
    return ++m_refCount;
}

ULONG TAutoClassFactory::Release() {
    ULONG count = --m_refCount;
    if (count == 0) delete this;
    return count;
}

HRESULT TAutoClassFactory::CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) {
    if (!ppvObject) return E_POINTER;
    *ppvObject = nullptr;
    if (pUnkOuter) return CLASS_E_NOAGGREGATION;
    try {
        auto* object = new TAutoDispatch(m_info.Create());
        HRESULT hr = object->QueryInterface(riid, ppvObject);
        object->Release(); // the creation reference: an unanswered interface frees the object here
        return hr;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

HRESULT TAutoClassFactory::LockServer(int fLock) {
    if (fLock)
        Automation().Lock();
    else
        Automation().Unlock();
    return S_OK;
}
