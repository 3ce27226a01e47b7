// What anyone on the network may send: paths out of the directory, requests over the bounds,
// saves that would corrupt vkt.ini or come from another site, slow and idle connections.
#include "webfixture.h"

#include "net/loopback.h"
#include "web/statusboard.h"

#include <filesystem>
#include <fstream>
#include <poll.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

const std::string MissingHtm = "HTTP/1.0 200 OK\r\nServer: Korvel Web Server/1.0 \r\nContent-Type: Text/Html \r\n"
                               "Content-Length: 2 \r\n\r\n\r\n";
const std::string MissingGif = "HTTP/1.0 200 OK\r\nServer: Korvel Web Server/1.0 \r\nContent-Type: image/gif \r\n"
                               "Content-Length: 0\r\n\r\n";

struct HostileCase {
    const char* name;
    std::string request; // @ROOT@: the directory above the served one; @PORT@: the server's port
    std::string expected;
};

class Hostile : public WebServerTest, public ::testing::WithParamInterface<HostileCase> {
protected:
    void SetUp() override {
        WebServerTest::SetUp();
        WriteFileText(Root().File("secret.htm"), "SECRET");
        std::filesystem::create_symlink(Root().File("secret.htm"), Dir() + "/link.htm");
        std::filesystem::create_directory_symlink(Root().Path(), Dir() + "/out");
        ::mkfifo((Dir() + "/fifo.htm").c_str(), 0600);
        WriteFileText(Dir() + "/vkt.db", "DATABASE");
    }
    std::string Expand(std::string text) const {
        for (auto [from, to] :
             {std::pair<std::string, std::string>{"@ROOT@", Root().Path()}, {"@PORT@", std::to_string(m_port)}})
            for (auto at = text.find(from); at != std::string::npos; at = text.find(from))
                text.replace(at, from.size(), to);
        return text;
    }
};

TEST_P(Hostile, IsRefusedWithoutReadingOutsideOrChangingTheSettings) {
    const std::string before = ReadFileText(Ini());
    EXPECT_EQ(Exchange(Expand(GetParam().request)), GetParam().expected);
    EXPECT_EQ(ReadFileText(Ini()), before);
}

std::string Headers(int count) {
    std::string lines;
    for (int i = 0; i < count; ++i)
        lines += "X-Header-" + std::to_string(i) + ": x\r\n";
    return lines;
}

long ResidentKb() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    return 0;
}

const std::string Save = "&mode=Save+Changes HTTP/1.1\r\nHost: 127.0.0.1:@PORT@\r\n";

INSTANTIATE_TEST_SUITE_P(
    Requests, Hostile,
    ::testing::Values(HostileCase{"DotDot", "GET /../secret.htm HTTP/1.0\r\n\r\n", MissingHtm},
                      HostileCase{"DotDotInside", "GET /sub/../../secret.htm HTTP/1.0\r\n\r\n", MissingHtm},
                      HostileCase{"Absolute", "GET /@ROOT@/secret.htm HTTP/1.0\r\n\r\n", MissingHtm},
                      HostileCase{"Backslash", "GET /..\\secret.htm HTTP/1.0\r\n\r\n", MissingHtm},
                      HostileCase{"FileSymlinkOut", "GET /link.htm HTTP/1.0\r\n\r\n", MissingHtm},
                      HostileCase{"DirSymlinkOut", "GET /out/secret.htm HTTP/1.0\r\n\r\n", MissingHtm},
                      HostileCase{"Fifo", "GET /fifo.htm HTTP/1.0\r\n\r\n", MissingHtm},
                      HostileCase{"SystemFileAsImage", "GET /../../../../etc/passwd HTTP/1.0.gif\r\n\r\n", MissingGif},
                      // Only a path that itself ends in .gif or .htm names a file that is served.
                      HostileCase{"DatabaseBehindGifWord", "GET /vkt.db HTTP/1.0 .gif\r\n\r\n", MissingGif},
                      HostileCase{"SettingsBehindHtmWord", "GET /vkt.ini HTTP/1.0 .htm\r\n\r\n", MissingHtm},
                      HostileCase{"SettingsWithGifQuery", "GET /vkt.ini?x.gif HTTP/1.0\r\n\r\n", MissingGif},
                      HostileCase{"Nul", std::string("GET /secret.htm\0 HTTP/1.0\r\n\r\n", 29), ""},
                      HostileCase{"LongLine", "GET /" + std::string(3000, 'a') + " HTTP/1.0\r\n\r\n", ""},
                      HostileCase{"TooManyHeaders", "GET / HTTP/1.0\r\n" + Headers(100) + "\r\n", ""},
                      HostileCase{"SectionInKey", "GET /RESULT?[Mail]=x" + Save + "\r\n", ""},
                      HostileCase{"BracketInKey", "GET /RESULT?VKTID=ok&a]b=x" + Save + "\r\n", ""},
                      HostileCase{"EncodedEqualsInKey", "GET /RESULT?a%3Db=x" + Save + "\r\n", ""},
                      HostileCase{"CrossSiteReferer",
                                  "GET /RESULT?VKTID=evil" + Save + "Referer: http://evil.example/a\r\n\r\n", ""},
                      HostileCase{"CrossSiteOrigin", "GET /RESULT?VKTID=evil" + Save + "Origin: null\r\n\r\n", ""},
                      HostileCase{"CrossSiteFetchWithoutReferer",
                                  "GET /RESULT?VKTID=evil" + Save + "Sec-Fetch-Site: cross-site\r\n\r\n", ""},
                      HostileCase{"DnsRebinding",
                                  "GET /RESULT?VKTID=evil&mode=Save+Changes HTTP/1.1\r\nHost: evil.example:@PORT@\r\n"
                                  "Origin: http://evil.example:@PORT@\r\n\r\n",
                                  ""}),
    [](const auto& info) { return std::string(info.param.name); });

