// Server state and class registration: the keys each class writes and deletes, in their order.
#include "quorrabox/autoserv.h"

#include "quorrabox/com/classregistry.h"

#include <exception>

namespace {

// The keys of one class with their values, in the order they are written.
std::vector<std::pair<std::string, std::string>> RegistryEntries(const TAutoClassInfo& info,
                                                                 const std::string& serverPath) {
    std::string progId = info.ProgID;
    std::string clsid = GuidToString(info.ClassID);
    std::string clsidKey = "CLSID\\" + clsid;
    return {
        {progId, info.Description},
        {progId + "\\Clsid", clsid},
        {clsidKey, info.Description},
        {clsidKey + "\\ProgID", progId},
        {clsidKey + "\\InprocServer32", serverPath},
    };
}

} // namespace

void TAutomation::RegisterAutoClass(const TAutoClassInfo& info) {
    m_classes.push_back(&info);
}

const TAutoClassInfo* TAutomation::FindClass(REFCLSID clsid) const {
    for (const TAutoClassInfo* info : m_classes)
        if (IsEqualGUID(info->ClassID, clsid)) return info;
    return nullptr;
}

void TAutomation::Unlock() {
    long count = m_lockCount.load();
    while (count > 0 && !m_lockCount.compare_exchange_weak(count, count - 1)) {
    }
}

HRESULT TAutomation::RegisterServer(const std::string& serverPath) const {
    try {
        for (const TAutoClassInfo* info : m_classes) {
            if (info->Instancing == TAutoInstancing::Internal) continue;
            for (const auto& [key, value] : RegistryEntries(*info, serverPath))
                CreateRegKey(key, value);
        }
    } catch (const std::exception&) {
        return SELFREG_E_CLASS;
    }
    return S_OK;
}

HRESULT TAutomation::UnregisterServer() const {
    for (const TAutoClassInfo* info : m_classes) {
        if (info->Instancing == TAutoInstancing::Internal) continue;
        auto entries = RegistryEntries(*info, {});
        for (auto it = entries.rbegin(); it != entries.rend(); ++it)
            DeleteRegKey(it->first);
    }
    return S_OK;
}

TAutomation& Automation() {
    static TAutomation server;
    return server;
}
