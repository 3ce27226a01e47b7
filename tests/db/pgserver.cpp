// The tests' private PostgreSQL cluster. initdb and the server refuse to run as root, so as root
// (the CI) they run as the postgres user through runuser.
#include "pgserver.h"

#include "db/connstring.h"
#include "db/dbsession.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <pwd.h>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace {

std::string FindPgBin() {
    std::string best;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/usr/lib/postgresql", ec))
        if (fs::exists(entry.path() / "bin" / "initdb")) best = std::max(best, (entry.path() / "bin").string());
    if (best.empty()) throw std::runtime_error("PostgreSQL server binaries not found under /usr/lib/postgresql");
    return best;
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Runs a server program as the postgres user when we are root; its output goes to `log`.
void RunAsServerUser(const std::string& command, const std::string& log) {
    const std::string prefix = geteuid() == 0 ? "runuser -u postgres -- " : "";
    const std::string line = prefix + command + " >>'" + log + "' 2>&1";
    if (std::system(line.c_str()) != 0) throw std::runtime_error("failed: " + command + "\n" + ReadAll(log));
}

// initdb costs more than a second of processor time and every test program that uses the server starts
// a cluster of its own: the first one on this machine keeps an initialised cluster as a template (made
// in a directory of its own, then renamed into place, so a half-made one is never seen) and the others
// copy it.
void MakeCluster(const std::string& bin, const std::string& data, const std::string& log) {
    const std::string initdb = bin + "/initdb -U vkt -A trust -E UTF8 --locale=C.UTF-8 -N";
    const fs::path templ = fs::temp_directory_path() / ("vkt-pg-template-" + std::to_string(geteuid()) + "-" +
                                                        std::to_string(std::hash<std::string>{}(initdb)));
    const auto complete = [](const fs::path& cluster) { return fs::exists(cluster / "global" / "pg_control"); };
    if (complete(templ)) {
        RunAsServerUser("cp -a '" + templ.string() + "' '" + data + "'", log);
        return;
    }
    std::string making = templ.string() + ".XXXXXX";
    if (mkdtemp(making.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    if (geteuid() == 0) {
        const passwd* pg = getpwnam("postgres");
        if (pg == nullptr || chown(making.c_str(), pg->pw_uid, pg->pw_gid) != 0)
            throw std::runtime_error("cannot hand " + making + " to the postgres user");
    }
    RunAsServerUser(initdb + " -D '" + making + "/data'", log);
    std::error_code ec;
    fs::rename(making + "/data", templ, ec); // fails when another program put its template there first
    RunAsServerUser("cp -a '" + (complete(templ) ? templ.string() : making + "/data") + "' '" + data + "'", log);
    fs::remove_all(making, ec);
}

TestPgServer* g_shared = nullptr;
std::string g_extraAddress, g_extraNetwork;
std::string g_extraSettings;

} // namespace

int ClosedLoopbackPort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof addr;
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length) != 0) {
        close(fd);
        throw std::runtime_error("no free loopback port");
    }
    close(fd); // bound but never listening: now nothing answers on it
    return ntohs(addr.sin_port);
}

TestPgServer& TestPgServer::Shared() {
    if (g_shared == nullptr) {
        g_shared = new TestPgServer();
        std::atexit(StopShared);
        g_shared->InitCluster();
        g_shared->Start();
    }
    return *g_shared;
}

void TestPgServer::AlsoListenOn(const std::string& address, const std::string& network) {
    g_extraAddress = address;
    g_extraNetwork = network;
}

void TestPgServer::AlsoSet(const std::string& name, const std::string& value) {
    g_extraSettings += " -c " + name + "=" + value;
}

void TestPgServer::StopShared() {
    delete g_shared;
    g_shared = nullptr;
}

TestPgServer::~TestPgServer() {
    try {
        Stop();
    } catch (...) {
    }
    std::error_code ec;
    if (!m_dir.empty()) fs::remove_all(m_dir, ec);
}

void TestPgServer::InitCluster() {
    m_bin = FindPgBin();
    std::string pattern = (fs::temp_directory_path() / "vkt-pg-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    m_dir = pattern;
    if (geteuid() == 0) {
        const passwd* pg = getpwnam("postgres");
        if (pg == nullptr || chown(m_dir.c_str(), pg->pw_uid, pg->pw_gid) != 0)
            throw std::runtime_error("cannot hand " + m_dir + " to the postgres user");
    }
    // No driver registration is needed (the backend loads the driver library by its path); an empty
    // driver list also keeps the packaged driver settings (a communication log in /tmp) out of the tests.
    const std::string drivers = m_dir + "/odbcinst.ini";
    std::ofstream(drivers).close();
    setenv("ODBCINSTINI", drivers.c_str(), 1);
    m_port = ClosedLoopbackPort();
    MakeCluster(m_bin, m_dir + "/data", m_dir + "/initdb.log");
    if (!g_extraNetwork.empty())
        std::ofstream(m_dir + "/data/pg_hba.conf", std::ios::app) << "host all all " << g_extraNetwork << " trust\n";
}

// The server cannot be told to take a port of the system's choosing, and a port found free may be
// taken by another program before the server binds it: then its first start tries another port.
void TestPgServer::Start() {
    if (m_running) return;
    for (int attempt = 1;; ++attempt) {
        try {
            StartOn(m_port);
            break;
        } catch (const std::runtime_error&) {
            const std::string log = m_dir + "/server.log";
            if (m_started || attempt == 5 || ReadAll(log).find("Address already in use") == std::string::npos) throw;
            fs::rename(log, log + "." + std::to_string(attempt));
            m_port = ClosedLoopbackPort();
        }
    }
    m_running = m_started = true;
}

void TestPgServer::StartOn(int port) {
    const std::string listen = g_extraAddress.empty() ? "127.0.0.1" : "127.0.0.1," + g_extraAddress;
    const std::string options = "-c listen_addresses=" + listen + " -p " + std::to_string(port) + " -k '" + m_dir +
                                "' -c fsync=off -c synchronous_commit=off -c full_page_writes=off" + g_extraSettings;
    RunAsServerUser(m_bin + "/pg_ctl -D '" + m_dir + "/data' -l '" + m_dir + "/server.log' -w -t 60 -o \"" + options +
                        "\" start",
                    m_dir + "/pg_ctl.log");
}

void TestPgServer::Stop() {
    if (!m_running) return;
    m_running = false;
    RunAsServerUser(m_bin + "/pg_ctl -D '" + m_dir + "/data' -m fast -w -t 60 stop", m_dir + "/pg_ctl.log");
}

std::string TestPgServer::CreateDatabase() {
    const std::string name = "vkt_test_" + std::to_string(++m_databases);
    TConnectionSettings admin;
    admin.UserID = "vkt";
    admin.InitialCatalog = "postgres";
    admin.DataSource = "127.0.0.1," + std::to_string(m_port);
    TOdbcOptions options;
    options.Dialect = TDbDialect::PostgreSQL;
    options.ConnectString = OdbcConnectString(TDbDialect::PostgreSQL, admin, OdbcDriverFor(TDbDialect::PostgreSQL));
    OpenOdbcSession(options)->Run("CREATE DATABASE " + name);
    return name;
}

std::string TestPgServer::ConnectionString(const std::string& database) const {
    return "Provider=PostgreSQL;Persist Security Info=True;User ID=vkt;Password=;Initial Catalog=" + database +
           ";Data Source=127.0.0.1," + std::to_string(m_port);
}
