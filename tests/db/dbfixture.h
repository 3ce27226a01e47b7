// A data module connected to a fresh database of either backend: an embedded file in a temporary
// directory, or a new database on the tests' private PostgreSQL server (through ODBC).
#pragma once

#include "db/data.h"
#include "pgserver.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

enum class Backend { SQLite, PostgreSQL };

inline std::string BackendName(const ::testing::TestParamInfo<Backend>& info) {
    return info.param == Backend::SQLite ? "SQLite" : "PostgreSQL";
}

/// Points the settings of a data module at a fresh database of the backend.
inline void Configure(TVKTDataModule& dm, Backend backend, const TempDir& dir) {
    if (backend == Backend::SQLite) {
        dm.DBProvider = "SQLite";
        dm.DataBase = dir.File("vkt.db");
        dm.DBServer = "";
        return;
    }
    TestPgServer& server = TestPgServer::Shared();
    dm.DBProvider = "PostgreSQL";
    dm.DataBase = server.CreateDatabase();
    dm.DBServer = "127.0.0.1," + std::to_string(server.Port());
    dm.DBUser = "vkt";
    dm.DBPass = "";
}

class DataModuleOn : public ::testing::TestWithParam<Backend> {
protected:
    void SetUp() override {
        Configure(dm, GetParam(), dir);
        ASSERT_TRUE(dm.ActivateConnection()) << dm.LastConnectionError();
    }

    /// Runs a statement that returns no rows on adoQ2, as the alarm bookkeeping does.
    void Exec(const std::vector<std::string>& lines) { ExecStatement(dm.adoQ2, lines); }
    /// Opens a statement on adoQ1 and returns the query positioned on its first row.
    TDbQuery& Open(const std::vector<std::string>& lines) {
        OpenStatement(dm.adoQ1, lines);
        return dm.adoQ1;
    }
    long long Count(const std::string& table) {
        return Open({"SELECT COUNT(*) AS RecCount FROM " + table + " "}).FieldByName("RecCount").AsInteger();
    }

    TempDir dir;
    TVKTDataModule dm;
};
