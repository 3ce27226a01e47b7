// The server layer through the exports: registration keys, class factory, interfaces and the
// counts behind DllCanUnloadNow.
#include "serverfixture.h"

#include "quorrabox/com/classregistry.h"

#include <filesystem>

namespace {

const char* const ClsidKey = "CLSID\\{C869E000-8E64-11D0-AEF9-080000002149}";

class Registration : public ServerTest {
protected:
    std::string root = dir.Path() + "/classes";
    ScopedEnv env{"VKT_CLASS_REGISTRY", root};
    TClassRegistry registry{root};
};

TEST_F(Registration, WritesTheClassKeysWithTheLibraryPath) {
    ASSERT_EQ(server.RegisterServer(), S_OK);
    EXPECT_EQ(registry.ReadValue("quorrabox.tools"), "QuorraSoft ToolBox");
    EXPECT_EQ(registry.ReadValue("quorrabox.tools\\Clsid"), "{C869E000-8E64-11D0-AEF9-080000002149}");
    EXPECT_EQ(registry.ReadValue(ClsidKey), "QuorraSoft ToolBox");
    EXPECT_EQ(registry.ReadValue(std::string(ClsidKey) + "\\ProgID"), "quorrabox.tools");
    EXPECT_EQ(registry.ReadValue(std::string(ClsidKey) + "\\InprocServer32"),
              std::filesystem::absolute(QUORRABOX_LIBRARY).lexically_normal().string());
    EXPECT_EQ(registry.SubKeys(ClsidKey).size(), 2u); // no ThreadingModel or other extras
}

TEST_F(Registration, UnregisterDeletesDeepestFirstAndLeavesOtherClasses) {
    registry.WriteValue("CLSID\\{00000000-1111-2222-3333-444444444444}", "someone else");
    ASSERT_EQ(server.RegisterServer(), S_OK);
    // Keys are deleted one by one and a key with subkeys refuses, so only the right order empties them all.
    ASSERT_EQ(server.UnregisterServer(), S_OK);
    EXPECT_FALSE(registry.KeyExists("quorrabox.tools"));
    EXPECT_FALSE(registry.KeyExists(ClsidKey));
    EXPECT_EQ(registry.ReadValue("CLSID\\{00000000-1111-2222-3333-444444444444}"), "someone else");
    EXPECT_EQ(server.UnregisterServer(), S_OK); // never (or no longer) registered
}

TEST_F(Registration, WritesTheProgIdKeysFirstAndReportsAFailedWrite) {
    std::filesystem::create_directories(root);
    WriteFileText(root + "/CLSID", "blocks the CLSID key");
    EXPECT_EQ(server.RegisterServer(), SELFREG_E_CLASS);
    EXPECT_EQ(registry.ReadValue("quorrabox.tools\\Clsid"), "{C869E000-8E64-11D0-AEF9-080000002149}");
    EXPECT_FALSE(registry.KeyExists(ClsidKey));
}

TEST_F(ServerTest, ClassObjectOnlyForTheRegisteredClass) {
    void* factory = reinterpret_cast<void*>(1);
    const CLSID other = {0x12345678, 0, 0, {0, 0, 0, 0, 0, 0, 0, 1}};
    EXPECT_EQ(server.GetClassObject(other, IID_IClassFactory, &factory), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(factory, nullptr);
    EXPECT_EQ(server.GetClassObject(QuorraToolClsid, IID_IDispatch, &factory), E_NOINTERFACE);
    EXPECT_EQ(factory, nullptr);
    EXPECT_EQ(server.CanUnloadNow(), S_OK); // the refused factory is gone
}

TEST_F(ServerTest, FactoryRefusesAggregationAndUnknownInterfaces) {
    IClassFactory* factory = Factory();
    IDispatch* outer = NewTool();
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(factory->CreateInstance(outer, IID_IUnknown, &object), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IClassFactory, &object), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
    factory->Release();
}

TEST_F(ServerTest, ObjectAnswersItsInterfacesAsOneObject) {
    IDispatch* tool = NewTool();
    void* unknown = nullptr;
    void* own = nullptr;
    void* other = reinterpret_cast<void*>(1);
    const IID autoIid = {0xF5B2B8E0, 0x1627, 0x11CF, {0xBD, 0x2F, 0x00, 0x20, 0xAF, 0x0E, 0x5B, 0x81}};
    ASSERT_EQ(tool->QueryInterface(IID_IUnknown, &unknown), S_OK);
    ASSERT_EQ(tool->QueryInterface(autoIid, &own), S_OK);
    EXPECT_EQ(unknown, tool);
    EXPECT_EQ(own, tool);
    EXPECT_EQ(tool->QueryInterface(IID_IClassFactory, &other), E_NOINTERFACE);
    EXPECT_EQ(other, nullptr);
    tool->Release();
    tool->Release();
    UINT count = 9;
    ITypeInfo* info = reinterpret_cast<ITypeInfo*>(1);
    EXPECT_EQ(tool->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(tool->GetTypeInfo(0, LOCALE_USER_DEFAULT, &info), E_NOTIMPL);
    EXPECT_EQ(info, nullptr);
}

TEST_F(ServerTest, CanUnloadOnlyWhenNothingIsAlive) {
    EXPECT_EQ(server.CanUnloadNow(), S_OK);
    IClassFactory* factory = Factory();
    EXPECT_EQ(server.CanUnloadNow(), S_FALSE);
    IDispatch* object = nullptr;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(&object)), S_OK);
    factory->LockServer(1);
    factory->Release();
    EXPECT_EQ(server.CanUnloadNow(), S_FALSE); // the object and the lock
    object->Release();
    EXPECT_EQ(server.CanUnloadNow(), S_FALSE); // the lock
    factory = Factory();
    factory->LockServer(0);
    factory->LockServer(0); // an unlock too many must not hide a live object
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(&object)), S_OK);
    factory->Release();
    EXPECT_EQ(server.CanUnloadNow(), S_FALSE);
    object->Release();
    EXPECT_EQ(server.CanUnloadNow(), S_OK);
}

} // namespace
