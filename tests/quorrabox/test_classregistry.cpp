// The file-backed class registry: key lookup without regard to case, safe key names, deletion rules.
#include "quorrabox/com/classregistry.h"

#include "platform/errors.h"
#include "testutil.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace {

class ClassRegistry : public testing::Test {
protected:
    TempDir dir;
    TClassRegistry registry{dir.Path() + "/classes"};
};

TEST_F(ClassRegistry, ReadsKeysInAnyLetterCase) {
    registry.WriteValue("CLSID\\{ABC}\\InprocServer32", "/lib/one.so");
    EXPECT_EQ(registry.ReadValue("clsid\\{abc}\\INPROCSERVER32"), "/lib/one.so");
    registry.WriteValue("clsid\\{abc}\\inprocserver32", "/lib/two.so"); // the same key, replaced
    EXPECT_EQ(registry.ReadValue("CLSID\\{ABC}\\InprocServer32"), "/lib/two.so");
    EXPECT_EQ(registry.SubKeys("CLSID"), std::vector<std::string>{"{ABC}"});
    EXPECT_EQ(registry.ReadValue("CLSID"), std::nullopt); // created as a parent, without a value
    EXPECT_EQ(registry.ReadValue("CLSID\\{ABD}"), std::nullopt);
}

TEST_F(ClassRegistry, ReplacesValuesWithoutLeavingTemporaryFiles) {
    registry.WriteValue("key", "first");
    registry.WriteValue("key", "");
    EXPECT_EQ(registry.ReadValue("key"), "");
    auto files = std::distance(std::filesystem::directory_iterator(dir.Path() + "/classes/key"),
                               std::filesystem::directory_iterator());
    EXPECT_EQ(files, 1);
}

TEST_F(ClassRegistry, KeepsEveryNameInsideTheRoot) {
    const std::vector<std::string> names = {"..", ".", "a/b", "@", "100%", ".hidden", "tab\there"};
    for (const auto& name : names)
        registry.WriteValue("odd\\" + name, "v:" + name);
    for (const auto& name : names)
        EXPECT_EQ(registry.ReadValue("odd\\" + name), "v:" + name) << name;
    auto found = registry.SubKeys("odd");
    std::sort(found.begin(), found.end());
    auto expected = names;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(found, expected);
    EXPECT_EQ(registry.SubKeys(""), std::vector<std::string>{"odd"}); // nothing escaped the root
    EXPECT_FALSE(std::filesystem::exists(dir.Path() + "/a"));
}

TEST_F(ClassRegistry, DeletesOnlyKeysWithoutSubkeys) {
    registry.WriteValue("prog\\Clsid", "{X}");
    registry.WriteValue("prog", "Description");
    EXPECT_FALSE(registry.DeleteKey("prog")); // still has Clsid
    EXPECT_EQ(registry.ReadValue("prog"), "Description");
    EXPECT_TRUE(registry.DeleteKey("PROG\\CLSID"));
    EXPECT_TRUE(registry.DeleteKey("prog"));
    EXPECT_FALSE(registry.KeyExists("prog"));
    EXPECT_FALSE(registry.DeleteKey("prog"));
}

TEST_F(ClassRegistry, RefusesMalformedNamesAndUnwritableStores) {
    for (const char* bad : {"", "\\lead", "trail\\", "a\\\\b"}) {
        EXPECT_THROW(registry.WriteValue(bad, "x"), EArgumentError) << bad;
        EXPECT_EQ(registry.ReadValue(bad), std::nullopt) << bad;
    }
    WriteFileText(dir.File("file"), "not a directory");
    TClassRegistry blocked(dir.File("file"));
    EXPECT_THROW(blocked.WriteValue("key", "x"), EInOutError);
}

TEST(ClassRegistryRoot, FollowsTheEnvironment) {
    ScopedEnv reg("VKT_CLASS_REGISTRY", "/srv/reg");
    EXPECT_EQ(TClassRegistry::DefaultRoot(), "/srv/reg");
    ScopedEnv none("VKT_CLASS_REGISTRY", "");
    ScopedEnv home("HOME", "/home/u");
    {
        ScopedEnv data("XDG_DATA_HOME", "/data");
        EXPECT_EQ(TClassRegistry::DefaultRoot(), "/data/vkt/classes");
    }
    ScopedEnv relative("XDG_DATA_HOME", "relative/dir"); // not absolute: ignored
    EXPECT_EQ(TClassRegistry::DefaultRoot(), "/home/u/.local/share/vkt/classes");
}

} // namespace
