// A private PostgreSQL server for the tests: its own cluster in a temporary directory, listening on
// 127.0.0.1 at a free port, started on first use and stopped when the program ends.
#pragma once

#include <string>

class TestPgServer {
public:
    /// The server of this test program, started on first use (a failure to start throws with the log).
    static TestPgServer& Shared();
    /// Before the first Shared(): the server also listens on `address` (an address of this machine)
    /// and lets clients of `network` (a.b.c.d/n) in without a password.
    static void AlsoListenOn(const std::string& address, const std::string& network);
    /// Before the first Shared(): the server starts with `name` set to `value` as well.
    static void AlsoSet(const std::string& name, const std::string& value);

    ~TestPgServer();
    TestPgServer(const TestPgServer&) = delete;
    TestPgServer& operator=(const TestPgServer&) = delete;

    void Start();
    /// A fast shutdown: open connections are dropped.
    void Stop();
    int Port() const { return m_port; }

    /// Creates an empty database and returns its name.
    std::string CreateDatabase();
    /// The data module's connection string for a database of this server.
    std::string ConnectionString(const std::string& database) const;
    /// Stops the shared server if it was started (registered to run at exit).
    static void StopShared();

private:
    TestPgServer() = default;
    void InitCluster();
    void StartOn(int port);

    std::string m_dir;
    std::string m_bin;
    int m_port = 0;
    bool m_running = false;
    bool m_started = false; // once started, the port stays: connection strings name it
    int m_databases = 0;
};

/// A loopback port on which nothing listens.
int ClosedLoopbackPort();
