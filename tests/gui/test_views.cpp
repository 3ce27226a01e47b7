// Console, tray and About views on the offscreen platform, driven through their widgets.
#include "platform/activitylog.h"
#include "daemon/tfrmabout.h"
#include "daemon/tfrmmain.h"
#include "db/data.h"
#include "gui/jpegimage.h"
#include "gui/qtmessageloop.h"
#include "gui/resources.h"
#include "gui/tfrmaboutview.h"
#include "gui/tfrmmainview.h"
#include "gui/ttrayiconview.h"
#include "qttestapp.h"
#include "testutil.h"

#include <QAction>
#include <QCloseEvent>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QStatusTipEvent>

#include <gtest/gtest.h>

namespace {

QImage Picture(const QIcon& icon) {
    return icon.pixmap(16, 16).toImage().convertToFormat(QImage::Format_ARGB32);
}

} // namespace

class ConsoleView : public ::testing::Test {
protected:
    void SetUp() override { TestApplication(); }
    TempDir dir;
    ScopedCwd cwd{dir.Path()};
    std::unique_ptr<MessageLoop> loop = (TestApplication(), CreateQtMessageLoop());
    ScopedMainLoop installedLoop{loop.get()};
    TVKTDataModule dm; // no database configured: the start halts
    ScopedDataModule installedDm{&dm};
    TfrmMain form;
    ScopedLogPane pane{&form.memLog};
    TfrmMainView view{form};
};

TEST_F(ConsoleView, HaltedStartShowsTheMenusWithTheirCaptionsAndDisablesThree) {
    form.FormShow();
    EXPECT_EQ(view.windowTitle(), "Sentrova VKT 1.12");
    EXPECT_EQ(view.size(), QSize(TfrmMainView::ClientWidth, view.height()));
    EXPECT_EQ(view.centralWidget()->height() + view.statusBar()->height(), TfrmMainView::ClientHeight);
    struct Item {
        const char* name;
        const char* caption;
        bool enabled;
    };
    const Item items[] = {
        {"mnuSystem", "System", true},
        {"mnuForce", "Force Scan", false},
        {"mnuDataUtilities", "Data Utilties", false},
        {"ShutDownModule1", "Shut Down Module", true},
        {"mnuAbout", "About", false},
        {"mnuHelp", "Sentrova Help", true},
        {"mnuAboutNR", "About Sentrova", true},
        {"mnu", "Show Console", true},
        {"mnupopShutDown", "Shut Down Module", true},
    };
    for (const Item& i : items) {
        QAction* action = view.Item(i.name);
        ASSERT_NE(action, nullptr) << i.name;
        EXPECT_EQ(action->text().toStdString(), i.caption);
        EXPECT_EQ(action->isEnabled(), i.enabled) << i.name;
    }
    EXPECT_TRUE(view.Item("N1")->isSeparator());
    EXPECT_TRUE(view.isVisible());
    EXPECT_TRUE(view.Tray().Icon().isVisible());
    EXPECT_TRUE(view.LogPane()->toPlainText().endsWith("[WARNING] Unable to connect to database sytem halted. "));
}

TEST_F(ConsoleView, ClosingHidesAndATrayDoubleClickOrShowConsoleBringsItBack) {
    form.FormShow();
    int terminated = 0;
    form.OnTerminate = [&] { ++terminated; };
    const std::function<void()> restores[] = {
        [&] { emit view.Tray().Icon().activated(QSystemTrayIcon::DoubleClick); },
        [&] { view.Item("mnu")->trigger(); },
    };
    for (const auto& restore : restores) {
        EXPECT_FALSE(view.close()) << "the close is refused";
        EXPECT_FALSE(view.isVisible());
        EXPECT_TRUE(view.Tray().Icon().isVisible());
        restore();
        EXPECT_TRUE(view.isVisible());
    }
    QWidget other; // a console that is shown but under another window comes to the front
    other.show();
    other.activateWindow();
    QApplication::processEvents();
    ASSERT_FALSE(view.isActiveWindow());
    for (const auto& restore : restores) {
        other.activateWindow();
        QApplication::processEvents();
        restore();
        QApplication::processEvents();
        EXPECT_TRUE(view.isActiveWindow());
    }
    view.setWindowState(Qt::WindowMinimized);
    EXPECT_FALSE(view.isVisible()) << "a minimised console leaves only the tray icon";
    EXPECT_EQ(terminated, 0);
    view.Item("mnupopShutDown")->trigger();
    EXPECT_EQ(terminated, 1);
}

