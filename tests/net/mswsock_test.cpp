// The socket binding: error numbers and texts, host names and resolution.
#include "net/mswsock.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace {

std::string RaisedText(std::uint16_t code) {
    try {
        Winsock->RaiseWinsockError(code);
    } catch (const EWinsockError& error) {
        return error.what();
    }
    return "nothing raised";
}

struct ErrorCase {
    int code;
    const char* text;
    friend void PrintTo(const ErrorCase& c, std::ostream* os) { *os << c.code; }
};

class WinsockErrorText : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(WinsockErrorText, CodeGivesTableTextOrNumber) {
    EXPECT_EQ(GetParam().text, RaisedText(GetParam().code));
}

INSTANTIATE_TEST_SUITE_P(Table, WinsockErrorText,
                         ::testing::Values(ErrorCase{10060, "[10060] Connection timed out"},
                                           ErrorCase{11001, "[11001] Host not found"},
                                           ErrorCase{10061, "[10061] Connection refused"},
                                           ErrorCase{10048, "[10048] Address already in use"},
                                           ErrorCase{10013, "[10013] Permission denied."},
                                           ErrorCase{11004, "[11004] Valid name, no data record of requested type"},
                                           ErrorCase{10000, "[0] No Error"}, ErrorCase{0, "Winsock error no 0"},
                                           ErrorCase{10101, "Winsock error no 10101"},
                                           ErrorCase{10072, "Winsock error no 10072"}),
                         [](const auto& info) { return "Code" + std::to_string(info.param.code); });

TEST(WinsockErrno, LinuxErrorsReadAsWindowsSocketsNumbers) {
    EXPECT_EQ(10035, WsaErrorFromErrno(EAGAIN));
    EXPECT_EQ(10035, WsaErrorFromErrno(EWOULDBLOCK));
    EXPECT_EQ(10061, WsaErrorFromErrno(ECONNREFUSED));
    EXPECT_EQ(10048, WsaErrorFromErrno(EADDRINUSE));
    EXPECT_EQ(10060, WsaErrorFromErrno(ETIMEDOUT));
    EXPECT_EQ(10054, WsaErrorFromErrno(EPIPE));
}

TEST(WinsockErrno, RaiseLastErrorRecordsTheThreadsError) {
    errno = ECONNRESET;
    EXPECT_THROW(Winsock->RaiseLastError(), EWinsockError);
    EXPECT_EQ(10054, Winsock->LastError());
}

TEST(WinsockResolve, DottedAddressComesBackUnchanged) {
    // "127.1" is a dotted form the resolver would rewrite; it must not reach the resolver at all.
    EXPECT_EQ("127.1", Winsock->ResolveHost("127.1"));
    EXPECT_EQ("10.1.2.3", Winsock->ResolveHost("10.1.2.3"));
}

TEST(WinsockResolve, NameGivesItsFirstIPv4Address) {
    EXPECT_EQ("127.0.0.1", Winsock->ResolveHost("localhost"));
}

TEST(WinsockResolve, UnresolvableNameRaisesHostNotFound) {
    // A name with a blank is refused by the resolver without a query leaving the machine.
    try {
        Winsock->ResolveHost("no such host");
        FAIL() << "resolved";
    } catch (const EWinsockError& error) {
        EXPECT_STREQ("[11001] Host not found", error.what());
    }
    EXPECT_EQ(11001, Winsock->LastError());
}

TEST(WinsockResolve, AddressToLongIsNetworkOrder) {
    std::uint32_t address = Winsock->AddressToLong("127.0.0.1");
    const auto* bytes = reinterpret_cast<const unsigned char*>(&address);
    EXPECT_EQ(127, bytes[0]);
    EXPECT_EQ(1, bytes[3]);
    EXPECT_THROW(Winsock->AddressToLong("not an address"), EWinsockError);
}

TEST(WinsockBinding, StartUpAndLookup) {
    EXPECT_TRUE(Winsock->IsLoaded());
    EXPECT_FALSE(Winsock->GetLocalHostName().empty());
    EXPECT_NE(nullptr, Winsock->GetProc("recv"));
    try {
        Winsock->GetProc("WSAFrobnicate");
        FAIL() << "found";
    } catch (const EWinsockError& error) {
        EXPECT_STREQ("Function WSAFrobnicate not found", error.what());
    }
    EXPECT_THROW(TmsWinsock(0x0000), EWinsockError);
}

} // namespace
