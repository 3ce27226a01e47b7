// The socket layer's binding: start-up state, lookup of bound functions by name, host names and
// resolution, and Windows Sockets error numbers for every failure.
#include "net/mswsock.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>

TmsWinsock* Winsock = nullptr;

namespace {

thread_local int t_lastError = 0;
int s_unitCount = 0;

// The functions the socket layer binds, under their library names. Those that have no Linux
// counterpart of the same name are served by the small shims below.
int WsaStartupShim(std::uint16_t, void*) {
    return 0;
}
int WsaCleanupShim() {
    return 0;
}
int WsaGetLastErrorShim() {
    return t_lastError;
}
int CloseSocketShim(int fd) {
    return ::close(fd);
}
int IoctlSocketShim(int fd, unsigned long cmd, unsigned long* arg) {
    return ::ioctl(fd, cmd, arg);
}
std::uint16_t HtonsShim(std::uint16_t v) {
    return htons(v);
}

const std::map<std::string, TmsWinsock::Proc>& BoundFunctions() {
    using P = TmsWinsock::Proc;
    static const std::map<std::string, P> functions = {
        {"WSAStartup", reinterpret_cast<P>(&WsaStartupShim)},
        {"WSACleanup", reinterpret_cast<P>(&WsaCleanupShim)},
        {"WSAGetLastError", reinterpret_cast<P>(&WsaGetLastErrorShim)},
        {"WSACancelBlockingCall", reinterpret_cast<P>(&::shutdown)},
        {"WSAAsyncSelect", reinterpret_cast<P>(&::poll)},
        {"socket", reinterpret_cast<P>(&::socket)},
        {"bind", reinterpret_cast<P>(&::bind)},
        {"listen", reinterpret_cast<P>(&::listen)},
        {"accept", reinterpret_cast<P>(&::accept4)},
        {"connect", reinterpret_cast<P>(&::connect)},
        {"closesocket", reinterpret_cast<P>(&CloseSocketShim)},
        {"send", reinterpret_cast<P>(&::send)},
        {"recv", reinterpret_cast<P>(&::recv)},
        {"ioctlsocket", reinterpret_cast<P>(&IoctlSocketShim)},
        {"htons", reinterpret_cast<P>(&HtonsShim)},
        {"inet_addr", reinterpret_cast<P>(&::inet_addr)},
        {"inet_ntoa", reinterpret_cast<P>(&::inet_ntoa)},
        {"gethostbyname", reinterpret_cast<P>(&::getaddrinfo)},
        {"gethostname", reinterpret_cast<P>(&::gethostname)},
    };
    return functions;
}

int ResolverError(int gaiError) {
    switch (gaiError) {
    case EAI_AGAIN:
        return WSATRY_AGAIN;
    case EAI_FAIL:
        return WSANO_RECOVERY;
    case EAI_NODATA:
    case EAI_ADDRFAMILY:
        return WSANO_DATA;
    case EAI_SYSTEM:
        return WsaErrorFromErrno(errno);
    default:
        return WSAHOST_NOT_FOUND;
    }
}

} // namespace

int WsaErrorFromErrno(int err) {
    static const std::map<int, int> table = {
        {EINTR, 10004},           {EBADF, 10009},           {EACCES, 10013},        {EPERM, 10013},
        {EFAULT, 10014},          {EINVAL, 10022},          {EMFILE, 10024},        {ENFILE, 10024},
        {EAGAIN, 10035},          {EINPROGRESS, 10036},     {EALREADY, 10037},      {ENOTSOCK, 10038},
        {EDESTADDRREQ, 10039},    {EMSGSIZE, 10040},        {EPROTOTYPE, 10041},    {ENOPROTOOPT, 10042},
        {EPROTONOSUPPORT, 10043}, {ESOCKTNOSUPPORT, 10044}, {EOPNOTSUPP, 10045},    {EPFNOSUPPORT, 10046},
        {EAFNOSUPPORT, 10047},    {EADDRINUSE, 10048},      {EADDRNOTAVAIL, 10049}, {ENETDOWN, 10050},
        {ENETUNREACH, 10051},     {ENETRESET, 10052},       {ECONNABORTED, 10053},  {ECONNRESET, 10054},
        {EPIPE, 10054},           {ENOBUFS, 10055},         {ENOMEM, 10055},        {EISCONN, 10056},
        {ENOTCONN, 10057},        {ESHUTDOWN, 10058},       {ETOOMANYREFS, 10059},  {ETIMEDOUT, 10060},
        {ECONNREFUSED, 10061},    {ELOOP, 10062},           {ENAMETOOLONG, 10063},  {EHOSTDOWN, 10064},
        {EHOSTUNREACH, 10065},    {ENOTEMPTY, 10066},       {EUSERS, 10068},        {EDQUOT, 10069},
        {ESTALE, 10070},          {EREMOTE, 10071},
    };
    auto it = table.find(err);
    return it == table.end() ? err : it->second;
}

