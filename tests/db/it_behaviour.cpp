// The same behaviour on the embedded database and on a networked server: the daemon's statements,
// text and date matching as on SQL Server, values and columns, literals, batches and table scripts.
#include "db/common.h"
#include "dbfixture.h"
#include "platform/datetime.h"
#include "platform/strutil.h"

#include <algorithm>

namespace {

std::string Q(const std::string& value) {
    return SQLLiteral(value);
}

std::string QDate(TDateTime moment) {
    return Q(FormatSQLDate(false, moment));
}

} // namespace

using Behaviour = DataModuleOn;

TEST_P(Behaviour, DaemonStatementsFromScanToPurge) {
    const TDateTime now = EncodeDateTime(2026, 12, 7, 9, 5, 3);
    Exec({"INSERT INTO site (CODE, sitename, IPaddr, Downtime, owner, contactflag) VALUES "
          "('s1', 'Alpha', '127.0.0.1', 0, 'Doe, Jane', 2)"});
    Exec({"INSERT INTO site (CODE, IPaddr, Downtime) VALUES ('s2', '127.0.0.2', 10)"});
    Exec({"INSERT INTO operator (SurName, FirstName, email, contactflag) VALUES ('Doe', 'Jane', 'jd@example.org', 2)"});
    Exec({"INSERT INTO VKT (VKTID, sitecode) VALUES ('d1', 's1')"});
    Exec({"INSERT INTO VKT (VKTID, sitecode) VALUES ('d2', 's2')"});

    // The scan: the site list with and without a Daemon ID, then each site's row.
    EXPECT_EQ(Open({"SELECT VKT.sitecode FROM ", "  VKT "}).RecordCount(), 2u);
    TDbQuery& list = Open({"SELECT VKT.sitecode FROM ", "  VKT ", "WHERE ", Format("  VKTID = %s ", Q("d1").c_str())});
    ASSERT_EQ(list.RecordCount(), 1u);
    EXPECT_EQ(VarToStrTrim(list.FieldByName("sitecode")), "s1");
    TDbQuery& site = Open({"SELECT * FROM ", "  site ", "WHERE ", Format("  code = %s ", Q("s1").c_str())});
    ASSERT_FALSE(site.Eof());
    EXPECT_EQ(VarToStrTrim(site.FieldByName("IPAddr")), "127.0.0.1");

    // An alarm, the notification decision and the marker.
    Exec({Format("INSERT INTO alarms (Code, FailTime) VALUES (%s, %s)", Q("s1").c_str(), QDate(now).c_str())});
    TDbQuery& alarms = dm.adoAlarms;
    OpenStatement(alarms, {Format("SELECT * FROM alarms WHERE Code = %s ", Q("s1MAILED").c_str())});
    EXPECT_TRUE(alarms.Eof());
    OpenStatement(alarms, {Format("SELECT * FROM alarms WHERE Code = %s ORDER BY FailTime", Q("s1").c_str())});
    ASSERT_FALSE(alarms.Eof());
    EXPECT_EQ(DateDiff('s', VarToFloatDef(alarms.FieldByName("failtime")), now), 0);
    OpenStatement(alarms, {Format("SELECT * FROM site WHERE code = %s ", Q("s1").c_str())});
    EXPECT_EQ(VarToIntDef(alarms.FieldByName("downtime")), 0);
    TDbQuery work(dm.conMain);
    OpenStatement(work, {Format("SELECT * FROM operator WHERE surname = %s AND firstname = %s ", Q("Doe").c_str(),
                                Q("Jane").c_str())});
    EXPECT_EQ(VarToIntDef(work.FieldByName("contactflag")), 2);
    ExecStatement(work, {Format("INSERT INTO alarms (Code, FailTime) VALUES (%s, %s) ", Q("s1MAILED").c_str(),
                                QDate(now + 1.0 / 1440).c_str())});
    EXPECT_EQ(Count("alarms"), 2);

    // The site answers again: its rows go and the round-trip time is stored from a quoted number.
    Exec({Format("DELETE FROM alarms WHERE code = %s OR code = %s ", Q("s1").c_str(), Q("s1MAILED").c_str())});
    Exec({"UPDATE ", "  site ", Format("SET LastRTT = '%d' ", 12), Format("WHERE code = %s ", Q("s1").c_str())});
    EXPECT_EQ(Count("alarms"), 0);
    const Variant& rtt = Open({"SELECT * FROM site WHERE code = 's1' "}).FieldByName("LastRTT");
    EXPECT_EQ(rtt.Type(), VarType::Integer);
    EXPECT_EQ(rtt.AsInteger(), 12);

    // The daily purge removes what is older than a day, markers included.
    Exec({Format("INSERT INTO alarms (Code, FailTime) VALUES (%s, %s)", Q("s2").c_str(), QDate(now - 2).c_str())});
    Exec({Format("INSERT INTO alarms (Code, FailTime) VALUES (%s, %s)", Q("s2MAILED").c_str(),
                 QDate(now - 1.5).c_str())});
    Exec({Format("INSERT INTO alarms (Code, FailTime) VALUES (%s, %s)", Q("s2").c_str(), QDate(now).c_str())});
    ExecStatement(dm.adoQ1, {Format("DELETE FROM alarms WHERE FailTime < %s", QDate(now - 1).c_str())});
    EXPECT_EQ(Count("alarms"), 1);
}

