// Console commands that open windows: the scan timer around them, About windows, the tray tooltip.
#include "daemon/tfrmabout.h"
#include "daemon/tfrmmain.h"

#include <gtest/gtest.h>

TEST(ConsoleCommands, WindowCommandsStopTheTimerAndRestartItOnlyIfItRanBefore) {
    auto loop = CreatePollMessageLoop();
    ScopedMainLoop installed(loop.get());
    for (bool runningBefore : {true, false}) { // false: the command came during a scan's tick
        TfrmMain form;
        form.timMain.SetEnabled(runningBefore);
        bool enabledInside = true;
        form.OnDataUtilities = [&] { enabledInside = form.timMain.Enabled(); };
        form.mnuDataUtilitiesClick();
        EXPECT_FALSE(enabledInside);
        EXPECT_EQ(form.timMain.Enabled(), runningBefore);
        form.OnAboutCreated = [&](TfrmAbout&) { enabledInside = form.timMain.Enabled(); };
        enabledInside = true;
        form.mnuAboutClick();
        EXPECT_FALSE(enabledInside);
        EXPECT_EQ(form.timMain.Enabled(), runningBefore);
    }
}

TEST(ConsoleCommands, EachAboutCommandMakesANewWindowThatOkOnlyHides) {
    TfrmMain form;
    form.mnuAboutClick();
    form.mnuAboutClick();
    ASSERT_EQ(form.frmAbout.size(), 2u);
    EXPECT_EQ(form.frmAbout[0]->L_Version, "Sentrova1.12");
    EXPECT_TRUE(form.frmAbout[0]->Visible);
    form.frmAbout[0]->BitBtn1Click();
    EXPECT_FALSE(form.frmAbout[0]->Visible);
    EXPECT_TRUE(form.frmAbout[1]->Visible);
    form.ShutDownModule1Click();
    EXPECT_TRUE(form.frmAbout.empty()) << "shutting down from the System menu releases them";
}

TEST(TrayIcon, ActivationWithAnEmptyTooltipReappliesTheTooltipSetJustAfter) {
    auto loop = CreatePollMessageLoop();
    ScopedMainLoop installed(loop.get());
    std::vector<std::string> applied;
    TTrayIcon tray;
    tray.OnChange = [&] { applied.push_back(tray.ToolTip()); };
    tray.SetActive(true);
    tray.SetToolTip("Sentrova VKT");
    loop->ProcessMessages();
    EXPECT_EQ(applied, (std::vector<std::string>{"", "Sentrova VKT", "Sentrova VKT"}));
    tray.OnChange = nullptr;
}
