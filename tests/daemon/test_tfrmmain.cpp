// Console controller: halted start-up, closing versus shutting down, status line.
#include "platform/activitylog.h"
#include "daemon/tfrmmain.h"
#include "db/data.h"
#include "platform/datetime.h"
#include "testutil.h"

#include <gtest/gtest.h>

class Console : public ::testing::Test {
protected:
    void SetUp() override {
        form.OnTerminate = [this] { ++terminated; };
    }
    TempDir dir;
    ScopedCwd cwd{dir.Path()};
    ManualClock clock{EncodeDateTime(2026, 12, 7, 8, 0, 0)};
    ScopedClock installClock{&clock};
    TVKTDataModule dm;
    ScopedDataModule installDataModule{&dm};
    TfrmMain form;
    ScopedLogPane installPane{&form.memLog};
    int terminated = 0;
};

TEST_F(Console, StartWithoutDatabaseHaltsWithMenusDisabled) {
    form.FormShow();
    EXPECT_EQ(form.Caption, "Sentrova VKT 1.12");
    EXPECT_TRUE(form.trayIcon.Active());
    EXPECT_EQ(form.trayIcon.ToolTip(), "Sentrova VKT");
    EXPECT_FALSE(form.mnuForce.Enabled);
    EXPECT_FALSE(form.mnuDataUtilities.Enabled);
    EXPECT_FALSE(form.mnuAbout.Enabled);
    EXPECT_TRUE(form.ShutDownModule1.Enabled);
    EXPECT_TRUE(form.mnupopShutDown.Enabled);
    EXPECT_FALSE(form.timMain.Enabled());
    EXPECT_EQ(ReadFileText("2026-12-07.log"),
              "2026-12-07 08:00:00   [SYSINIT]  VKT (Daemon Zelto System) Started. \r\n"
              "2026-12-07 08:00:00   [SYSINIT]  [WARNING] Unable to connect to database sytem halted. \r\n");
}

TEST_F(Console, ClosingOnlyHidesUntilShutdownIsRequested) {
    form.FormShow();
    form.FormClose();
    EXPECT_FALSE(form.Visible);
    EXPECT_EQ(terminated, 0);
    form.trayIconDblClick();
    EXPECT_TRUE(form.Visible);
    form.mnupopShutDownClick();
    EXPECT_EQ(terminated, 1);
}

TEST_F(Console, StatusLineFeedsTheTooltipCutTo62Characters) {
    form.FormShow();
    form.ShowStatus(std::string(70, 'x'));
    EXPECT_EQ(form.barStatus, std::string(70, 'x'));
    EXPECT_EQ(form.trayIcon.ToolTip(), std::string(62, 'x'));
    form.ShowStatus("");
    EXPECT_EQ(form.barStatus, "");
    EXPECT_EQ(form.trayIcon.ToolTip(), "Sentrova VKT");
}

TEST_F(Console, HeartbeatStartsWithTheOffIcon) {
    form.ToggleIcon();
    EXPECT_EQ(form.trayIcon.Icon(), "ICON_NET_OFF");
    form.ToggleIcon();
    EXPECT_EQ(form.trayIcon.Icon(), "ICON_NET_ON");
    form.LastScan = Now();
    form.mnuForceClick();
    EXPECT_EQ(form.LastScan, 0) << "Force Scan makes the next tick scan";
}

class ConnectedConsole : public Console {
protected:
    void SetUp() override {
        Console::SetUp();
        WriteFileText(dir.File("vkt.ini"), "[System]\nDBProvider=SQLite\nDataBase=" + dir.File("t") + "\n");
        dm.DataModuleCreate();
    }
    ScopedEnv home{"VKT_HOME", dir.Path()};
};

TEST_F(ConnectedConsole, TickReconnectsALostConnectionOrReportsItLost) {
    form.FormShow();
    ASSERT_TRUE(form.Running());
    EXPECT_TRUE(form.timMain.Enabled());
    form.timMainTimer();
    EXPECT_EQ(form.trayIcon.Icon(), "ICON_NET_OFF");
    dm.conMain.Close();
    form.timMainTimer();
    EXPECT_TRUE(dm.conMain.Connected());
    dm.DataBase = dir.File("missing-dir/t"); // the next reconnect cannot open the file
    dm.conMain.Close();
    form.timMainTimer();
    EXPECT_TRUE(form.timMain.Enabled()) << "a lost connection is retried on the next tick";
    EXPECT_FALSE(form.IconPhase);
    std::vector<std::string> lines = form.memLog.Lines();
    ASSERT_EQ(lines.size(), 8u) << "start-up, the first tick's purge, two reconnections";
    EXPECT_EQ(lines[5], "2026-12-07 08:00:00   [ERROR]    Database connection not avalaible. Attempting to "
                        "re-establish connection. ");
    EXPECT_EQ(lines[6], lines[5]);
    EXPECT_EQ(lines[7], "2026-12-07 08:00:00   [WARNING]  Database connection lost. ");
}
