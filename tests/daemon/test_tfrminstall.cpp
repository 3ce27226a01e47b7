// Setup wizard controller: load with defaults, the exact write, checks and the directory rule.
#include "daemon/tfrminstall.h"
#include "platform/errors.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

const char* const ExpectedAfterOk = "[System]\r\ninstall=0\r\nVKTID=probe 7 \r\nDBServer=db1\r\n"
                                    "Database=Sentrova\r\nDBUser=sa\r\nDBPass=\r\nPollDelay=5\r\n"
                                    "BackUpDir=\r\nNetPort=8000\r\nMaxLogFileAgeDays=10\r\n"
                                    "[Mail]\r\nserver=mailhost\r\nsender=vkt-daemon@example.com\r\n";

} // namespace

TEST(SetupWizard, LoadsDesignDefaultsButFiveMinutesPollAndTenDaysFromAnAlmostEmptyFile) {
    TempDir dir;
    WriteFileText(dir.File("vkt.ini"), "[System]\r\ninstall=1\r\n");
    TfrmInstall wizard(dir.File("vkt.ini"));
    wizard.FormShow();
    EXPECT_EQ(wizard.txtDaemon, "daemon");
    EXPECT_EQ(wizard.txtdbprovider, TfrmInstall::DefaultDBServer);
    EXPECT_EQ(wizard.txtdatabase, "Sentrova");
    EXPECT_EQ(wizard.txtuser, "sa");
    EXPECT_EQ(wizard.txtpass, "");
    EXPECT_EQ(wizard.spnpoll.Value(), 5);
    EXPECT_EQ(wizard.txtbackdir, "");
    EXPECT_EQ(wizard.txtNetPort, "8000");
    EXPECT_EQ(wizard.spnDays.Value(), 10);
    EXPECT_EQ(wizard.txtServer, TfrmInstall::DefaultMailServer);
    EXPECT_EQ(wizard.txtsender, TfrmInstall::DefaultSender);
}

TEST(SetupWizard, OkWritesEveryKeyInOrderWithInstallZeroLastAndNonNumericPortAs8000) {
    TempDir dir;
    WriteFileText(dir.File("vkt.ini"), "[System]\r\ninstall=1\r\n");
    TfrmInstall wizard(dir.File("vkt.ini"));
    wizard.FormShow();
    wizard.txtDaemon = "probe 7 "; // as typed, not trimmed
    wizard.txtdbprovider = "db1";
    wizard.txtNetPort = "eighty";
    wizard.btnOKClick();
    EXPECT_EQ(ReadFileText(dir.File("vkt.ini")), ExpectedAfterOk);
    EXPECT_FALSE(std::filesystem::exists(dir.File("vkt.ini.setup")));
}

TEST(SetupWizard, AFailedWriteLeavesTheFileAsItWasAndNamesIt) {
    TempDir dir;
    const std::string before = "[System]\r\ninstall=1\r\nVKTID=old\r\n";
    WriteFileText(dir.File("vkt.ini"), before);
    TfrmInstall wizard(dir.File("vkt.ini"));
    wizard.FormShow();
    wizard.txtDaemon = "new";
    wizard.txtsender = "a\nb"; // the eleventh key cannot be written
    try {
        wizard.btnOKClick();
        FAIL() << "the write should fail";
    } catch (const EInOutError& e) {
        EXPECT_NE(std::string(e.what()).find("Unable to write to " + dir.File("vkt.ini")), std::string::npos);
    }
    EXPECT_EQ(ReadFileText(dir.File("vkt.ini")), before);
    EXPECT_FALSE(std::filesystem::exists(dir.File("vkt.ini.setup")));
}

struct PortCase {
    const char* text;
    const char* message;
    const char* after;
};

class NetPortCheck : public ::testing::TestWithParam<PortCase> {};

