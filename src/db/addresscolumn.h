// The site table's address column: tables made before it held 255 characters keep 16 until
// `vkt-datutil widen-address` widens them; vkt never alters an existing database by itself.
#pragma once

#include "db/dbaccess.h"

#include <string>
#include <vector>

class TDbSession;

/// The characters the address column of table site holds; 0 when the table is missing or the size
/// cannot be read.
int AddressColumnSize(TDbSession& session, TDbDialect dialect);

/// Widens the address column to the size tables are made with (an ALTER on PostgreSQL and SQL Server, a
/// rebuild of the table on SQLite), in one transaction. Returns what was done, a line each; nothing is
/// changed when the column is wide already. Raises EDatabaseError when the table is missing or a
/// statement fails (the transaction is rolled back).
std::vector<std::string> WidenAddressColumn(TDbSession& session, TDbDialect dialect);

/// The refusal of an address longer than `size` characters: it names the column and the command that
/// widens it.
std::string AddressTooLongText(const std::string& address, int size);
