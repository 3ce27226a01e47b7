// The process-wide socket binding: start-up of the socket layer, Windows Sockets error numbers
// and their texts, host name resolution.
#pragma once

#include "platform/errors.h"

#include <cstdint>
#include <string>

/// A socket call failed; the message is the text of its Windows Sockets error number.
class EWinsockError : public Exception {
public:
    using Exception::Exception;
};

/// Windows Sockets error numbers the socket layer tests for itself.
enum : int {
    WSAEINTR = 10004,
    WSAEBADF = 10009,
    WSAEINVAL = 10022,
    WSAEWOULDBLOCK = 10035,
    WSAEINPROGRESS = 10036,
    WSAENOTSOCK = 10038,
    WSAEADDRINUSE = 10048,
    WSAECONNRESET = 10054,
    WSAENOTCONN = 10057,
    WSAETIMEDOUT = 10060,
    WSAECONNREFUSED = 10061,
    WSAHOST_NOT_FOUND = 11001,
    WSATRY_AGAIN = 11002,
    WSANO_RECOVERY = 11003,
    WSANO_DATA = 11004,
};

/// Maps a Linux errno value to its Windows Sockets error number (unknown values pass unchanged).
int WsaErrorFromErrno(int err);
/// The message for a Windows Sockets error number: the table's text, or "Winsock error no <code>".
std::string WinsockErrorText(std::uint16_t code);

/// The socket layer's binding. There is one instance, `Winsock`, for the whole process. The Linux
/// socket functions are linked directly; what stays from the run-time binding is the start-up state,
/// the lookup by name and the translation of every failure into a Windows Sockets error number, so
/// that callers and logs read the same texts everywhere. Read-only after construction.
class TmsWinsock {
public:
    using Proc = void (*)();

    /// Starts the socket layer for `version` (low byte major, high byte minor; the system passes 257).
    /// Throws EWinsockError "Invalid winsock version" for a version the layer cannot serve.
    explicit TmsWinsock(std::uint16_t version);
    ~TmsWinsock();
    TmsWinsock(const TmsWinsock&) = delete;
    TmsWinsock& operator=(const TmsWinsock&) = delete;

    bool IsLoaded() const { return m_loaded; }
    /// The bound function of that name; EWinsockError "Winsock not loaded" or "Function <name> not found".
    Proc GetProc(const std::string& name) const;
    /// Throws EWinsockError with the text of `code`.
    [[noreturn]] void RaiseWinsockError(std::uint16_t code) const;
    /// Records errno of the failed call as the thread's last error and throws its text.
    [[noreturn]] void RaiseLastError() const;
    /// The local host's name.
    std::string GetLocalHostName() const;
    /// The name a mail greeting gives for this host (RFC 5321 4.1.4): the host name when it is fully
    /// qualified, else the resolver's canonical name for it when that is, else the address literal of
    /// the connected socket's local address ("[192.0.2.7]", "[IPv6:2001:db8::7]"), else the host name.
    std::string GetLocalDomainName(int connectedSocket) const;
    /// A dotted address comes back unchanged without a lookup; a name gives its first IPv4 address.
    std::string ResolveHost(const std::string& name) const;
    /// Dotted address to a 32-bit address in network order; an invalid text raises the last error.
    std::uint32_t AddressToLong(const std::string& address) const;
    /// The Windows Sockets error number of the calling thread's last failed socket call.
    int LastError() const;
    /// Sets the calling thread's last error (what the socket classes do after a failed call).
    void SetLastError(int code) const;

    // Informational start-up data, as the socket layer reports it.
    std::uint16_t wVersion = 0;
    std::uint16_t wHighVersion = 0;
    std::string szDescription;
    std::string szSystemStatus;
    std::uint16_t iMaxSockets = 0;
    std::uint16_t iMaxUdpDg = 0;

private:
    void RequireLoaded() const;
    bool m_loaded = false;
};

/// The single instance; created by the first initialisation of the socket layer, freed by the last.
extern TmsWinsock* Winsock;

/// Initialisation counter of the socket layer: every translation unit that includes this header
/// holds one, so the instance exists before any static object of those units uses it and is freed
/// after the last of them is gone.
class TmsWinsockUnit {
public:
    TmsWinsockUnit();
    ~TmsWinsockUnit();
};
static TmsWinsockUnit s_winsockUnit;