TEST_P(NetPortCheck, ZeroOrNonNumericWarnsAndBecomesZero) {
    TfrmInstall wizard("unused.ini");
    wizard.txtNetPort = GetParam().text;
    EXPECT_EQ(wizard.txtNetPortExit(), GetParam().message);
    EXPECT_EQ(wizard.txtNetPort, GetParam().after);
}

INSTANTIATE_TEST_SUITE_P(Cases, NetPortCheck,
                         ::testing::Values(PortCase{"8080", "", "8080"}, PortCase{"0x1F90", "", "0x1F90"},
                                           PortCase{"0", MsgNetPortInvalid, "0"},
                                           PortCase{"port", MsgNetPortInvalid, "0"},
                                           PortCase{"", MsgNetPortInvalid, "0"}));

TEST(SetupWizard, SpinEditsClampToTheirLimitsOnExitUnlessTheyHaveNone) {
    struct Case {
        TSpinEdit spin;
        int value;
    };
    const Case cases[] = {
        {{1, 360, "0"}, 1},   {{1, 360, "999"}, 360}, {{1, 360, "x"}, 1},
        {{1, 360, "42"}, 42}, {{0, 0, "-5"}, -5},     {{0, 0, "99999"}, 99999},
    };
    for (Case c : cases) {
        c.spin.Exit();
        EXPECT_EQ(c.spin.Value(), c.value) << c.spin.Text;
    }
}

TEST(SetupWizard, DirectoryChooserCreatesAMissingDirectoryOnlyAfterYes) {
    TempDir dir;
    TfrmInstall wizard(dir.File("vkt.ini"));
    std::string error;
    int asked = 0;
    auto answer = [&](bool yes) {
        return [&asked, yes](const std::string& q) {
            ++asked;
            EXPECT_EQ(q, MsgCreateDirectory);
            return yes;
        };
    };
    const std::string missing = dir.File("a/b");
    EXPECT_EQ(wizard.ChooseDirectory(missing, answer(false), error), TfrmInstall::TDirChoice::StayOpen);
    EXPECT_FALSE(std::filesystem::exists(missing));
    EXPECT_EQ(wizard.ChooseDirectory(missing, answer(true), error), TfrmInstall::TDirChoice::Accepted);
    EXPECT_TRUE(std::filesystem::is_directory(missing));
    EXPECT_EQ(wizard.txtbackdir, missing);
    EXPECT_EQ(wizard.ChooseDirectory(dir.Path(), answer(true), error), TfrmInstall::TDirChoice::Accepted);
    EXPECT_EQ(asked, 2) << "an existing directory is taken without asking";
    EXPECT_EQ(wizard.ChooseDirectory("", answer(true), error), TfrmInstall::TDirChoice::Failed);
    EXPECT_EQ(error, "Unable to create directory");
    EXPECT_EQ(wizard.txtbackdir, dir.Path());
}

TEST(SetupWizard, TerminalAsksEveryFieldAndWritesOnlyWhenConfirmed) {
    TempDir dir;
    WriteFileText(dir.File("vkt.ini"), "[System]\r\ninstall=1\r\n");
    {
        TfrmInstall wizard(dir.File("vkt.ini"));
        // Eight fields kept as shown, a bad port, then the input ends before the question.
        std::istringstream in("probe 7 \ndb1\n" + std::string(8, '\n') + "eighty\n");
        std::ostringstream out;
        EXPECT_FALSE(RunTerminalSetup(wizard, in, out));
        EXPECT_EQ(ReadFileText(dir.File("vkt.ini")), "[System]\r\ninstall=1\r\n");
        EXPECT_NE(out.str().find(MsgNetPortInvalid), std::string::npos);
    }
    TfrmInstall wizard(dir.File("vkt.ini"));
    std::istringstream in("probe 7 \ndb1\n" + std::string(9, '\n') + "y\n");
    std::ostringstream out;
    EXPECT_TRUE(RunTerminalSetup(wizard, in, out));
    EXPECT_EQ(ReadFileText(dir.File("vkt.ini")), ExpectedAfterOk);
}
