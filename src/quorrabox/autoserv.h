// The server layer's state: the registered automation classes with their registration records,
// the counts of live objects and class factories, and the registry entries of each class.
#pragma once

#include "quorrabox/autoobj.h"

#include <atomic>
#include <memory>
#include <string>
#include <vector>

enum class TAutoInstancing { Internal, SingleInstance, MultiInstance };

/// Registration record of one automation class.
struct TAutoClassInfo {
    const char* ClassName;
    const char* ProgID;
    CLSID ClassID;
    const char* Description;
    TAutoInstancing Instancing;
    std::unique_ptr<TAutoObject> (*Create)();
};

/// One per loaded library. The counts tell whether the library is still in use.
class TAutomation {
public:
    void RegisterAutoClass(const TAutoClassInfo& info);
    /// The registered class with this CLSID, null when there is none.
    const TAutoClassInfo* FindClass(REFCLSID clsid) const;

    void ObjectCreated() { ++m_objectCount; }
    void ObjectDestroyed() { --m_objectCount; }
    void FactoryCreated() { ++m_factoryCount; }
    void FactoryDestroyed() { --m_factoryCount; }
    /// Server locks of IClassFactory::LockServer; an unlock without a lock is ignored.
    void Lock() { ++m_lockCount; }
    void Unlock();
    /// True when no object, class factory or server lock is alive.
    bool CanUnload() const { return m_objectCount == 0 && m_factoryCount == 0 && m_lockCount == 0; }

    /// Writes the registry entries of every class that is not internal, with `serverPath` as the
    /// in-process server. Stops at the first write that fails and returns SELFREG_E_CLASS, else S_OK.
    HRESULT RegisterServer(const std::string& serverPath) const;
    /// Deletes those entries, deepest key first; keys that are missing are skipped. Always S_OK.
    HRESULT UnregisterServer() const;

private:
    std::vector<const TAutoClassInfo*> m_classes;
    std::atomic<long> m_objectCount{0};
    std::atomic<long> m_factoryCount{0};
    std::atomic<long> m_lockCount{0};
};

/// The server state of this library, created when the library is loaded.
TAutomation& Automation();