TEST_P(Behaviour, TextMatchesWithoutCaseOrTrailingBlanks) {
    Exec({"INSERT INTO site (CODE, IPaddr, Downtime) VALUES ('a1', '127.0.0.1', 5)"});
    Exec({"INSERT INTO operator (SurName, FirstName, contactflag) VALUES ('Smith', 'John', 3)"});
    Exec({"INSERT INTO VKT (VKTID, sitecode) VALUES ('D1', 'a1')"});

    TDbQuery& site = Open({"SELECT * FROM site WHERE code = 'A1 ' "});
    ASSERT_EQ(site.RecordCount(), 1u);
    EXPECT_EQ(site.FieldByName("code").AsString(), "a1");
    EXPECT_EQ(Open({"SELECT * FROM operator WHERE surname = 'SMITH' AND firstname = 'john  ' "}).RecordCount(), 1u);
    EXPECT_EQ(Open({"SELECT VKT.sitecode FROM VKT WHERE VKTID = 'd1 ' "}).RecordCount(), 1u);
    // Leading blanks and other letters still count.
    EXPECT_EQ(Open({"SELECT * FROM site WHERE code = ' a1' "}).RecordCount(), 0u);
    EXPECT_EQ(Open({"SELECT * FROM site WHERE code = 'a1x' "}).RecordCount(), 0u);
    // The unique indexes see the same values as equal.
    EXPECT_THROW(Exec({"INSERT INTO site (CODE, IPaddr, Downtime) VALUES ('A1  ', '127.0.0.1', 5)"}), EDatabaseError);
    EXPECT_THROW(Exec({"INSERT INTO operator (SurName, FirstName) VALUES ('smith ', 'JOHN')"}), EDatabaseError);
    EXPECT_NO_THROW(Exec({"INSERT INTO site (CODE, IPaddr, Downtime) VALUES ('A1', '127.0.0.2', 5)"}));
}

TEST_P(Behaviour, DatesCompareAndSortAsDates) {
    // In text order these three sort the other way round: "12/10..." < "12/7..." < "2/1...".
    const TDateTime early = EncodeDateTime(2026, 12, 7, 9, 5, 3);
    const TDateTime middle = EncodeDateTime(2026, 12, 10, 23, 59, 59);
    const TDateTime late = EncodeDateTime(2027, 2, 1, 0, 0, 0);
    for (TDateTime t : {late, early, middle})
        Exec({Format("INSERT INTO alarms (Code, FailTime) VALUES ('a1', %s)", QDate(t).c_str())});

    TDbQuery& rows = Open({"SELECT * FROM alarms WHERE Code = 'a1' ORDER BY FailTime"});
    std::vector<std::string> read;
    for (; !rows.Eof(); rows.Next()) {
        EXPECT_EQ(rows.FieldByName("failtime").Type(), VarType::DateTime);
        read.push_back(FormatSQLDate(false, VarToFloatDef(rows.FieldByName("failtime"))));
    }
    EXPECT_EQ(read, (std::vector<std::string>{"12/7/2026 09:05:03", "12/10/2026 23:59:59", "2/1/2027 00:00:00"}));
    EXPECT_EQ(Open({"SELECT * FROM alarms WHERE Code = 'a1' ORDER BY FailTime"}).ColumnText(1), "2026-12-07 09:05:03");

    // The same code and moment again, also with the code in other letters, is refused.
    EXPECT_THROW(Exec({Format("INSERT INTO alarms (Code, FailTime) VALUES ('a1', %s)", QDate(middle).c_str())}),
                 EDatabaseError);
    EXPECT_THROW(Exec({Format("INSERT INTO alarms (Code, FailTime) VALUES ('A1 ', %s)", QDate(middle).c_str())}),
                 EDatabaseError);
    Exec({Format("DELETE FROM alarms WHERE FailTime < %s", QDate(EncodeDateTime(2026, 12, 10, 0, 0, 0)).c_str())});
    EXPECT_EQ(Count("alarms"), 2);
    Exec({Format("DELETE FROM alarms WHERE FailTime < %s", QDate(late).c_str())});
    EXPECT_EQ(Count("alarms"), 1) << "a row exactly at the limit stays";
    EXPECT_THROW(Exec({"INSERT INTO alarms (Code, FailTime) VALUES ('a2', '2/30/2026 00:00:00')"}), EDatabaseError);
}