std::string WinsockErrorText(std::uint16_t code) {
    // Keyed by code + 40000; code 0 has no entry and 10000 reads "[0] No Error".
    static const std::map<int, const char*> texts = {
        {50000, "[0] No Error"},
        {50004, "[10004] Interrupted function call"},
        {50009, "[10009] Bad file number"},
        {50013, "[10013] Permission denied."},
        {50014, "[10014] Bad address"},
        {50022, "[10022] Invalid argument"},
        {50024, "[10024] Too many open files"},
        {50035, "[10035] Resource temporarily not available"},
        {50036, "[10036] Operation now in progress"},
        {50037, "[10037] Operation already in progress"},
        {50038, "[10038] Socket operation on non-socket"},
        {50039, "[10039] Destination address required"},
        {50040, "[10040] Message too long"},
        {50041, "[10041] Protocol wrong type for socket"},
        {50042, "[10042] Bad protocol option"},
        {50043, "[10043] Protocol not supported"},
        {50044, "[10044] Socket type not supported"},
        {50045, "[10045] Operation not supported"},
        {50046, "[10046] Protocol family not supported"},
        {50047, "[10047] Address family not supported by protocol family"},
        {50048, "[10048] Address already in use"},
        {50049, "[10049] Cannot assign requested address"},
        {50050, "[10050] Network is down"},
        {50051, "[10051] Network is unreachable"},
        {50052, "[10052] Network dropped connection or reset"},
        {50053, "[10053] Software caused connection abort"},
        {50054, "[10054] Connection reset by peer"},
        {50055, "[10055] No buffer space available"},
        {50056, "[10056] Socket is already connected"},
        {50057, "[10057] Socket is not connected"},
        {50058, "[10058] Can't send after socket shutdown"},
        {50059, "[10059] Too many references, can't splice"},
        {50060, "[10060] Connection timed out"},
        {50061, "[10061] Connection refused"},
        {50062, "[10062] Too many levels of symbolic links"},
        {50063, "[10063] File name too long"},
        {50064, "[10064] Host is down"},
        {50065, "[10065] No Route to Host"},
        {50066, "[10066] Directory not empty"},
        {50067, "[10067] Too many processes"},
        {50068, "[10068] Too many users"},
        {50069, "[10069] Disc Quota Exceeded"},
        {50070, "[10070] Stale NFS file handle"},
        {50071, "[10071] Too many levels of remote in path"},
        {50091, "[10091] Network subsystem is unavailable"},
        {50092, "[10092] WINSOCK DLL Version out of range"},
        {50093, "[10093] Successful WSAStartup() not yet performed"},
        {50094, "[10094] Graceful shutdown in progress"},
        {51001, "[11001] Host not found"},
        {51002, "[11002] Non-Authoritative Host not found"},
        {51003, "[11003] Non-Recoverable errors: FORMERR, REFUSED, NOTIMP"},
        {51004, "[11004] Valid name, no data record of requested type"},
    };
    auto it = texts.find(int(code) + 40000);
    if (it == texts.end()) return "Winsock error no " + std::to_string(code);
    return it->second;
}

TmsWinsock::TmsWinsock(std::uint16_t version) {
    // Versions 1.0 up to 2.2 are served; the layer agrees to 1.1 at most, as it always did.
    int major = version & 0xFF, minor = version >> 8;
    if (major < 1 || major > 2 || minor > 2) throw EWinsockError("Invalid winsock version");
    wVersion = 0x0101;
    wHighVersion = 0x0202;
    szDescription = "Linux sockets";
    szSystemStatus = "Running";
    rlimit files{};
    getrlimit(RLIMIT_NOFILE, &files);
    iMaxSockets = std::uint16_t(std::min<rlim_t>(files.rlim_cur, 0xFFFF));
    iMaxUdpDg = 65467;
    m_loaded = true;
}

