// The data utilities on both backends: backup files, restore with its refusals and counts,
// re-creation, the information grid and the controls' states.
#include "daemon/tfrmdatutil.h"
#include "db/addresscolumn.h"
#include "db/dbsession.h"
#include "db/tablescripts.h"
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
    EXPECT_EQ(BackupFile("site"),
              "Table=site\tRecords=1\r\n"
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

TEST_P(DatUtil, RestoreReadsFieldsAndRefusesWhatItCannotRestore) {
    const std::string file = backupDir + "/codes.svb";
    struct Case {
        const char* Name;
        const char* File; // nullptr: no file
        std::vector<std::string> Messages;
        const char* Rows; // codes afterwards
    };
    const std::vector<Case> cases = {
        {"missing file", nullptr, {"codes: The file \"" + file + "\" does not exist."}, ""},
        {"empty file", "", {"codes: The file \"" + file + "\" contains an invalid data structure."}, ""},
        {"file of another table",
         "Table=site\tRecords=1\r\ncode\r\nx\r\n",
         {"codes: The file \"" + file + "\" contains an invalid data structure."},
         ""},
        {"name before the first tab",
         "Table\tcodes\r\ncode\r\nx\r\n",
         {"codes: The file \"" + file + "\" contains an invalid data structure."},
         ""},
        // Names in another order and case; a final tab, leading tab, empty field, extra field, missing column.
        {"fields by name",
         "Table= codes "
         "\tRecords=x\r\nParam\tCode\tCodeValue\r\np1\tc1\tv1\r\n\tc2\tv2\t\r\n\tc3\t\r\np4\tc4\tv4\textra\r\n",
         {},
         "c1|v1|p1\nc2|v2|\nc3||\nc4|v4|p4\n"},
        {"missing column and short line",
         "Table=codes\tRecords=2\r\ncode\tnote\r\nc1\tn\r\nc2\r\n",
         {},
         "c1||\nc2||\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        Exec({"DELETE FROM codes"});
        std::filesystem::remove(file);
        if (c.File) WriteFileText(file, c.File);
        EXPECT_EQ(form->RestoreTable("codes"), c.Messages.empty());
        EXPECT_EQ(Messages(), c.Messages);
        EXPECT_EQ(Dump("codes", "code"), c.Rows);
        EXPECT_TRUE(form->btnRestore.Enabled) << "controls re-enabled";
        form->memLog.Clear();
    }
}

TEST_P(DatUtil, BadRecordsAreLoggedAndTheRestGoesIn) {
    ManualClock clock(EncodeDateTime(2026, 12, 7, 9, 5, 0));
    ScopedClock clockGuard(&clock);
    WriteFileText(backupDir + "/alarms.svb", "Table=alarms\tRecords=3\r\nCode\tFailTime\r\n"
                                             "a1\t2026-12-07 09:05:03\r\na2\t31.12.2026\r\na3\t\r\n");
    Check({"alarms"});
    form->btnRestoreClick();
    EXPECT_FALSE(form->LastCommandComplete());
    EXPECT_EQ(form->memLog.Lines(),
              (std::vector<std::string>{"26-12-07 09:05 alarms, Record #2: 31.12.2026 is not a valid date and time",
                                        "26-12-07 09:05 alarms: Records not restored: 1. Please check error log!"}));
    EXPECT_EQ(Dump("alarms", "Code"), "a1|2026-12-07 09:05:03\na3|1899-12-30\n");
}

TEST_P(DatUtil, RestoreReadsWindowsTextAndNamesWhyTheDatabaseRefusedARecord) {
    struct Case {
        const char* Name;
        std::string Records;               // after the heading and the column line
        std::vector<std::string> Messages; // a message ending in "..." matches by its beginning
        const char* Rows;
    };
    const std::vector<Case> cases = {
        // cp1252: e acute, the euro sign at 0x80; the UTF-8 line beside it stays as it is.
        {"Windows-1252 file",
         "c\xe9\tr\xe9sum\x80\r\nd\tna\xc3\xafve\r\n",
         {},
         "c\u00e9|r\u00e9sum\u20ac|\nd|na\u00efve|\n"},
        {"duplicate key and a value the server refuses",
         "a\tx\r\na\ty\r\n" + std::string(21, 'k') + "\tz\r\n",
         {"codes, Record #3: ...", // the reason as the server gives it
          "codes: Duplicate records not restored: 1", "codes: Records not restored: 1. Please check error log!"},
         "a|x|\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        Exec({"DELETE FROM codes"});
        form->memLog.Clear();
        WriteFileText(backupDir + "/codes.svb", "Table=codes\tRecords=2\r\ncode\tcodevalue\r\n" + c.Records);
        EXPECT_EQ(form->RestoreTable("codes"), c.Messages.empty());
        const std::vector<std::string> messages = Messages();
        ASSERT_EQ(messages.size(), c.Messages.size()) << form->memLog.Text();
        for (std::size_t i = 0; i < messages.size(); ++i) {
            const std::string& want = c.Messages[i];
            if (want.ends_with("..."))
                EXPECT_TRUE(messages[i].starts_with(want.substr(0, want.size() - 3)) &&
                            messages[i].size() > want.size())
                    << messages[i];
            else
                EXPECT_EQ(messages[i], want);
        }
        EXPECT_EQ(Dump("codes", "code"), c.Rows);
    }
}

TEST_P(DatUtil, AnAddressTooLongForAnOldTableIsRefusedUntilWidenAddressWidensIt) {
    // The site table as a database made before the column was widened has it.
    if (dm.Dialect() == TDbDialect::PostgreSQL) {
        Exec({"ALTER TABLE site ALTER COLUMN IPaddr TYPE CHAR(16)"});
    } else {
        TTableScript site;
        TableScript(TDbDialect::SQLite, "site", site);
        for (std::string& line : site.Create)
            for (const std::string wide : {"VARCHAR(255)", "<= 255"})
                if (const std::size_t at = line.find(wide); at != std::string::npos)
                    line.replace(at + wide.find("255"), 3, "16");
        Exec({"DROP TABLE Site"});
        Exec(site.Create);
        Exec(site.Index);
    }
    const std::string v6 = "2001:db8:ffff:ffff:ffff:ffff:ffff:1";
    WriteFileText(backupDir + "/site.svb", "Table=site\tRecords=1\r\nCODE\tIPaddr\tDowntime\r\nA1\t" + v6 + "\t5\r\n");
    EXPECT_FALSE(form->RestoreTable("site"));
    ASSERT_FALSE(Messages().empty());
    EXPECT_EQ(Messages().front(), "site, Record #1: address \"" + v6 +
                                      "\" is longer than the 16 characters column site.IPaddr holds; widen it with "
                                      "\"vkt-datutil widen-address\"");
    EXPECT_EQ(WidenAddressColumn(dm.conMain.Session(), dm.Dialect()).front(), "site.IPaddr: 16 -> 255 characters");
    form->memLog.Clear();
    EXPECT_TRUE(form->RestoreTable("site")) << form->memLog.Text();
    EXPECT_EQ(Dump("site", "CODE").substr(0, 3 + v6.size() + 1), "A1||" + v6);
}

// The codes no request or file may give a site are refused in a backup file too, row by row.
TEST_P(DatUtil, RestoreRefusesSiteCodesThatCannotBeNamedInAPath) {
    const std::string nul("N\0x", 3);
    const std::vector<std::pair<std::string, std::string>> files = {
        {"site", "CODE\tIPaddr\tDowntime\r\nOK1\t10.0.0.1\t5\r\nZ/1\t10.0.0.2\t5\r\n..\t10.0.0.3\t5\r\n" + nul +
                     "\t10.0.0.4\t5\r\n"},
        {"vkt", "VKTID\tsitecode\r\nd1\tOK1\r\nd1\tZ/1\r\nd1\t..\r\nd1\t" + nul + "\r\n"},
    };
    for (const auto& [table, records] : files) {
        SCOPED_TRACE(table);
        form->memLog.Clear();
        WriteFileText(backupDir + "/" + table + ".svb", "Table=" + table + "\tRecords=4\r\n" + records);
        EXPECT_FALSE(form->RestoreTable(table));
        EXPECT_EQ(Messages(),
                  (std::vector<std::string>{table + ", Record #2: code \"Z/1\" contains a slash",
                                            table + ", Record #3: code \"..\" is . or ..",
                                            table + ", Record #4: code \"N\\x00x\" contains a control character",
                                            table + ": Records not restored: 3. Please check error log!"}));
    }
    EXPECT_EQ(Dump("site", "CODE").substr(0, 4), "OK1|");
    EXPECT_EQ(Dump("vkt", "VKTID"), "d1|OK1\n");
}

TEST_P(DatUtil, ClearLeavesEmptyTablesWithTheirUniqueIndex) {
    Exec({"INSERT INTO VKT (VKTID, sitecode) VALUES ('d1', 's1')"});
    Check({"vkt"});
    bool asked = false;
    form->OnConfirm = [&](const std::string& q) { return asked = q == TfrmDatUtil::ClearQuestion, false; };
    form->btnClearClick();
    EXPECT_TRUE(asked);
    EXPECT_EQ(Count("VKT"), 1) << "No keeps the table";
    form->OnConfirm = [](const std::string&) { return true; };
    form->btnClearClick();
    EXPECT_EQ(Count("VKT"), 0);
    Exec({"INSERT INTO VKT (VKTID, sitecode) VALUES ('d1', 's1')"});
    EXPECT_THROW(Exec({"INSERT INTO VKT (VKTID, sitecode) VALUES ('d1', 's1')"}), EDatabaseError);
}

TEST_P(DatUtil, InfoGridAndControlsFollowTheCheckedTablesAndFiles) {
    Exec({"INSERT INTO codes (code, codevalue) VALUES ('a', '1')"});
    Check({"codes"});
    form->btnBackupClick();
    Exec({"INSERT INTO codes (code, codevalue) VALUES ('b', '2')"});
    Check({"alarms", "codes"});
    const auto& cells = form->grdData.Cells;
    EXPECT_EQ(cells[0], (std::array<std::string, 4>{"Table Name", "Table Records", "Last Backup", "Records"}));
    EXPECT_EQ(cells[1], (std::array<std::string, 4>{"alarms", "0", "", "None"}));
    EXPECT_EQ(cells[2][0] + "|" + cells[2][1] + "|" + cells[2][3], "codes|2|1");
    const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const DateParts today = DecodeDateTime(Date());
    EXPECT_EQ(cells[2][2], Format("%d %s %d", today.day, months[today.month - 1], today.year));
    EXPECT_FALSE(form->btnRestore.Enabled) << "alarms has no backup";
    EXPECT_TRUE(form->btnBackup.Enabled);

    // Select All follows its own clicks only.
    form->btnAllClick();
    EXPECT_EQ(form->btnAll.Caption, "Deselect All");
    EXPECT_EQ(form->CheckedTables(), kAllTables);
    form->lstDBName[0].Checked = false;
    form->btnAllClick();
    EXPECT_EQ(form->btnAll.Caption, "Select All");
    EXPECT_TRUE(form->CheckedTables().empty());
    EXPECT_EQ(cells[1][0], "");

    form->txtBackupDir = dir.File("nowhere");
    form->RefreshTableInfo();
    EXPECT_FALSE(form->btnBackup.Enabled || form->btnRestore.Enabled || form->btnAll.Enabled);
}

TEST_P(DatUtil, FailedBackupKeepsTheLastGoodFileAndBrokenValuesAreListed) {
    Exec({"INSERT INTO codes (code, codevalue, param) VALUES ('a', 'x', 'ok')"});
    ASSERT_TRUE(form->BackupTable("codes", backupDir, true));
    const std::string good = BackupFile("codes");
    Exec({"DROP TABLE codes"});
    Check({"codes"});
    form->btnBackupClick();
    EXPECT_FALSE(form->LastCommandComplete());
    EXPECT_EQ(form->pagUtils, TfrmDatUtil::TUtilsPage::Log) << "the failure is brought forward";
    EXPECT_EQ(BackupFile("codes"), good);
    ASSERT_EQ(Messages().size(), 1u) << form->memLog.Text();
    EXPECT_TRUE(StartsWithText(Messages()[0], "codes: Backup failed: ")) << Messages()[0];
    EXPECT_EQ(std::filesystem::directory_iterator(backupDir)->path().filename(), "codes.svb");

    Exec({"CREATE TABLE codes (code VARCHAR(20), codevalue VARCHAR(30), param VARCHAR(20))"});
    Exec({"INSERT INTO codes (code, codevalue, param) VALUES ('a', 'x', 'p')"});
    const std::string tab = GetParam() == Backend::SQLite ? "char(9)" : "chr(9)";
    Exec({"INSERT INTO codes (code, codevalue, param) VALUES ('b', 'x' || " + tab + " || 'y', 'p')"});
    form->memLog.Clear();
    EXPECT_TRUE(form->BackupTable("codes", backupDir, false));
    EXPECT_EQ(Messages(), (std::vector<std::string>{"codes, Record #2: the value of codevalue contains a tab or line "
                                                    "break and will not restore intact"}));
}

INSTANTIATE_TEST_SUITE_P(Backends, DatUtil, ::testing::Values(Backend::SQLite, Backend::PostgreSQL), BackendName);
