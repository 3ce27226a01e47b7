// The schema of the five tables and the scripts that drop, create and index one of them, in the
// DDL of each kind of database. The statements that read and write rows are the same for all.
#pragma once

#include "db/dbaccess.h"

#include <string>
#include <vector>

class TDbSession;

/// One statement's lines.
using TScriptLines = std::vector<std::string>;

/// The three statements that recreate a table: drop (if it exists), create, unique index `ixPrimary`.
struct TTableScript {
    TScriptLines Drop;
    TScriptLines Create;
    TScriptLines Index;
};

/// The names of the five tables in lower case: "alarms", "codes", "vkt", "operator", "site".
const std::vector<std::string>& TableNames();

/// The scripts of a table chosen by its lower-case name (compared exactly); false for any other name.
bool TableScript(TDbDialect dialect, const std::string& table, TTableScript& script);

/// The declared width of a text column (table by its lower-case name, column in any case); 0 for a
/// column that is not text or does not exist.
int ColumnWidth(const std::string& table, const std::string& column);

/// Creates the tables (with their indexes) that the database does not have yet.
void CreateMissingTables(TDbSession& session, TDbDialect dialect);

/// The characters the address column (site.IPaddr) of a table made now holds.
constexpr int AddressColumnWidth = 255;
/// The size of the address column in tables made before it was widened.
constexpr int NarrowAddressColumnWidth = 16;

/// The name of the collation that makes PostgreSQL text columns match without regard to case.
extern const char* const kPostgresNoCase;
