// Automation data of our own for the platforms without COM: BSTR, VARIANT with the types late-bound
// calls carry, DISPPARAMS, EXCEPINFO, and the variant functions of the automation library.
#pragma once

#include "comtypes.h"

#include <cstdint>

/// A BSTR points at the first UTF-16 unit; the 32-bit byte length sits just before it and a 0 unit
/// follows the text. A null BSTR is the empty string.
using BSTR = OLECHAR*;

BSTR SysAllocString(const OLECHAR* text);
/// Copies `length` units of `text` (embedded zeros kept); a null `text` leaves them zero.
BSTR SysAllocStringLen(const OLECHAR* text, UINT length);
void SysFreeString(BSTR bstr);
UINT SysStringLen(BSTR bstr);

using VARTYPE = std::uint16_t;
using VARIANT_BOOL = std::int16_t;
constexpr VARIANT_BOOL VARIANT_TRUE = -1;
constexpr VARIANT_BOOL VARIANT_FALSE = 0;

constexpr VARTYPE VT_EMPTY = 0;
constexpr VARTYPE VT_NULL = 1;
constexpr VARTYPE VT_I2 = 2;
constexpr VARTYPE VT_I4 = 3;
constexpr VARTYPE VT_R8 = 5;
constexpr VARTYPE VT_BSTR = 8;
constexpr VARTYPE VT_DISPATCH = 9;
constexpr VARTYPE VT_ERROR = 10;
constexpr VARTYPE VT_BOOL = 11;
constexpr VARTYPE VT_VARIANT = 12;
constexpr VARTYPE VT_UNKNOWN = 13;
constexpr VARTYPE VT_BYREF = 0x4000;
constexpr VARTYPE VT_TYPEMASK = 0x0FFF;

/// Flag of VariantChangeTypeEx: a Boolean becomes "True"/"False" instead of "-1"/"0".
constexpr USHORT VARIANT_ALPHABOOL = 0x02;

struct VARIANT {
    VARTYPE vt;
    WORD wReserved1;
    WORD wReserved2;
    WORD wReserved3;
    union {
        LONG lVal;
        SHORT iVal;
        double dblVal;
        VARIANT_BOOL boolVal;
        SCODE scode;
        BSTR bstrVal;
        IUnknown* punkVal;
        IDispatch* pdispVal;
        SHORT* piVal;
        LONG* plVal;
        double* pdblVal;
        VARIANT_BOOL* pboolVal;
        SCODE* pscode;
        BSTR* pbstrVal;
        VARIANT* pvarVal;
        void* byref;
        std::int64_t llVal; // sizes the union like the Windows one (16 bytes of value on 64-bit)
        void* recordPair[2];
    };
};
using VARIANTARG = VARIANT;

struct DISPPARAMS {
    VARIANTARG* rgvarg; // arguments, last first
    DISPID* rgdispidNamedArgs;
    UINT cArgs;
    UINT cNamedArgs;
};

struct EXCEPINFO {
    WORD wCode;
    WORD wReserved;
    BSTR bstrSource;
    BSTR bstrDescription;
    BSTR bstrHelpFile;
    DWORD dwHelpContext;
    void* pvReserved;
    HRESULT (*pfnDeferredFillIn)(EXCEPINFO*);
    SCODE scode;
};

void VariantInit(VARIANT* v);
/// Frees what the variant owns (a BSTR, an interface reference) and leaves it VT_EMPTY.
HRESULT VariantClear(VARIANT* v);
/// Deep copy; `dest` is cleared first.
HRESULT VariantCopy(VARIANT* dest, const VARIANT* src);
/// Converts `src` (by-reference forms followed) into type `vt` in `dest`. Sources: empty, null, I2, I4,
/// R8, BOOL, BSTR, ERROR; targets: I4, R8, BOOL, BSTR, or the source's own type. A failure leaves `dest`
/// untouched and returns DISP_E_TYPEMISMATCH, DISP_E_OVERFLOW or DISP_E_BADVARTYPE. `dest` may be `src`.
HRESULT VariantChangeTypeEx(VARIANT* dest, VARIANT* src, LCID lcid, USHORT wFlags, VARTYPE vt);
