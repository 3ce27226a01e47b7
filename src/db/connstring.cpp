// Reading the data module's connection string and turning it into what a backend opens.
#include "db/connstring.h"

#include "platform/progdir.h"
#include "platform/strutil.h"

#include <array>
#include <cctype>

namespace {

const std::array<const char*, 6> kKnownKeys = {"Provider", "Persist Security Info", "User ID",
                                               "Password", "Initial Catalog",       "Data Source"};

// The known key a segment starts with ("User ID=..."), or nullptr.
const char* KnownKeyOf(const std::string& segment) {
    const auto eq = segment.find('=');
    if (eq == std::string::npos) return nullptr;
    const std::string key = Trim(segment.substr(0, eq));
    for (const char* known : kKnownKeys)
        if (SameText(key, known)) return known;
    return nullptr;
}

void Assign(TConnectionSettings& settings, const std::string& key, const std::string& value) {
    if (key == "Provider")
        settings.Provider = value;
    else if (key == "User ID")
        settings.UserID = value;
    else if (key == "Password")
        settings.Password = value;
    else if (key == "Initial Catalog")
        settings.InitialCatalog = value;
    else if (key == "Data Source")
        settings.DataSource = value;
}

bool AllDigits(const std::string& s) {
    if (s.empty()) return false;
    for (unsigned char c : s)
        if (!std::isdigit(c)) return false;
    return true;
}

bool IsLocalName(const std::string& host) {
    return host.empty() || SameText(host, "(local)") || host == ".";
}

TServerAddress Address(std::string host, std::string port) {
    host = Trim(host);
    if (IsLocalName(host)) host = "localhost";
    return {host, Trim(port)};
}

} // namespace

TConnectionSettings ParseConnectionString(const std::string& text) {
    TConnectionSettings settings;
    std::string key, value;
    for (const std::string& segment : SplitString(text, ';')) {
        if (const char* known = KnownKeyOf(segment)) {
            if (!key.empty()) Assign(settings, key, value);
            key = known;
            value = segment.substr(segment.find('=') + 1);
        } else if (!key.empty()) {
            value += ";" + segment; // a ";" inside a value
        }
    }
    if (!key.empty()) Assign(settings, key, value);
    return settings;
}

TDbDialect DialectOfProvider(const std::string& provider) {
    const std::string p = UpperCase(Trim(provider));
    if (p == "SQLITE") return TDbDialect::SQLite;
    if (p == "POSTGRESQL") return TDbDialect::PostgreSQL;
    if (p == "MSDASQL" || StartsWithText(p, "MSDASQL.")) return TDbDialect::OdbcDsn;
    if (p == "SQLOLEDB" || StartsWithText(p, "SQLOLEDB.") || StartsWithText(p, "SQLNCLI") ||
        StartsWithText(p, "MSOLEDBSQL"))
        return TDbDialect::SqlServer;
    throw EDatabaseError("Provider cannot be found: \"" + provider + "\" is not a supported database provider.");
}

std::string SqliteFilePath(const std::string& database) {
    const std::string name = Trim(database);
    if (name.find('/') != std::string::npos) return name;
    return ProgramDir() + (name.empty() ? std::string("vkt") : name) + ".db";
}

TServerAddress SplitServer(const std::string& dataSource) {
    const std::string text = Trim(dataSource);
    if (!text.empty() && text.front() == '[') { // [v6-address]:port
        const auto close = text.find(']');
        if (close != std::string::npos) {
            const std::string rest = text.substr(close + 1);
            const std::string port = rest.size() > 1 && (rest[0] == ':' || rest[0] == ',') ? rest.substr(1) : "";
            return Address(text.substr(1, close - 1), AllDigits(port) ? port : "");
        }
    }
    const auto comma = text.rfind(',');
    if (comma != std::string::npos && AllDigits(Trim(text.substr(comma + 1))))
        return Address(text.substr(0, comma), text.substr(comma + 1));
    const auto colon = text.find(':');
    if (colon != std::string::npos && colon == text.rfind(':') && AllDigits(text.substr(colon + 1)))
        return Address(text.substr(0, colon), text.substr(colon + 1));
    return Address(text, "");
}

std::string OdbcValue(const std::string& value) {
    if (value.find_first_of(";{}=") == std::string::npos && Trim(value) == value) return value;
    std::string out = "{";
    for (char c : value) {
        out += c;
        if (c == '}') out += '}';
    }
    return out + "}";
}

namespace {

std::string Pair(const char* key, const std::string& value) {
    return std::string(key) + "=" + OdbcValue(value) + ";";
}

std::string PostgresString(const TConnectionSettings& s, const std::string& driver) {
    const TServerAddress server = SplitServer(s.DataSource);
    // The daemon writes dates as month/day/year; values are UTF-8 bytes and backslashes are plain text.
    const std::string settings =
        "SET DateStyle TO 'ISO, MDY'; SET standard_conforming_strings TO on; SET client_encoding TO 'UTF8'";
    // A server that stops answering is noticed by TCP keep-alives within about ten seconds. (The
    // driver takes the login time-out from the connection attribute.)
    const std::string pqopt = "keepalives=1 keepalives_idle=5 keepalives_interval=2 keepalives_count=3";
    return Pair("Driver", driver) + Pair("Server", server.Host) +
           Pair("Port", server.Port.empty() ? std::string("5432") : server.Port) + Pair("Database", s.InitialCatalog) +
           Pair("UID", s.UserID) + Pair("PWD", s.Password) + Pair("ConnSettings", settings) + Pair("pqopt", pqopt) +
           "BoolsAsChar=0;CommLog=0;Debug=0;";
}

std::string SqlServerString(const TConnectionSettings& s, const std::string& driver) {
    const TServerAddress server = SplitServer(s.DataSource);
    std::string out = Pair("Driver", driver) + Pair("Server", server.Host);
    // A named instance (host\instance) is found through the server's browser service, not by port.
    if (!server.Port.empty() || server.Host.find('\\') == std::string::npos)
        out += Pair("Port", server.Port.empty() ? std::string("1433") : server.Port);
    return out + Pair("Database", s.InitialCatalog) + Pair("UID", s.UserID) + Pair("PWD", s.Password) +
           "TDS_Version=7.4;ClientCharset=UTF-8;";
}

std::string DsnString(const TConnectionSettings& s) {
    std::string out = Pair("DSN", Trim(s.DataSource)) + Pair("UID", s.UserID) + Pair("PWD", s.Password);
    if (!s.InitialCatalog.empty()) out += Pair("Database", s.InitialCatalog);
    return out;
}

} // namespace

std::string OdbcConnectString(TDbDialect dialect, const TConnectionSettings& settings, const std::string& driver) {
    switch (dialect) {
    case TDbDialect::PostgreSQL:
        return PostgresString(settings, driver);
    case TDbDialect::SqlServer:
        return SqlServerString(settings, driver);
    case TDbDialect::OdbcDsn:
        return DsnString(settings);
    case TDbDialect::SQLite:
        break;
    }
    throw EDatabaseError("The embedded database is not reached through ODBC.");
}
