// The COM object behind each automation object: IDispatch by name over the object's member tables.
#pragma once

#include "quorrabox/autoobj.h"

#include <atomic>
#include <memory>

/// The automation layer's own interface identifier: an object answering it is one of ours.
constexpr IID IID_IAutoDispatch = {0xF5B2B8E0, 0x1627, 0x11CF, {0xBD, 0x2F, 0x00, 0x20, 0xAF, 0x0E, 0x5B, 0x81}};

/// Owns one automation object; reference-counted from 1 at creation, destroyed with the object at
/// the final Release. Counts itself in the server state while it lives.
class TAutoDispatch final : public IDispatch {
public:
    explicit TAutoDispatch(std::unique_ptr<TAutoObject> object);
    TAutoDispatch(const TAutoDispatch&) = delete;
    TAutoDispatch& operator=(const TAutoDispatch&) = delete;

    HRESULT QueryInterface(REFIID riid, void** ppvObject) override;
    ULONG AddRef() override;
    ULONG Release() override;
    HRESULT GetTypeInfoCount(UINT* pctinfo) override;
    HRESULT GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) override;
    HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid, DISPID* rgDispId) override;
    HRESULT Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS* pDispParams,
                   VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) override;

private:
    ~TAutoDispatch();
    HRESULT ConvertArgs(const TAutoMember& member, const DISPPARAMS& params, TAutoArgs& args, UINT* puArgErr);
    HRESULT CallMember(const TAutoMember& member, const TAutoArgs& args, VARIANT* pVarResult, EXCEPINFO* pExcepInfo);
    void FillException(EXCEPINFO* info, const char* message) const;

    std::unique_ptr<TAutoObject> m_object;
    std::atomic<ULONG> m_refCount{1};
};