TEST_F(ConsoleView, StatusGoesToTheBarAndTheTooltipCutAt62AndEmptyRestoresTheTitle) {
    form.FormShow();
    const std::string longText(70, 'x');
    form.ShowStatus(longText);
    EXPECT_EQ(view.statusBar()->currentMessage().toStdString(), longText);
    QStatusTipEvent menuHover(""); // what hovering a menu item sends: the status text stays
    QApplication::sendEvent(view.menuBar(), &menuHover);
    EXPECT_EQ(view.statusBar()->currentMessage().toStdString(), longText);
    EXPECT_EQ(view.Tray().Icon().toolTip().toStdString(), std::string(62, 'x'));
    form.ShowStatus("");
    EXPECT_EQ(view.statusBar()->currentMessage(), "");
    EXPECT_EQ(view.Tray().Icon().toolTip(), "Sentrova VKT");
}

TEST_F(ConsoleView, HeartbeatStartsWithTheOffPictureAndAlternatesInTrayAndWindow) {
    const QImage on = Picture(ResourceIcon("ICON_NET_ON")), off = Picture(ResourceIcon("ICON_NET_OFF"));
    ASSERT_NE(on, off);
    EXPECT_EQ(Picture(view.Tray().Icon().icon()), on) << "the design-time picture";
    for (const QImage& expected : {off, on, off}) {
        form.ToggleIcon();
        EXPECT_EQ(Picture(view.Tray().Icon().icon()), expected);
        EXPECT_EQ(Picture(view.windowIcon()), expected);
    }
}

TEST_F(ConsoleView, AboutCommandOpensANewWindowEachTimeOkHidesItAndShutdownReleasesThem) {
    form.mnuAboutClick();
    form.mnuAboutClick();
    auto windows = view.findChildren<TfrmAboutView*>();
    ASSERT_EQ(windows.size(), 2);
    for (TfrmAboutView* about : windows) {
        EXPECT_TRUE(about->isVisible());
        EXPECT_EQ(about->windowTitle(), "About ...");
        EXPECT_EQ(about->width(), 366);
        EXPECT_EQ(about->findChild<QLabel*>("L_Version")->text(), "Sentrova1.12");
        EXPECT_TRUE(about->HasPicture());
        about->findChild<QPushButton*>("BitBtn1")->click();
        EXPECT_FALSE(about->isVisible());
    }
    EXPECT_EQ(view.findChildren<TfrmAboutView*>().size(), 2) << "OK only hides";
    form.ShutDownModule1Click();
    EXPECT_TRUE(view.findChildren<TfrmAboutView*>().isEmpty()) << "shutting down from the System menu releases them";
}

TEST(JpegPicture, TheShippedPictureDecodesAndDamagedDataIsRefusedWithoutEndingTheProgram) {
    const QByteArray good = ResourceData(TfrmAbout::ImageResource);
    TJpegImage image;
    std::string error;
    ASSERT_TRUE(DecodeJpeg(reinterpret_cast<const std::uint8_t*>(good.constData()), good.size(), image, error))
        << error;
    EXPECT_EQ(image.Width, 69);
    EXPECT_EQ(image.Height, 69);
    EXPECT_EQ(image.Rgb.size(), 69u * 69u * 3u);
    const QByteArray damaged[] = {good.left(good.size() / 2), QByteArray("not a jpeg at all"),
                                  good.left(2) + QByteArray(200, '\xff'), QByteArray()};
    for (const QByteArray& bad : damaged) {
        EXPECT_FALSE(DecodeJpeg(reinterpret_cast<const std::uint8_t*>(bad.constData()), bad.size(), image, error));
        EXPECT_FALSE(error.empty());
        EXPECT_TRUE(image.Rgb.empty());
    }
}
