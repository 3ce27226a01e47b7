// The connection string of the data module, read back into its five values, and what each
// provider makes of them: the embedded database file or the ODBC connection string.
#pragma once

#include "db/dbaccess.h"

#include <string>

struct TConnectionSettings {
    std::string Provider;
    std::string UserID;
    std::string Password;
    std::string InitialCatalog;
    std::string DataSource;
};

/// Reads "Key=value;Key=value" with the keys matched without regard to case. The values were put in
/// without escaping, so a ";" that is not followed by one of the known keys belongs to the value
/// (a password "a;b" survives).
TConnectionSettings ParseConnectionString(const std::string& text);

/// The dialect of a provider name ("SQLite", "SQLOLEDB.1", "PostgreSQL", "MSDASQL", ...), matched
/// without regard to case; EDatabaseError for a provider that is not supported.
TDbDialect DialectOfProvider(const std::string& provider);

/// The embedded database file: "<database>.db" in the program directory, or the text itself when it
/// names a path (contains a "/"). An empty name gives "vkt.db".
std::string SqliteFilePath(const std::string& database);

struct TServerAddress {
    std::string Host;
    std::string Port; // empty when the text names none
};

/// Splits "host,port", "host:port" or "[v6-address]:port"; "(local)" and an empty host are this host.
TServerAddress SplitServer(const std::string& dataSource);

/// An ODBC connection-string value, in braces when it holds a character that would end it.
std::string OdbcValue(const std::string& value);

/// The ODBC connection string for a networked dialect; `driver` is the driver's library or name.
std::string OdbcConnectString(TDbDialect dialect, const TConnectionSettings& settings, const std::string& driver);
