// Loads the built quorrabox library the way a client does and makes TQuorraTool objects through
// its exported class factory; helpers to build call arguments and to call members by DISPID.
#pragma once

#include "quorrabox/autocall/inprocserver.h"
#include "testutil.h"

#include <gtest/gtest.h>
#include <vector>

inline const CLSID QuorraToolClsid = {0xC869E000, 0x8E64, 0x11D0, {0xAE, 0xF9, 0x08, 0x00, 0x00, 0x00, 0x21, 0x49}};

/// Argument variants of one call, first to last as written; Block() gives them last first.
class Args {
public:
    Args() = default;
    Args(const Args&) = delete;
    ~Args() {
        for (auto& v : m_vars)
            VariantClear(&v);
    }
    Args& Str(const std::string& s) {
        return Add(VT_BSTR, [&](VARIANT& v) { v.bstrVal = StringToBstr(s); });
    }
    Args& I4(LONG i) {
        return Add(VT_I4, [&](VARIANT& v) { v.lVal = i; });
    }
    Args& R8(double d) {
        return Add(VT_R8, [&](VARIANT& v) { v.dblVal = d; });
    }
    Args& Missing() {
        return Add(VT_ERROR, [](VARIANT& v) { v.scode = DISP_E_PARAMNOTFOUND; });
    }
    Args& Null() {
        return Add(VT_NULL, [](VARIANT&) {});
    }
    VARIANT* Block() {
        m_block.assign(m_vars.rbegin(), m_vars.rend());
        return m_block.empty() ? nullptr : m_block.data();
    }
    UINT Count() const { return static_cast<UINT>(m_vars.size()); }

private:
    template <class F> Args& Add(VARTYPE vt, F fill) {
        VARIANT v;
        VariantInit(&v);
        v.vt = vt;
        fill(v);
        m_vars.push_back(v);
        return *this;
    }
    std::vector<VARIANT> m_vars;
    std::vector<VARIANT> m_block; // shallow copies: owned by m_vars
};

/// Outcome of one Invoke.
struct Call {
    HRESULT hr = S_OK;
    VARIANT result{};
    EXCEPINFO info{};
    UINT argErr = 12345;
    Call() = default;
    Call(const Call&) = delete;
    Call(Call&& other) noexcept : hr(other.hr), result(other.result), info(other.info), argErr(other.argErr) {
        VariantInit(&other.result);
        other.info = {};
    }
    ~Call() {
        VariantClear(&result);
        ClearExcepInfo(&info);
    }
    std::string Text() const { return result.vt == VT_BSTR ? BstrToString(result.bstrVal) : "(not text)"; }
    LONG Int() const { return result.vt == VT_I4 ? result.lVal : -999999; }
};

class ServerTest : public testing::Test {
protected:
    void SetUp() override {
        std::string detail;
        ASSERT_EQ(server.Load(QUORRABOX_LIBRARY, detail), S_OK) << detail;
    }
    void TearDown() override {
        for (IDispatch* d : objects)
            d->Release();
        EXPECT_TRUE(server.Unload()) << "an object or factory of the library is still alive";
    }

    IClassFactory* Factory() {
        IClassFactory* factory = nullptr;
        EXPECT_EQ(server.GetClassObject(QuorraToolClsid, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
        return factory;
    }

    /// A new TQuorraTool, released at the end of the test.
    IDispatch* NewTool() {
        IClassFactory* factory = Factory();
        IDispatch* object = nullptr;
        EXPECT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(&object)), S_OK);
        factory->Release();
        objects.push_back(object);
        return object;
    }

    static Call Invoke(IDispatch* d, DISPID id, WORD flags, Args& args, bool wantResult = true,
                       std::vector<DISPID> named = {}) {
        Call call;
        DISPPARAMS params{args.Block(), named.empty() ? nullptr : named.data(), args.Count(),
                          static_cast<UINT>(named.size())};
        call.hr = d->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, wantResult ? &call.result : nullptr,
                            &call.info, &call.argErr);
        return call;
    }

    static Call Put(IDispatch* d, DISPID id, const std::string& value) {
        Args args;
        args.Str(value);
        return Invoke(d, id, DISPATCH_PROPERTYPUT, args, false, {DISPID_PROPERTYPUT});
    }

    static Call Method(IDispatch* d, DISPID id, Args& args) {
        return Invoke(d, id, DISPATCH_METHOD | DISPATCH_PROPERTYGET, args);
    }

    TInprocServer server;
    std::vector<IDispatch*> objects;
    TempDir dir;
};

// DISPIDs of TQuorraTool's members.
enum : DISPID { ReadIniString = 1, ReadIniInteger = 2, ReadIniBool = 3, IniClose = 4, IniFileName = 5 };
