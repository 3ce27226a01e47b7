// Networked servers: a dead server fails the connection within seconds, and a connection lost to a
// server restart is noticed and re-established.
#include "dbfixture.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <vector>

namespace {

// How long ActivateConnection takes, in seconds, and whether it connected.
std::pair<double, bool> TimedActivate(TVKTDataModule& dm) {
    const auto start = std::chrono::steady_clock::now();
    const bool connected = dm.ActivateConnection();
    return {std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), connected};
}

} // namespace

// A server that accepts connections (the kernel completes them) but never says a word.
class SilentServer {
public:
    SilentServer() {
        m_fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof addr;
        bind(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        listen(m_fd, 8);
        getsockname(m_fd, reinterpret_cast<sockaddr*>(&addr), &length);
        m_port = ntohs(addr.sin_port);
    }
    ~SilentServer() { close(m_fd); }
    int Port() const { return m_port; }

private:
    int m_fd = -1;
    int m_port = 0;
};

TEST(NetworkServer, DeadServerFailsWithinSecondsForEachProvider) {
    SilentServer silent;
    for (const char* provider : {"PostgreSQL", "SQLOLEDB.1", "MSOLEDBSQL"}) {
        // Every provider meets a closed port; the two drivers also meet a server that never answers.
        std::vector<int> ports = {ClosedLoopbackPort()};
        if (std::string(provider) != "MSOLEDBSQL") ports.push_back(silent.Port());
        for (int port : ports) {
            TVKTDataModule dm;
            dm.DBProvider = provider;
            dm.DataBase = "Duskwater";
            dm.DBUser = "sa";
            dm.DBServer = "127.0.0.1," + std::to_string(port);
            const auto [seconds, connected] = TimedActivate(dm);
            EXPECT_FALSE(connected) << provider << " port " << port;
            EXPECT_LT(seconds, 6.0) << provider << " port " << port;
            EXPECT_FALSE(dm.LastConnectionError().empty()) << provider;
            EXPECT_FALSE(dm.conMain.Connected()) << provider;
        }
    }
}

TEST(NetworkServer, UnknownProviderOrDataSourceFails) {
    TVKTDataModule dm;
    dm.DBProvider = "Jet.OLEDB";
    EXPECT_FALSE(dm.ActivateConnection());
    EXPECT_NE(dm.LastConnectionError().find("Jet.OLEDB"), std::string::npos);
    dm.DBProvider = "MSDASQL";
    dm.DBServer = "no-such-data-source";
    EXPECT_FALSE(dm.ActivateConnection());
    EXPECT_FALSE(dm.LastConnectionError().empty());
}

TEST(NetworkServer, LostConnectionIsNoticedAndReestablished) {
    TempDir dir;
    TVKTDataModule dm;
    Configure(dm, Backend::PostgreSQL, dir);
    ASSERT_TRUE(dm.ActivateConnection()) << dm.LastConnectionError();
    ExecStatement(dm.adoQ2, {"INSERT INTO alarms (Code, FailTime) VALUES ('a1', '12/7/2026 09:05:03')"});

    TestPgServer& server = TestPgServer::Shared();
    server.Stop();
    EXPECT_THROW(OpenStatement(dm.adoQ1, {"SELECT * FROM alarms "}), EDatabaseError);
    EXPECT_FALSE(dm.conMain.Connected()) << "the scan's connection check must see the loss";
    EXPECT_FALSE(dm.ActivateConnection());

    server.Start();
    ASSERT_TRUE(dm.ActivateConnection()) << dm.LastConnectionError();
    OpenStatement(dm.adoQ1, {"SELECT * FROM alarms "});
    EXPECT_EQ(dm.adoQ1.RecordCount(), 1u);
}