// A hostile name that resolves to this machine (DNS rebinding) reads nothing, on any path; a
// request without Host (HTTP/1.0) or naming this machine is served.
class ForeignHost : public WebServerTest {
protected:
    void SetUp() override {
        m_configure = [this](TWebServer& web) { web.Board = &m_board; };
        WebServerTest::SetUp();
        WriteFileText(Dir() + "/page.htm", "PAGE");
    }
    TStatusBoard m_board;
};

TEST_F(ForeignHost, GetsNoAnswerOnAnyPath) {
    const std::string port = std::to_string(m_port);
    const std::pair<std::string, bool> hosts[] = {
        {"Host: evil.example:" + port + "\r\n", false},
        {"Host: 127.0.0.1:" + port + "\r\nHost: evil.example\r\n", false},
        {"", true},
        {"Host: 127.0.0.1:" + port + "\r\n", true},
        {"Host: LOCALHOST:" + port + "\r\n", true},
    };
    for (const char* path : {"/", "/RESULT?mode=+Settings+", "/RESULT?mode=View+Log", "/status", "/status.json",
                             "/metrics", "/page.htm", "/images/zelto.gif"})
        for (const auto& [host, served] : hosts) {
            const std::string answer = Exchange("GET " + std::string(path) + " HTTP/1.1\r\n" + host + "\r\n");
            const std::string statusLine = answer.substr(0, answer.find("\r\n"));
            EXPECT_EQ(statusLine, served ? "HTTP/1.0 200 OK" : "") << path << " " << host;
        }
}

// Made with: openssl passwd -6 -salt vktguard s3cret
const char* const OpsHash =
    "$6$vktguard$CNf8Dw/sD1FljECmDluHkHyN3kYvzNFrXY3Gu.q/CMiBW/mF8yh0NSqqO6x3G/nFPEJYdDggm/dNnNiEKq.4h0";

class BasicLogin : public WebServerTest {
protected:
    void SetUp() override {
        m_configure = [this](TWebServer&) {
            WriteFileText(Ini(), ReadFileText(Ini()) + "[Web]\r\nUser=ops\r\nPassword=" + OpsHash + "\r\n");
        };
        WebServerTest::SetUp();
    }
};