TmsWinsock::~TmsWinsock() {
    m_loaded = false;
}

void TmsWinsock::RequireLoaded() const {
    if (!m_loaded) throw EWinsockError("Winsock not loaded");
}

TmsWinsock::Proc TmsWinsock::GetProc(const std::string& name) const {
    RequireLoaded();
    const auto& functions = BoundFunctions();
    auto it = functions.find(name);
    if (it == functions.end()) throw EWinsockError("Function " + name + " not found");
    return it->second;
}

void TmsWinsock::RaiseWinsockError(std::uint16_t code) const {
    throw EWinsockError(WinsockErrorText(code));
}

void TmsWinsock::RaiseLastError() const {
    SetLastError(WsaErrorFromErrno(errno));
    RaiseWinsockError(std::uint16_t(t_lastError));
}

int TmsWinsock::LastError() const {
    return t_lastError;
}

void TmsWinsock::SetLastError(int code) const {
    t_lastError = code;
}

std::string TmsWinsock::GetLocalHostName() const {
    RequireLoaded();
    char name[128] = {};
    if (::gethostname(name, sizeof name - 1) != 0) RaiseLastError();
    return name;
}

namespace {

// The resolver's canonical name for `host`, or the empty text when it has none.
std::string CanonicalName(const std::string& host) {
    addrinfo hints{};
    hints.ai_flags = AI_CANONNAME;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) return {};
    std::string name = found->ai_canonname != nullptr ? found->ai_canonname : "";
    freeaddrinfo(found);
    return name;
}

// "[192.0.2.7]" or "[IPv6:2001:db8::7]" for the local end of a connected socket; empty when unknown.
std::string AddressLiteral(int fd) {
    sockaddr_storage local{};
    socklen_t length = sizeof local;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) != 0) return {};
    char text[INET6_ADDRSTRLEN] = {};
    if (local.ss_family == AF_INET &&
        inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(&local)->sin_addr, text, sizeof text) != nullptr)
        return "[" + std::string(text) + "]";
    if (local.ss_family == AF_INET6 &&
        inet_ntop(AF_INET6, &reinterpret_cast<sockaddr_in6*>(&local)->sin6_addr, text, sizeof text) != nullptr)
        return "[IPv6:" + std::string(text) + "]";
    return {};
}

bool Qualified(const std::string& name) {
    return name.find('.') != std::string::npos;
}

} // namespace

std::string TmsWinsock::GetLocalDomainName(int connectedSocket) const {
    const std::string host = GetLocalHostName();
    if (Qualified(host)) return host;
    const std::string canonical = CanonicalName(host);
    if (Qualified(canonical)) return canonical;
    const std::string literal = AddressLiteral(connectedSocket);
    return literal.empty() ? host : literal;
}

std::string TmsWinsock::ResolveHost(const std::string& name) const {
    RequireLoaded();
    in_addr address{};
    if (inet_aton(name.c_str(), &address) != 0) return name;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    int rc = getaddrinfo(name.c_str(), nullptr, &hints, &found);
    if (rc != 0 || found == nullptr) {
        SetLastError(rc != 0 ? ResolverError(rc) : WSANO_DATA);
        RaiseWinsockError(std::uint16_t(t_lastError));
    }
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr, text, sizeof text);
    freeaddrinfo(found);
    return text;
}

std::uint32_t TmsWinsock::AddressToLong(const std::string& address) const {
    RequireLoaded();
    in_addr result{};
    if (inet_aton(address.c_str(), &result) == 0) {
        SetLastError(WSAEINVAL);
        RaiseWinsockError(WSAEINVAL);
    }
    return result.s_addr;
}

TmsWinsockUnit::TmsWinsockUnit() {
    if (s_unitCount++ == 0) Winsock = new TmsWinsock(0x0101);
}

TmsWinsockUnit::~TmsWinsockUnit() {
    if (--s_unitCount == 0) {
        delete Winsock;
        Winsock = nullptr;
    }
}