TEST_P(Behaviour, ValuesColumnsAndNulls) {
    Exec({"INSERT INTO site (CODE, IPaddr, Downtime, LastRTT) VALUES ('a1', '127.0.0.1', '7', NULL)"});
    TDbQuery& q = Open({"SELECT * FROM site "});
    ASSERT_EQ(q.Columns().size(), 10u);
    EXPECT_TRUE(SameText(q.Columns()[0].Name, "CODE"));
    EXPECT_EQ(q.Columns()[0].Class, TFieldClass::Text);
    EXPECT_EQ(q.Columns()[4].Class, TFieldClass::Integer);
    EXPECT_EQ(q.FieldByName("downtime"), Variant(7LL));
    EXPECT_TRUE(q.FieldByName("LastRTT").IsNull());
    EXPECT_TRUE(q.FieldByName("sitename").IsNull());
    EXPECT_EQ(q.ColumnText(5), "");
    EXPECT_THROW(q.FieldByName("nosuchcolumn"), EDatabaseError);
    EXPECT_EQ(Open({"SELECT * FROM alarms "}).Columns()[1].Class, TFieldClass::DateTime);
    TDbQuery& count = Open({"SELECT COUNT(*) AS RecCount FROM site "});
    EXPECT_EQ(count.Columns()[0].Class, TFieldClass::Integer);
    EXPECT_EQ(count.FieldByName("reccount").AsInteger(), 1);
    EXPECT_EQ(Open({"SELECT COUNT(*) FROM site"}).Value(0).AsInteger(), 1);
    EXPECT_THROW(Exec({"INSERT INTO site (CODE, IPaddr, Downtime) VALUES ('a2', '127.0.0.1', 'many')"}),
                 EDatabaseError);
    EXPECT_THROW(Exec({"INSERT INTO site (CODE, IPaddr, Downtime) VALUES ('a-code-far-too-long', '127.0.0.1', 1)"}),
                 EDatabaseError);
}

TEST_P(Behaviour, HostileTextRoundTripsThroughLiterals) {
    const std::vector<std::string> values = {
        "O'Brien",       "''",          "'); DROP TABLE site; --", "back\\slash\\'", "a:b :param",
        "%s %d",         "semi;colon",  "M\xC3\xBCller",           "tab\there",      "line\nbreak",
        "/* comment */", "x' OR '1'='1"};
    int n = 0;
    for (const std::string& value : values) {
        const std::string code = "h" + std::to_string(++n);
        Exec({Format("INSERT INTO site (CODE, IPaddr, Downtime, owner) VALUES (%s, '127.0.0.1', 1, %s)",
                     Q(code).c_str(), Q(value).c_str())});
        TDbQuery& q = Open({"SELECT * FROM site WHERE owner = " + Q(value) + " "});
        ASSERT_EQ(q.RecordCount(), 1u) << value;
        EXPECT_EQ(q.FieldByName("owner").AsString(), value);
        EXPECT_EQ(q.FieldByName("code").AsString(), code);
    }
    EXPECT_EQ(Count("site"), static_cast<long long>(values.size()));
    EXPECT_THROW(SQLLiteral(std::string("a\0b", 3)), EArgumentError);
}

TEST_P(Behaviour, BatchSendsEveryRecordAndKeepsTheRefusedPending) {
    const TDateTime base = EncodeDateTime(2026, 12, 7, 0, 0, 0);
    const double second = 1.0 / 86400;
    for (int i = 0; i < 3; ++i)
        Exec({Format("INSERT INTO alarms (Code, FailTime) VALUES ('c%d', %s)", i, QDate(base + i * second).c_str())});

    TDbBatchSet batch(dm.conMain);
    batch.Open("alarms");
    ASSERT_EQ(batch.Columns().size(), 2u);
    EXPECT_EQ(batch.PendingCount(), 0u) << "the rows already in the table are not in view";
    for (int i = 0; i < 1000; ++i) {
        batch.Append();
        batch.SetValue("code", Variant("c" + std::to_string(i < 998 ? i : i - 500))); // two repeat c498, c499
        batch.SetValue(1, Variant::FromDateTime(base + (i < 998 ? i : i - 500) * second));
        batch.Post();
    }
    batch.Append();
    batch.SetValue(0, Variant("no-time")); // FailTime stays null: refused
    batch.Post();
    batch.Append();
    batch.SetValue(0, Variant("cancelled"));
    batch.Cancel();
    EXPECT_EQ(batch.PendingCount(), 1001u);

    EXPECT_THROW(batch.UpdateBatch(), EDatabaseError);
    EXPECT_EQ(batch.PendingCount(), 3u + 2u + 1u) << "three already stored, two repeats, one without a time";
    EXPECT_EQ(Count("alarms"), 3 + 995);
    EXPECT_EQ(Open({"SELECT * FROM alarms WHERE Code = 'c997' "}).RecordCount(), 1u);
    EXPECT_THROW(batch.UpdateBatch(), EDatabaseError) << "sending again refuses the same records";
    EXPECT_EQ(batch.PendingCount(), 6u);
}

