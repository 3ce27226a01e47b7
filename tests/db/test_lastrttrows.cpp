// The gathered LastRTT statement each kind of database gets, printed: the embedded file and PostgreSQL
// run theirs in the scan tests; SQL Server, which no test here can reach, is checked by its text.
#include "db/lastrttrows.h"

#include <gtest/gtest.h>

#include <iostream>

namespace {

struct DialectCase {
    const char* Name;
    TDbDialect Dialect;
    std::vector<std::string> Statements;
};

void PrintTo(const DialectCase& c, std::ostream* os) {
    *os << c.Name;
}

const std::vector<SiteRtt> kSites{{"A1", 12}, {"o'b", 0}, {"C3", 12}};

class LastRtt : public ::testing::TestWithParam<DialectCase> {};

TEST_P(LastRtt, IsOneStatementForAChunkWhereTheDialectAllows) {
    const std::vector<std::string> statements = LastRttStatements(GetParam().Dialect, kSites);
    for (const std::string& s : statements)
        std::cout << GetParam().Name << ": " << s << "\n";
    EXPECT_EQ(statements, GetParam().Statements);
    EXPECT_TRUE(LastRttStatements(GetParam().Dialect, {}).empty());
}

INSTANTIATE_TEST_SUITE_P(
    Dialects, LastRtt,
    ::testing::Values(
        DialectCase{"SQLite",
                    TDbDialect::SQLite,
                    {"WITH v(code, rtt) AS (VALUES ('A1', 12), ('o''b', 0), ('C3', 12)) UPDATE site SET LastRTT = "
                     "v.rtt FROM v WHERE site.code = v.code"}},
        DialectCase{
            "PostgreSQL",
            TDbDialect::PostgreSQL,
            {"UPDATE site SET LastRTT = v.rtt FROM (VALUES ('A1', 12), ('o''b', 0), ('C3', 12)) AS v(code, rtt) "
             "WHERE site.code = CAST(v.code AS bpchar) AND site.code IN ('A1', 'o''b', 'C3')"}},
        DialectCase{"SqlServer",
                    TDbDialect::SqlServer,
                    {"UPDATE site SET LastRTT = v.rtt FROM site JOIN (VALUES ('A1', 12), ('o''b', 0), ('C3', 12)) AS "
                     "v(code, rtt) ON site.code = v.code"}},
        // A data source of unknown kind: one plain statement per distinct time.
        DialectCase{"OdbcDsn",
                    TDbDialect::OdbcDsn,
                    {"UPDATE site SET LastRTT = '0' WHERE code IN ('o''b') ",
                     "UPDATE site SET LastRTT = '12' WHERE code IN ('A1', 'C3') "}}),
    [](const auto& info) { return std::string(info.param.Name); });

} // namespace
