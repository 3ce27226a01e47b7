// autocall run as a process against the built library, with its own registry and INI file.
#include "testutil.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

namespace {

struct Outcome {
    int code;
    std::string out;
    std::string err;
};

class Autocall : public testing::Test {
protected:
    void SetUp() override {
        WriteFileText(dir.File("vkt.ini"), "[System]\r\nDBServer=dbhost\r\nNetPort=0x1F40\r\nPollDelay=abc\r\n"
                                           "[Mail]\r\nServer=mail.example\r\n");
    }

    // Runs autocall with the words (each quoted for the shell) and the test's registry.
    Outcome Start(const std::vector<std::string>& words) {
        std::string command = "VKT_CLASS_REGISTRY='" + dir.File("reg") + "' '" AUTOCALL_PROGRAM "'";
        for (const auto& w : words)
            command += " '" + w + "'";
        command += " >'" + dir.File("out") + "' 2>'" + dir.File("err") + "'";
        int status = std::system(command.c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFileText(dir.File("out")),
                ReadFileText(dir.File("err"))};
    }

    TempDir dir;
};

TEST_F(Autocall, ReadsIniValuesThroughTheRegisteredLibrary) {
    ASSERT_EQ(Start({"register", QUORRABOX_LIBRARY}).code, 0);
    Outcome run = Start({"create", "quorrabox.tools", "IniFileName=" + dir.File("vkt.ini"),
                         "ReadIniString(system, dbserver, \"(local)\")", "ReadIniString(Mail,Sender,none)",
                         "ReadIniInteger(System,NetPort,8000)", "ReadIniInteger(System,PollDelay,5)",
                         "ReadIniBool(System,install,0)", "call IniClose"});
    EXPECT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(run.out, "dbhost\nnone\n8000\n5\n0\n");
    EXPECT_EQ(run.err, "");
}

TEST_F(Autocall, ReportsFailuresWithCodeAndDescription) {
    ASSERT_EQ(Start({"register", QUORRABOX_LIBRARY}).code, 0);
    Outcome run = Start({"create", "quorrabox.tools", "ReadIniString(System,DBServer,x)"});
    EXPECT_EQ(run.code, 1);
    EXPECT_EQ(run.err, "autocall: ReadIniString(System,DBServer,x): DISP_E_EXCEPTION (0x80020009): "
                       "TQuorraTool: No INI file name set\n");
    run = Start({"create", "quorrabox.tools", "IniFileName=" + dir.File("vkt.ini"), "IniFileName"});
    EXPECT_EQ(run.code, 1);
    EXPECT_EQ(run.err, "autocall: IniFileName: DISP_E_MEMBERNOTFOUND (0x80020003)\n");
    run = Start({"create", "quorrabox.tools", "IniFileName=x", "ReadIniInteger(System,,1)"});
    EXPECT_EQ(run.code, 1);
    EXPECT_EQ(run.err, "autocall: ReadIniInteger(System,,1): DISP_E_PARAMNOTOPTIONAL (0x8002000F): argument 2\n");
}

TEST_F(Autocall, UnregisteredClassIsNotFound) {
    ASSERT_EQ(Start({"register", QUORRABOX_LIBRARY}).code, 0);
    ASSERT_EQ(Start({"unregister", QUORRABOX_LIBRARY}).code, 0);
    Outcome run = Start({"create", "quorrabox.tools", "IniClose"});
    EXPECT_EQ(run.code, 1);
    EXPECT_NE(run.err.find("CO_E_CLASSSTRING (0x800401F3)"), std::string::npos) << run.err;
    EXPECT_EQ(Start({"register", dir.File("missing.so")}).code, 1);
    EXPECT_EQ(Start({"create"}).code, 2);
    EXPECT_EQ(Start({"create", "quorrabox.tools", "F(1"}).code, 2);
}

} // namespace