// Credentials count only as the one base64 spelling of "ops:s3cret": nothing after them, no
// other padding, no byte outside the alphabet, no control character inside.
TEST_F(BasicLogin, AcceptsOnlyExactCredentials) {
    const std::pair<std::string, bool> cases[] = {
        {"Basic b3BzOnMzY3JldA==", true},      // ops:s3cret
        {"Basic b3BzOnMzY3JldABqdW5r", false}, // ops:s3cret NUL junk
        {"Basic b3BzOnMzY3JldA==junk", false}, // junk after the padding
        {"Basic b3BzOnMzY3JldA=junk", false},  // junk in place of the padding
        {"Basic b3BzOnMzY3JldA==b3Bz", false}, // a group after the padding
        {"Basic b3BzOnMzY3JldA", false},       // padding missing
        {"Basic b3BzOnMzY3JldA=", false},      // padding short
        {"Basic b3BzOnMzY3JldB==", false},     // bits under the padding not zero
        {"Basic b3BzOnMz.Y3JldA==", false},    // outside the alphabet
        {"Basic b3BzOnMz Y3JldA==", false},    // a space inside
        {"Basic b3BzOnMzY3JldAE=", false},     // ops:s3cret SOH
        {"Basic b3BzOndyb25n", false},         // ops:wrong
        {"Basic cm9vdDpzM2NyZXQ=", false},     // root:s3cret
    };
    for (const auto& [authorization, accepted] : cases) {
        const std::string answer = Exchange("GET / HTTP/1.0\r\nAuthorization: " + authorization + "\r\n\r\n");
        EXPECT_EQ(answer.rfind(accepted ? "HTTP/1.0 200 OK\r\n" : "HTTP/1.0 401 Unauthorized\r\n", 0), 0u)
            << authorization;
    }
}

// Slow clients fetching a large file cost a block each, not the file: 16 of them on a 16-MB image
// would otherwise hold 256 MB.
TEST_F(WebServerTest, LargeFileIsStreamedToSlowClients) {
    const std::size_t size = 16 << 20;
    WriteFileText(Dir() + "/big.gif", std::string(size, 'g'));
    const long before = ResidentKb();
    std::vector<int> clients;
    for (int i = 0; i < 16; ++i) {
        clients.push_back(ConnectLoopback(m_port));
        SendAll(clients.back(), "GET /big.gif HTTP/1.0\r\n\r\n");
    }
    for (int fd : clients) {
        pollfd ready{fd, POLLIN, 0};
        EXPECT_EQ(::poll(&ready, 1, 60000), 1);
    }
    std::this_thread::sleep_for(200ms); // the senders fill the socket buffers and wait
    EXPECT_LT(ResidentKb() - before, 64 * 1024) << "kB held while 16 clients do not read";
    EXPECT_EQ(ReceiveAll(clients.front()).size(), size + 103); // the header, then every byte
    for (int& fd : clients)
        CloseFd(fd);
}

TEST_F(WebServerTest, NinetyNineHeaderLinesAreStillServed) {
    std::string headers;
    for (int i = 0; i < 99; ++i)
        headers += "X-" + std::to_string(i) + ": x\r\n";
    EXPECT_EQ(Exchange("GET / HTTP/1.0\r\n" + headers + "\r\n").rfind("HTTP/1.0 200 OK\r\n", 0), 0u);
}

class SlowClients : public WebServerTest {
protected:
    void SetUp() override {
        m_configure = [](TWebServer& web) { web.webSock.ServerSocketTimeOut = 2; };
        WebServerTest::SetUp();
    }
};

TEST_F(SlowClients, TricklingRequestIsDroppedAtTheRequestDeadline) {
    int fd = ConnectLoopback(m_port);
    const std::string request = "GET / HTTP/1.0\r\nX-Padding: " + std::string(200, 'x');
    const auto start = std::chrono::steady_clock::now();
    std::string received;
    for (char c : request) {
        if (::send(fd, &c, 1, MSG_NOSIGNAL) != 1 || PeerClosed(fd, 250ms)) break;
    }
    // All of it trickled in would take 50 s; the 2-s deadline ends it long before, even on a busy machine.
    EXPECT_LT(std::chrono::steady_clock::now() - start, 30s) << "a byte every 250 ms kept the connection";
    EXPECT_TRUE(PeerClosed(fd, 30s));
    CloseFd(fd);
}

TEST_F(WebServerTest, IdleConnectionsDoNotKeepARequestFromBeingServed) {
    std::vector<int> idle;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(std::uint16_t(m_port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    for (int i = 0; i < 200; ++i) {
        int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        idle.push_back(fd);
    }
    const std::string page = Exchange("GET / HTTP/1.0\r\n\r\n");
    EXPECT_EQ(page.rfind("HTTP/1.0 200 OK\r\n", 0), 0u);
    EXPECT_NE(page.find("</HTML> \r\n"), std::string::npos);
    for (int& fd : idle)
        CloseFd(fd);
}

} // namespace
