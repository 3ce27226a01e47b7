// IDispatch of automation objects: name lookup and the call rules of Invoke with their error codes.
#include "quorrabox/autodisp.h"

#include "quorrabox/autoserv.h"

#include <cstring>
#include <exception>
#include <new>

namespace {

// A name as the member tables hold names: 8-bit, at most 255 characters, ending at the first
// character that has no 8-bit form.
std::string ShortName(const OLECHAR* name) {
    std::string out;
    for (std::size_t i = 0; name && name[i] && i < 255; ++i) {
        if (name[i] > 255) break;
        out += static_cast<char>(name[i]);
    }
    return out;
}

// A put must name its one value with DISPID_PROPERTYPUT; other calls name no argument.
bool NamedArgsValid(const TAutoMember& member, const DISPPARAMS& params) {
    if (member.Kind != TAutoMemberKind::PropertyPut) return params.cNamedArgs == 0;
    return params.cNamedArgs == 1 && params.rgdispidNamedArgs && params.rgdispidNamedArgs[0] == DISPID_PROPERTYPUT;
}

TAutoValue FromVariant(const VARIANT& v) {
    if (v.vt == VT_BSTR) return BstrToString(v.bstrVal);
    if (v.vt == VT_I4) return v.lVal;
    return {};
}

void ToVariant(const TAutoValue& value, VARIANT& out) {
    VariantInit(&out);
    if (const auto* text = std::get_if<std::string>(&value)) {
        out.vt = VT_BSTR;
        out.bstrVal = StringToBstr(*text);
    } else if (const auto* number = std::get_if<LONG>(&value)) {
        out.vt = VT_I4;
        out.lVal = *number;
    }
}

} // namespace

TAutoDispatch::TAutoDispatch(std::unique_ptr<TAutoObject> object) : m_object(std::move(object)) {
    Automation().ObjectCreated();
}

TAutoDispatch::~TAutoDispatch() {
    Automation().ObjectDestroyed();
}

HRESULT TAutoDispatch::QueryInterface(REFIID riid, void** ppvObject) {
    if (!ppvObject) return E_POINTER;
    if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IDispatch) || IsEqualGUID(riid, IID_IAutoDispatch)) {
        *ppvObject = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    *ppvObject = nullptr;
    return E_NOINTERFACE;
}

ULONG TAutoDispatch::AddRef() {
    return ++m_refCount;
}

ULONG TAutoDispatch::Release() {
    ULONG count = --m_refCount;
    if (count == 0) delete this;
    return count;
}

HRESULT TAutoDispatch::GetTypeInfoCount(UINT* pctinfo) {
    if (!pctinfo) return E_POINTER;
    *pctinfo = 0;
    return S_OK;
}

HRESULT TAutoDispatch::GetTypeInfo(UINT, LCID, ITypeInfo** ppTInfo) {
    if (ppTInfo) *ppTInfo = nullptr;
    return E_NOTIMPL;
}

HRESULT TAutoDispatch::GetIDsOfNames(REFIID, LPOLESTR* rgszNames, UINT cNames, LCID, DISPID* rgDispId) {
    if (cNames > 0 && (!rgszNames || !rgDispId)) return E_POINTER;
    if (cNames == 0) return DISP_E_UNKNOWNNAME;
    const TAutoMember* member = nullptr;
    try {
        member = m_object->FindMemberByName(ShortName(rgszNames[0]));
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    rgDispId[0] = member ? member->DispId : DISPID_UNKNOWN;
    for (UINT i = 1; i < cNames; ++i)
        rgDispId[i] = DISPID_UNKNOWN; // named arguments are not supported
    return member && cNames == 1 ? S_OK : DISP_E_UNKNOWNNAME;
}

HRESULT TAutoDispatch::Invoke(DISPID dispIdMember, REFIID, LCID, WORD wFlags, DISPPARAMS* pDispParams,
                              VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) {
    if (!pDispParams || (pDispParams->cArgs > 0 && !pDispParams->rgvarg)) return E_POINTER;
    if (wFlags & DISPATCH_PROPERTYPUTREF) wFlags = (wFlags & ~DISPATCH_PROPERTYPUTREF) | DISPATCH_PROPERTYPUT;
    const TAutoMember* member = m_object->FindMember(dispIdMember, wFlags);
    if (!member || (member->Result == VT_EMPTY && pVarResult)) return DISP_E_MEMBERNOTFOUND;
    if (!NamedArgsValid(*member, *pDispParams)) return DISP_E_NONAMEDARGS;
    if (pDispParams->cArgs != member->Params.size()) return DISP_E_BADPARAMCOUNT;
    try {
        TAutoArgs args;
        if (HRESULT hr = ConvertArgs(*member, *pDispParams, args, puArgErr); FAILED(hr)) return hr;
        return CallMember(*member, args, pVarResult, pExcepInfo);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT TAutoDispatch::ConvertArgs(const TAutoMember& member, const DISPPARAMS& params, TAutoArgs& args,
                                   UINT* puArgErr) {
    for (UINT i = 0; i < params.cArgs; ++i) {
        UINT position = params.cArgs - 1 - i; // the block holds the arguments last first
        VARIANT& arg = params.rgvarg[position];
        VARIANT converted;
        VariantInit(&converted);
        HRESULT hr = arg.vt == VT_ERROR
                         ? DISP_E_PARAMNOTOPTIONAL
                         : VariantChangeTypeEx(&converted, &arg, LOCALE_SYSTEM_DEFAULT, 0, member.Params[i]);
        if (FAILED(hr)) {
            if (puArgErr) *puArgErr = position;
            return hr;
        }
        args.push_back(FromVariant(converted));
        VariantClear(&converted);
    }
    return S_OK;
}

HRESULT TAutoDispatch::CallMember(const TAutoMember& member, const TAutoArgs& args, VARIANT* pVarResult,
                                  EXCEPINFO* pExcepInfo) {
    try {
        TAutoValue result = member.Call(*m_object, args);
        if (pVarResult) ToVariant(result, *pVarResult);
        return S_OK;
    } catch (const std::exception& e) {
        FillException(pExcepInfo, e.what());
    } catch (...) {
        FillException(pExcepInfo, "Unknown error");
    }
    return DISP_E_EXCEPTION;
}

void TAutoDispatch::FillException(EXCEPINFO* info, const char* message) const {
    if (!info) return;
    std::memset(info, 0, sizeof *info);
    info->bstrSource = StringToBstr(m_object->ClassName());
    info->bstrDescription = StringToBstr(message);
    info->scode = E_FAIL;
}
