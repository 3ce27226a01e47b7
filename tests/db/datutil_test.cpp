// The data utilities on both backends: backup files, restore with its refusals and counts,
// re-creation, the information grid and the controls' states.
#include "daemon/tfrmdatutil.h"
#include "dbfixture.h"
#include "platform/datetime.h"
#include "platform/msgloop.h"
#include "platform/strutil.h"

#include <algorithm>
#include <filesystem>
#include <map>

namespace {

class DatUtil : public DataModuleOn {
protected:
    void SetUp() override {
        DataModuleOn::SetUp();
        std::filesystem::create_directory(backupDir);
        WriteFileText(dir.File("dwater.ini"), "[System]\r\nBackupDir= " + backupDir + " \r\n");
        form = std::make_unique<TfrmDatUtil>(dm);
        form->OnConfirm = [](const std::string&) { return true; };
    }

    void Check(const std::vector<std::string>& tables) {
        for (TCheckListEntry& entry : form->lstDBName)
            entry.Checked = std::ranges::count(tables, TfrmDatUtil::TableNameOf(entry.Text)) > 0;
        form->lstDBNameClickCheck();
    }
    /// The Log's messages without their "yy-mm-dd hh:nn " prefix.
    std::vector<std::string> Messages() const {
        std::vector<std::string> out;
        for (const std::string& line : form->memLog.Lines())
            out.push_back(line.substr(15));
        return out;
    }
    /// Every row of a table as "v1|v2|...", in key order.
    std::string Dump(const std::string& table, const std::string& order) {
        TDbQuery& q = Open({"SELECT * FROM " + table + " ORDER BY " + order});
        std::string out;
        for (; !q.Eof(); q.Next()) {
            for (std::size_t i = 0; i < q.Columns().size(); ++i)
                out += (i ? "|" : "") + q.ColumnText(i);
            out += "\n";
        }
        return out;
    }
    /// The table's backup file, its column-name line in lower case (servers differ in identifier case).
    std::string BackupFile(const std::string& table) {
        std::string text = ReadFileText(form->BackupFileName(table));
        const std::size_t from = text.find('\n'), to = text.find('\n', from + 1);
        if (to != std::string::npos) text.replace(from, to - from, LowerCase(text.substr(from, to - from)));
        return text;
    }

    ScopedEnv home{"VKT_HOME", dir.Path()};
    std::unique_ptr<MessageLoop> loop = CreatePollMessageLoop();
    ScopedMainLoop loopGuard{loop.get()};
    std::string backupDir = dir.File("backup");
    std::unique_ptr<TfrmDatUtil> form;
};

const std::vector<std::string> kAllTables = {"alarms", "codes", "vkt", "operator", "site"};

} // namespace

TEST_P(DatUtil, BackupClearRestoreReturnsEveryTableToItsBackup) {
    Exec({"INSERT INTO alarms (Code, FailTime) VALUES ('s1', '12/7/2026 09:05:03')"});
    Exec({"INSERT INTO alarms (Code, FailTime) VALUES ('s2', '1/1/2027 00:00:00')"});
    Exec({"INSERT INTO codes (code, codevalue) VALUES ('PURGE', 'x:y')"});
    Exec({"INSERT INTO VKT (VKTID, sitecode) VALUES ('d1', 's1')"});
    Exec({"INSERT INTO operator (SurName, FirstName, email, contactflag) VALUES ('O''Hara', 'Kim', 'k@x.org', 3)"});
    Exec({"INSERT INTO site (CODE, sitename, IPaddr, Downtime, LastRTT) VALUES ('s1', 'Alpha', '10.0.0.1', 5, 12)"});
    const std::vector<std::pair<std::string, std::string>> orders = {
        {"alarms", "Code"}, {"codes", "code"}, {"vkt", "VKTID"}, {"operator", "SurName"}, {"site", "CODE"}};
    std::map<std::string, std::string> before;
    for (const auto& [table, order] : orders)
        before[table] = Dump(table, order);

    Check(kAllTables);
    form->btnBackupClick();
    EXPECT_TRUE(form->LastCommandComplete());
    EXPECT_EQ(form->pagData, TfrmDatUtil::TDataPage::Info);
    EXPECT_EQ(BackupFile("alarms"), "Table=alarms\tRecords=2\r\ncode\tfailtime\r\n"
                                    "s1\t2026-12-07 09:05:03\r\ns2\t2027-01-01\r\n");
    EXPECT_EQ(BackupFile("site"), "Table=site\tRecords=1\r\n"
                                  "code\tsitename\tipaddr\tcontact\tdowntime\tlastrtt\text\temail\towner\tcontactflag\r\n"
                                  "s1\tAlpha\t10.0.0.1\t\t5\t12\t\t\t\t\r\n");

    form->btnClearClick();
    EXPECT_TRUE(form->LastCommandComplete());
    for (const std::string& table : kAllTables)
        EXPECT_EQ(Count(table), 0) << table;

    form->btnRestoreClick();
    EXPECT_TRUE(form->LastCommandComplete());
    EXPECT_TRUE(Messages().empty()) << form->memLog.Text();
    EXPECT_EQ(form->pagUtils, TfrmDatUtil::TUtilsPage::Control);
    // NULLs come back by type: empty text, 0.
    before["site"] = "s1|Alpha|10.0.0.1||5|12||||0\n";
    before["operator"] = "O'Hara|Kim|k@x.org||3\n";
    before["codes"] = "PURGE|x:y|\n";
    for (const auto& [table, order] : orders)
        EXPECT_EQ(Dump(table, order), before[table]) << table;

    // A second restore without clearing finds every record already there.
    form->btnRestoreClick();
    EXPECT_FALSE(form->LastCommandComplete());
    EXPECT_EQ(Messages()[0], "alarms: Duplicate records not restored: 2");
    EXPECT_EQ(form->pagUtils, TfrmDatUtil::TUtilsPage::Log);
    EXPECT_EQ(Count("alarms"), 2);
}

TEST_P(DatUtil, FloatsBooleansAndDatesRoundTripByColumnType) {
    Exec({"CREATE TABLE extras (name VARCHAR(10) NOT NULL, ratio DOUBLE PRECISION, flag BOOLEAN, seen TIMESTAMP)"});
    Exec({"INSERT INTO extras (name, ratio, flag, seen) VALUES ('a', 2.5, TRUE, '12/7/2026 09:05:03')"});
    Exec({"INSERT INTO extras (name) VALUES ('b')"});
    ASSERT_TRUE(form->BackupTable("extras", backupDir, false));
    EXPECT_EQ(BackupFile("extras"), "Table=extras\tRecords=2\r\nname\tratio\tflag\tseen\r\n"
                                    "a\t2.5\tTrue\t2026-12-07 09:05:03\r\nb\t\t\t\r\n");
    Exec({"DELETE FROM extras"});
    EXPECT_TRUE(form->RestoreTable("extras")) << form->memLog.Text();
    EXPECT_EQ(Dump("extras", "name"), "a|2.5|True|2026-12-07 09:05:03\nb|0|False|1899-12-30\n");
}

INSTANTIATE_TEST_SUITE_P(Backends, DatUtil, ::testing::Values(Backend::SQLite, Backend::PostgreSQL), BackendName);
