// Console commands that open windows keep the scan timer as it was; the tray tooltip after activation.
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
