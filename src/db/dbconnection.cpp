// The connection: chooses the backend from the provider and opens a session.
#include "db/connstring.h"
#include "db/dbaccess.h"
#include "db/dbsession.h"
#include "db/tablescripts.h"

TDbConnection::TDbConnection() = default;
TDbConnection::~TDbConnection() = default;

void TDbConnection::Open() {
    Close();
    const TConnectionSettings settings = ParseConnectionString(ConnectionString);
    const TDbDialect dialect = DialectOfProvider(settings.Provider);
    std::unique_ptr<TDbSession> session;
    if (dialect == TDbDialect::SQLite) {
        session = OpenSqliteSession(SqliteFilePath(settings.InitialCatalog));
    } else {
        TOdbcOptions options;
        options.ConnectString = OdbcConnectString(dialect, settings, OdbcDriverFor(dialect));
        options.Dialect = dialect;
        options.LoginTimeoutSeconds = ConnectionTimeout;
        options.QueryTimeoutSeconds = CommandTimeout;
        session = OpenOdbcSession(options);
    }
    CreateMissingTables(*session, dialect);
    m_session = std::move(session);
}

void TDbConnection::Close() {
    m_session.reset();
}

bool TDbConnection::Connected() const {
    return m_session && m_session->Alive();
}

TDbSession& TDbConnection::Session() {
    ++m_uses;
    if (!m_session) throw EDatabaseError("Connection is closed.");
    return *m_session;
}
