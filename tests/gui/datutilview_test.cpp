// The Data Utilities window offscreen on an embedded database: captions, the check list driving the
// grid, and a backup through the buttons.
#include "gui/tfrmdatutilview.h"
#include "platform/msgloop.h"
#include "testutil.h"

#include <QApplication>
#include <QListWidget>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <gtest/gtest.h>

#include <filesystem>

TEST(DatUtilView, ButtonsListAndGridFollowTheController) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    int argc = 1;
    char name[] = "datutilview_test";
    char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    TempDir dir;
    ScopedEnv home("VKT_HOME", dir.Path());
    std::unique_ptr<MessageLoop> loop = CreatePollMessageLoop();
    ScopedMainLoop loopGuard(loop.get());
    TVKTDataModule dm;
    dm.DBProvider = "SQLite";
    dm.DataBase = dir.File("vkt.db");
    ASSERT_TRUE(dm.ActivateConnection()) << dm.LastConnectionError();
    ScopedDataModule dmGuard(&dm);

    TfrmDatUtilView view(dm, nullptr);
    EXPECT_EQ(view.windowTitle(), "Data Utilities");
    EXPECT_EQ(view.Button("Clear")->toolTip(), "Clear and recreate table structures");
    ASSERT_EQ(view.TableList()->count(), 5);
    EXPECT_EQ(view.TableList()->item(4)->text(), "Site details (site)");

    view.TableList()->item(1)->setCheckState(Qt::Checked);
    EXPECT_EQ(view.Controller().CheckedTables(), std::vector<std::string>{"codes"});
    EXPECT_EQ(view.Grid()->item(0, 0)->text(), "codes");
    EXPECT_EQ(view.Grid()->item(0, 3)->text(), "None");
    EXPECT_FALSE(view.Button("Restore")->isEnabled());

    view.Button("Backup")->click();
    EXPECT_TRUE(std::filesystem::exists(dir.Path() + "//codes.svb"));
    EXPECT_EQ(view.Grid()->item(0, 3)->text(), "0");
    EXPECT_TRUE(view.Button("Restore")->isEnabled());

    view.Button("Select All")->click();
    EXPECT_EQ(view.Button("Deselect All")->text(), "Deselect All");
    EXPECT_EQ(view.TableList()->item(4)->checkState(), Qt::Checked);
}
