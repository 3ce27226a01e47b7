// The setup wizard dialog: load on show, OK and Cancel, the NetPort check, the directory chooser.
#include "daemon/tfrminstall.h"
#include "gui/dialogs.h"
#include "gui/tfrminstallview.h"
#include "qttestapp.h"
#include "testutil.h"

#include <QFocusEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

#include <gtest/gtest.h>

class WizardView : public ::testing::Test {
protected:
    void SetUp() override {
        TestApplication();
        saved = Dialogs();
        Dialogs().Info =
            Dialogs().Error = [this](QWidget*, const QString& text) { shown.push_back(text.toStdString()); };
        Dialogs().YesNo = [this](QWidget*, const QString& text) {
            shown.push_back(text.toStdString());
            return answerYes;
        };
        WriteFileText(dir.File("vkt.ini"), Before);
    }
    void TearDown() override { Dialogs() = saved; }
    QLineEdit* Edit(TfrmInstallView& v, const char* name) { return static_cast<QLineEdit*>(v.Control(name)); }

    // The server name is longer than the field's typing limit of 35.
    static constexpr const char* LongServer = "sql-primary-01.monitoring.example-corp.internal";
    const std::string Before = std::string("[System]\r\ninstall=1\r\nNetPort=8080\r\nDBServer=") + LongServer + "\r\n";
    TDialogs saved;
    std::vector<std::string> shown;
    bool answerYes = true;
    TempDir dir;
    TfrmInstall wizard{dir.File("vkt.ini")};
};

TEST_F(WizardView, ShowLoadsTheFileAndCancelWritesNothing) {
    TfrmInstallView view(wizard);
    view.show();
    EXPECT_EQ(view.windowTitle(), "VKT Setup Wizard");
    EXPECT_EQ(view.size(), QSize(579, 520));
    EXPECT_EQ(Edit(view, "txtDaemon")->text(), "daemon");
    EXPECT_EQ(Edit(view, "txtDaemon")->maxLength(), 20);
    EXPECT_EQ(Edit(view, "txtNetPort")->text(), "8080");
    EXPECT_EQ(static_cast<QSpinBox*>(view.Control("spnpoll"))->value(), 5);
    EXPECT_EQ(static_cast<QSpinBox*>(view.Control("spnpoll"))->maximum(), 360);
    EXPECT_EQ(view.Control("txtdbprovider")->toolTip(), "Database server.");
    Edit(view, "txtDaemon")->setText("changed");
    view.findChild<QPushButton*>("btnCancel")->click();
    EXPECT_EQ(view.result(), QDialog::Rejected);
    EXPECT_EQ(ReadFileText(dir.File("vkt.ini")), Before);
}

TEST_F(WizardView, OkWritesWhatWasTypedAndAFailedWriteKeepsTheWizardOpen) {
    TfrmInstallView view(wizard);
    view.show();
    Edit(view, "txtDaemon")->setText("probe9");
    std::filesystem::create_directories(dir.File("vkt.ini.setup/blocked")); // the scratch copy cannot be made
    view.findChild<QPushButton*>("btnOK")->click();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0], "Unable to write to " + dir.File("vkt.ini"));
    EXPECT_TRUE(view.isVisible());
    EXPECT_EQ(ReadFileText(dir.File("vkt.ini")), Before);
    std::filesystem::remove_all(dir.File("vkt.ini.setup"));
    view.findChild<QPushButton*>("btnOK")->click();
    EXPECT_EQ(view.result(), QDialog::Accepted);
    const std::string after = ReadFileText(dir.File("vkt.ini"));
    EXPECT_NE(after.find("VKTID=probe9\r\n"), std::string::npos) << after;
    EXPECT_NE(after.find("install=0\r\n"), std::string::npos) << after;
    EXPECT_NE(after.find(std::string("DBServer=") + LongServer + "\r\n"), std::string::npos) << "kept whole";
}

TEST_F(WizardView, OkKeepsTheBytesOfFieldsNotEdited) {
    // A password written by the Windows system: "caf" and e acute in its code page, not UTF-8.
    WriteFileText(dir.File("vkt.ini"), Before + "DBPass=caf\xe9\r\nDBUser=op\xe9r\r\n");
    TfrmInstallView view(wizard);
    view.show();
    Edit(view, "txtuser")->setText(QString::fromUtf8("op\u00e9rateur"));
    view.findChild<QPushButton*>("btnOK")->click();
    const std::string after = ReadFileText(dir.File("vkt.ini"));
    EXPECT_NE(after.find("DBPass=caf\xe9\r\n"), std::string::npos) << after;
    EXPECT_NE(after.find("DBUser=op\u00e9rateur\r\n"), std::string::npos) << "an edited field is written as typed";
}

TEST_F(WizardView, LeavingABadNetPortWarnsAndShowsZero) {
    TfrmInstallView view(wizard);
    view.show();
    QLineEdit* port = Edit(view, "txtNetPort");
    port->setText("http");
    QFocusEvent leave(QEvent::FocusOut, Qt::TabFocusReason);
    QApplication::sendEvent(port, &leave);
    ASSERT_EQ(shown, std::vector<std::string>{MsgNetPortInvalid});
    EXPECT_EQ(port->text(), "0");
    // The window losing activation (another window, or the dialog closing after Enter pressed OK)
    // is no leaving of the field.
    port->setText("http");
    QFocusEvent deactivated(QEvent::FocusOut, Qt::ActiveWindowFocusReason);
    QApplication::sendEvent(port, &deactivated);
    EXPECT_EQ(shown.size(), 1u);
    EXPECT_EQ(port->text(), "http");
}

TEST_F(WizardView, DirectoryChooserAsksBeforeCreatingAndNoKeepsItOpen) {
    TfrmInstallView view(wizard);
    TSelectDirectoryDialog chooser(wizard, QString::fromStdString(dir.Path()), &view);
    chooser.show();
    const std::string target = dir.File("backups/daily");
    chooser.PathField()->setText(QString::fromStdString(target));
    answerYes = false;
    chooser.accept();
    EXPECT_TRUE(chooser.isVisible());
    EXPECT_FALSE(std::filesystem::exists(target));
    answerYes = true;
    chooser.accept();
    EXPECT_EQ(chooser.result(), QDialog::Accepted);
    EXPECT_TRUE(std::filesystem::is_directory(target));
    EXPECT_EQ(shown, (std::vector<std::string>{MsgCreateDirectory, MsgCreateDirectory}));
}