TEST_P(Behaviour, LargeBatchRefusesOnlyTheBadRowsAmongGoodRuns) {
    // Runs of good rows before and after each refused one: a refusal costs no neighbour its place.
    const TDateTime base = EncodeDateTime(2026, 12, 7, 0, 0, 0);
    const double second = 1.0 / 86400;
    Exec({Format("INSERT INTO alarms (Code, FailTime) VALUES ('d1700', %s)", QDate(base + 1700 * second).c_str())});
    TDbBatchSet batch(dm.conMain);
    batch.Open("alarms");
    for (int i = 0; i < 2400; ++i) {
        batch.Append();
        const int key = i == 1200 ? 1199 : i; // a repeat inside the batch, and d1700 already stored
        batch.SetValue(0, Variant("d" + std::to_string(key)));
        batch.SetValue(1, Variant::FromDateTime(base + key * second));
    }
    EXPECT_THROW(batch.UpdateBatch(), EDatabaseError);
    EXPECT_EQ(batch.PendingCount(), 2u);
    EXPECT_EQ(Count("alarms"), 1 + 2398);
    for (const char* code : {"d0", "d1199", "d1201", "d1699", "d1701", "d2399"})
        EXPECT_EQ(Open({Format("SELECT * FROM alarms WHERE Code = '%s' ", code)}).RecordCount(), 1u) << code;
}

TEST_P(Behaviour, BatchConvertsValuesToTheColumnTypes) {
    TDbBatchSet batch(dm.conMain);
    batch.Open("site");
    batch.Append();
    batch.SetValue("CODE", Variant("b1"));
    batch.SetValue("IPaddr", Variant("127.0.0.1"));
    batch.SetValue("Downtime", Variant("12"));
    EXPECT_THROW(batch.SetValue("LastRTT", Variant("fast")), EConvertError);
    batch.Post();
    EXPECT_NO_THROW(batch.UpdateBatch());
    EXPECT_EQ(batch.PendingCount(), 0u);
    TDbQuery& q = Open({"SELECT * FROM site WHERE code = 'B1' "});
    EXPECT_EQ(q.FieldByName("Downtime"), Variant(12LL));
    EXPECT_TRUE(q.FieldByName("LastRTT").IsNull());
    EXPECT_THROW(batch.Open("site; DROP TABLE site"), EArgumentError);
}

TEST_P(Behaviour, TableScriptsRecreateEachTableEmptyWithItsIndex) {
    Exec({"INSERT INTO codes (code, codevalue) VALUES ('k', 'v')"});
    for (const std::string& table : TableNames()) {
        TTableScript script;
        ASSERT_TRUE(dm.TableScripts(table, script)) << table;
        for (const TScriptLines* lines : {&script.Drop, &script.Create, &script.Index}) {
            ExecStatement(dm.adoQ2, *lines);
            dm.adoQ2.Close();
        }
        EXPECT_EQ(Count(table), 0) << table;
        TDbBatchSet batch(dm.conMain);
        batch.Open(table);
        for (int copy = 0; copy < 2; ++copy) {
            batch.Append();
            for (std::size_t c = 0; c < batch.Columns().size(); ++c)
                batch.SetValue(c, batch.Columns()[c].Class == TFieldClass::Text ? Variant("x") : Variant(1));
            batch.Post();
        }
        EXPECT_THROW(batch.UpdateBatch(), EDatabaseError) << table << ": the unique index refuses the copy";
        EXPECT_EQ(Count(table), 1) << table;
    }
    TTableScript script;
    EXPECT_FALSE(dm.TableScripts("Alarms", script));
    EXPECT_FALSE(dm.TableScripts("sysobjects", script));
}

INSTANTIATE_TEST_SUITE_P(Backends, Behaviour, ::testing::Values(Backend::SQLite, Backend::PostgreSQL), BackendName);
