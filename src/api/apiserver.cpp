// TApiServer: the libmicrohttpd daemon and the glue between its callbacks and the router. Each
// connection has a thread of its own (the database work of a request may take a while); bodies are
// gathered up to the router's limit, and what goes over it is dropped unread into memory. The head
// of a request meets the token check before any body is read, and every connection keeps to its
// deadlines, so neither a peer without a token nor a slow one holds a thread for long.
#include "api/apiserver.h"

#include "api/apidatabase.h"
#include "api/apirouter.h"
#include "api/sitebody.h"
#include "api/socketdeadlines.h"
#include "db/data.h"
#include "platform/activitylog.h"
#include "web/webguard.h"

#include <microhttpd.h>

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/resource.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>

namespace {

constexpr long long RefusalLineIntervalMs = 60 * 1000;
// One address cannot take more than a part of the connections: the rest stay for the others.
constexpr unsigned MaxConnections = 128;
constexpr unsigned MaxConnectionsPerAddress = 16;

// TLS 1.2 and 1.3 only, with forward-secret key exchanges and AEAD ciphers: no static RSA, no CBC.
constexpr const char* TlsPriorities =
    "SECURE:-VERS-ALL:+VERS-TLS1.3:+VERS-TLS1.2:-KX-ALL:+ECDHE-ECDSA:+ECDHE-RSA:"
    "+DHE-RSA:-CIPHER-ALL:+AES-256-GCM:+AES-128-GCM:+CHACHA20-POLY1305:-MAC-ALL:+AEAD";

// The API's threads yield the processor to the scan as the admin port's do: a crowd of clients
// slows the answers, not the probes. Threads made by a lowered thread start lowered.
constexpr int ApiThreadNice = 19;

void LowerThisThread() {
    thread_local bool lowered = false;
    if (lowered) return;
    ::setpriority(PRIO_PROCESS, 0, ApiThreadNice);
    lowered = true;
}

TSocketDeadlines::Time Later(std::chrono::milliseconds span) {
    return std::chrono::steady_clock::now() + span;
}

bool ReadFile(const std::string& path, std::string& content) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::stringstream buffer;
    buffer << in.rdbuf();
    content = buffer.str();
    return !in.bad() && !content.empty();
}

/// The peer's address as text; a v4-mapped IPv6 address as the dotted IPv4 one.
std::string AddressText(const sockaddr* address) {
    char text[INET6_ADDRSTRLEN] = "";
    if (address->sa_family == AF_INET) {
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, text, sizeof text);
    } else if (address->sa_family == AF_INET6) {
        const in6_addr& v6 = reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr;
        if (IN6_IS_ADDR_V4MAPPED(&v6))
            inet_ntop(AF_INET, &v6.s6_addr[12], text, sizeof text);
        else
            inet_ntop(AF_INET6, &v6, text, sizeof text);
    }
    return text;
}

bool IsLoopback(const sockaddr* address) {
    if (address->sa_family == AF_INET)
        return (ntohl(reinterpret_cast<const sockaddr_in*>(address)->sin_addr.s_addr) >> 24) == 127;
    if (address->sa_family == AF_INET6) {
        const in6_addr& v6 = reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr;
        return IN6_IS_ADDR_LOOPBACK(&v6) || (IN6_IS_ADDR_V4MAPPED(&v6) && v6.s6_addr[12] == 127);
    }
    return false;
}

struct ResolvedAddress {
    sockaddr_storage Address{};
    bool Found = false;
};

ResolvedAddress Resolve(const std::string& host, int port) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE;
    addrinfo* list = nullptr;
    ResolvedAddress resolved;
    if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &list) != 0 || list == nullptr) return resolved;
    std::memcpy(&resolved.Address, list->ai_addr, list->ai_addrlen);
    resolved.Found = true;
    freeaddrinfo(list);
    return resolved;
}

} // namespace

/// One request while it arrives: the parts the router needs, gathered from the library's calls.
struct TApiConnection {
    TApiRequest Request;
    /// Its answer is queued; what else comes of the request is dropped.
    bool Answered = false;

    static MHD_Result Accept(void* server, const sockaddr* address, socklen_t) {
        LowerThisThread(); // the listening thread, which starts the connections' threads
        return static_cast<TApiServer*>(server)->AllowsPeer(AddressText(address)) ? MHD_YES : MHD_NO;
    }

    // A connection's first deadline covers the TLS handshake and the head of its first request.
    static void Notify(void* target, MHD_Connection* connection, void** socketContext,
                       MHD_ConnectionNotificationCode code) {
        auto* server = static_cast<TApiServer*>(target);
        if (code == MHD_CONNECTION_NOTIFY_STARTED) {
            const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
            *socketContext =
                server->m_deadlines->Watch(info != nullptr ? info->connect_fd : -1, Later(server->HeadTime));
        } else {
            server->m_deadlines->Unwatch(static_cast<TSocketDeadlines::TWatch*>(*socketContext));
            *socketContext = nullptr;
        }
    }

    /// The request's state, made when its first line is in; the library decodes the target into C
    /// strings, which end at a %00, so the encoded NUL is looked for here, before the decoding.
    static void* Begin(void*, const char* uri, MHD_Connection*) {
        auto* self = new TApiConnection;
        for (const char* at = std::strchr(uri, '%'); at != nullptr; at = std::strchr(at + 1, '%'))
            if (at[1] == '0' && at[2] == '0') self->Request.EncodedNul = true;
        return self;
    }

    static MHD_Result Access(void* target, MHD_Connection* connection, const char* url, const char* method, const char*,
                             const char* upload, size_t* uploadSize, void** context) {
        auto* server = static_cast<TApiServer*>(target);
        LowerThisThread();
        auto* self = static_cast<TApiConnection*>(*context);
        if (self == nullptr) *context = self = new TApiConnection;
        if (!self->m_begun) {
            self->m_begun = true;
            // The token's check may wait on the database: while it runs the connection is not cut, and
            // a check that outlasted the body's time leaves the peer the time of a head to end its body.
            const TSocketDeadlines::Time body = Later(server->BodyTime);
            server->Expect(connection, TSocketDeadlines::Never);
            self->Request.Method = method;
            self->Request.Path = url;
            self->ReadHeaders(connection);
            const MHD_Result admitted =
                self->Answer(server, connection, [&] { return server->m_router->Admit(self->Request); });
            if (!self->Answered) server->Expect(connection, std::max(body, Later(server->HeadTime)));
            return admitted;
        }
        if (*uploadSize > 0) {
            if (!self->Answered) self->Take(upload, *uploadSize);
            *uploadSize = 0;
            return MHD_YES;
        }
        if (self->Answered) return MHD_YES;
        server->Expect(connection, TSocketDeadlines::Never); // the router's work takes what it takes
        return self->Answer(server, connection,
                            [&] { return std::optional<TApiResponse>(server->m_router->Handle(self->Request)); });
    }

    static void Completed(void* target, MHD_Connection* connection, void** context, MHD_RequestTerminationCode) {
        delete static_cast<TApiConnection*>(*context);
        *context = nullptr;
        auto* server = static_cast<TApiServer*>(target);
        server->Expect(connection, Later(server->HeadTime)); // the next request's head, if any
    }

private:
    bool m_begun = false;

    // Sends what `decide` answers, if anything; the answer then has its own time to be taken.
    // Nothing may unwind through the library's C frames: an error the router did not expect is a
    // 500 for this request, and the listener goes on.
    template <typename Decide> MHD_Result Answer(TApiServer* server, MHD_Connection* connection, Decide decide) {
        std::optional<TApiResponse> answer;
        try {
            answer = decide();
        } catch (const std::exception& e) {
            server->WriteLogLine(std::string("Request failed: ") + e.what());
            answer = ApiError(500, "internal error");
        }
        if (!answer) return MHD_YES;
        Answered = true;
        server->Expect(connection, Later(server->AnswerTime));
        return Send(connection, *answer);
    }

    void Take(const char* data, std::size_t size) {
        if (Request.BodyTooLarge || Request.Body.size() + size > TApiRouter::MaxBody) {
            Request.BodyTooLarge = true;
            Request.Body.clear();
            return;
        }
        Request.Body.append(data, size);
    }

    void ReadHeaders(MHD_Connection* connection) {
        MHD_get_connection_values(connection, MHD_GET_ARGUMENT_KIND, &TApiConnection::QueryField, &Request);
        MHD_get_connection_values(connection, MHD_HEADER_KIND, &TApiConnection::HeaderField, &Request);
        if (const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS))
            Request.Peer = AddressText(info->client_addr);
    }

    static MHD_Result QueryField(void* request, MHD_ValueKind, const char* key, const char* value) {
        static_cast<TApiRequest*>(request)->Query.emplace(key, value == nullptr ? "" : value);
        return MHD_YES;
    }

    static MHD_Result HeaderField(void* target, MHD_ValueKind, const char* key, const char* value) {
        auto* request = static_cast<TApiRequest*>(target);
        const std::string text = value == nullptr ? "" : value;
        if (strcasecmp(key, "Host") == 0) request->Hosts.push_back(text);
        if (strcasecmp(key, "Authorization") == 0 && request->Authorization.empty()) request->Authorization = text;
        if (strcasecmp(key, "Cookie") == 0) request->Cookie += (request->Cookie.empty() ? "" : "; ") + text;
        if (strcasecmp(key, "X-CSRF-Token") == 0 && request->CsrfToken.empty()) request->CsrfToken = text;
        if (strcasecmp(key, "Content-Type") == 0 && request->ContentType.empty()) request->ContentType = text;
        return MHD_YES;
    }

    /// A body made while it is sent: the pieces of the stream, handed on as the library asks.
    struct TStreamed {
        std::function<bool(std::string&)> Stream;
        std::string Pending;
        std::size_t Offset = 0;
        bool Ended = false;

        static ssize_t Read(void* self, uint64_t, char* buffer, size_t max) {
            auto* body = static_cast<TStreamed*>(self);
            try {
                while (body->Offset == body->Pending.size()) {
                    if (body->Ended) return MHD_CONTENT_READER_END_OF_STREAM;
                    body->Pending.clear();
                    body->Offset = 0;
                    body->Ended = !body->Stream(body->Pending);
                }
            } catch (const std::exception& e) {
                // The head is out: the client learns of the failure by the connection's close.
                WriteLog("API", std::string("A list failed while it was sent: ") + e.what());
                return MHD_CONTENT_READER_END_WITH_ERROR;
            }
            const std::size_t size = std::min(max, body->Pending.size() - body->Offset);
            std::memcpy(buffer, body->Pending.data() + body->Offset, size);
            body->Offset += size;
            return ssize_t(size);
        }
        static void Free(void* self) { delete static_cast<TStreamed*>(self); }
    };

    static MHD_Response* MakeResponse(const TApiResponse& answer) {
        if (!answer.Stream)
            return MHD_create_response_from_buffer(answer.Body.size(), const_cast<char*>(answer.Body.data()),
                                                   MHD_RESPMEM_MUST_COPY);
        auto* body = new TStreamed{answer.Stream, {}, 0, false};
        MHD_Response* response =
            MHD_create_response_from_callback(MHD_SIZE_UNKNOWN, 64 * 1024, &TStreamed::Read, body, &TStreamed::Free);
        if (response == nullptr) delete body;
        return response;
    }

    static MHD_Result Send(MHD_Connection* connection, const TApiResponse& answer) {
        if (answer.Status == 0) return MHD_NO; // closed without an answer
        MHD_Response* response = MakeResponse(answer);
        if (response == nullptr) return MHD_NO;
        if (!answer.ContentType.empty()) MHD_add_response_header(response, "Content-Type", answer.ContentType.c_str());
        for (const auto& [name, value] : answer.Headers)
            MHD_add_response_header(response, name.c_str(), value.c_str());
        const MHD_Result queued = MHD_queue_response(connection, unsigned(answer.Status), response);
        MHD_destroy_response(response);
        return queued;
    }
};

TApiServer::TApiServer() = default;

TApiServer::~TApiServer() {
    Stop();
}

void TApiServer::Stop() {
    if (m_poll != 0 && HasMainLoop()) MainLoop().KillTimer(m_poll);
    m_poll = 0;
    if (m_daemon != nullptr) MHD_stop_daemon(m_daemon);
    m_daemon = nullptr;
    m_deadlines.reset();
    m_port = 0;
}

void TApiServer::Start(const std::string& connectionString, TDbDialect dialect, int pollDelay) {
    if (ConfigFile.empty()) ConfigFile = ConfigFileName();
    for (const std::string& line : m_settings.Load(ConfigFile))
        WriteLogLine(line);
    if (!m_settings.Wanted()) return;
    auto guard = std::make_shared<TWebGuard>();
    guard->Load(ConfigFile); // its lines are the admin port's to write
    m_guard = guard;
    if (m_settings.Tls() && !ReadPemFiles()) return;
    if (!Launch(connectionString, dialect, pollDelay)) return;
    if (DatabaseUp && HasMainLoop())
        m_poll = MainLoop().SetTimer(std::chrono::seconds(1), true, [this] { m_router->DatabaseUp = DatabaseUp(); });
}

bool TApiServer::ReadPemFiles() {
    if (!ReadFile(m_settings.Certificate, m_certificate)) {
        WriteLogLine("Cannot read [Api] Certificate " + m_settings.Certificate + "; the API stays off.");
        return false;
    }
    if (!ReadFile(m_settings.Key, m_key)) {
        WriteLogLine("Cannot read [Api] Key " + m_settings.Key + "; the API stays off.");
        return false;
    }
    return true;
}

bool TApiServer::Launch(const std::string& connectionString, TDbDialect dialect, int pollDelay) {
    const std::string where = m_settings.Host + ":" + std::to_string(m_settings.Port);
    ResolvedAddress bind = Resolve(m_settings.Host, m_settings.Port);
    if (!bind.Found) {
        WriteLogLine("[Api] Listen " + where + " names no address of this machine; the API stays off.");
        return false;
    }
    const auto* address = reinterpret_cast<const sockaddr*>(&bind.Address);
    if (!m_settings.Tls() && !IsLoopback(address)) {
        WriteLogLine("Not listening on " + where +
                     ": plain HTTP is refused on an address that is not loopback, as tokens would cross the "
                     "network in clear; set [Api] Certificate and Key.");
        return false;
    }
    m_database = std::make_unique<TApiDatabase>(connectionString, dialect);
    m_router = std::make_unique<TApiRouter>(*m_database, Board, m_guard);
    m_router->ConfigFile = ConfigFile;
    m_router->Secure = m_settings.Tls();
    m_router->PollDelay = pollDelay;
    m_router->DatabaseUp = DatabaseUp && DatabaseUp();
    m_router->Acknowledge = Acknowledge;
    m_router->UseMaintenance(Maintenance);
    unsigned flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_THREAD_PER_CONNECTION | MHD_USE_AUTO;
    if (address->sa_family == AF_INET6) flags |= MHD_USE_IPv6;
    if (m_settings.Tls()) flags |= MHD_USE_TLS;
    MHD_OptionItem tls[] = {{MHD_OPTION_HTTPS_MEM_CERT, 0, const_cast<char*>(m_certificate.c_str())},
                            {MHD_OPTION_HTTPS_MEM_KEY, 0, const_cast<char*>(m_key.c_str())},
                            {MHD_OPTION_HTTPS_PRIORITIES, 0, const_cast<char*>(TlsPriorities)},
                            {MHD_OPTION_END, 0, nullptr}};
    MHD_OptionItem none[] = {{MHD_OPTION_END, 0, nullptr}};
    m_deadlines = std::make_unique<TSocketDeadlines>(&LowerThisThread);
    // The library's own idle time-out backs the deadlines up.
    const auto idleSeconds = unsigned(std::chrono::ceil<std::chrono::seconds>(HeadTime).count());
    m_daemon = MHD_start_daemon(
        flags, uint16_t(m_settings.Port), &TApiConnection::Accept, this, &TApiConnection::Access, this,
        MHD_OPTION_SOCK_ADDR, address, MHD_OPTION_CONNECTION_LIMIT, MaxConnections, MHD_OPTION_PER_IP_CONNECTION_LIMIT,
        MaxConnectionsPerAddress, MHD_OPTION_CONNECTION_TIMEOUT, idleSeconds, MHD_OPTION_NOTIFY_CONNECTION,
        &TApiConnection::Notify, this, MHD_OPTION_NOTIFY_COMPLETED, &TApiConnection::Completed, this,
        MHD_OPTION_URI_LOG_CALLBACK, &TApiConnection::Begin, nullptr, MHD_OPTION_ARRAY, m_settings.Tls() ? tls : none,
        MHD_OPTION_END);
    if (m_daemon == nullptr) {
        m_deadlines.reset();
        WriteLogLine("Cannot listen on " + where + " for the API: " + std::strerror(errno) + ".");
        return false;
    }
    const MHD_DaemonInfo* info = MHD_get_daemon_info(m_daemon, MHD_DAEMON_INFO_BIND_PORT);
    m_port = info != nullptr ? info->port : m_settings.Port;
    WriteLogLine(std::string("Listening for the API on ") + (m_settings.Tls() ? "https" : "http") + "://" +
                 (address->sa_family == AF_INET6 ? "[" + m_settings.Host + "]" : m_settings.Host) + ":" +
                 std::to_string(m_port) + "/api/v1/");
    return true;
}

bool TApiServer::AllowsPeer(const std::string& address) {
    if (!m_guard || !m_guard->ScreensPeers() || m_guard->AllowsPeer(address)) return true;
    std::lock_guard<std::mutex> lock(m_refusalLock);
    if (!m_refusalLogged || MillisecondsSince(m_lastRefusalLine) >= RefusalLineIntervalMs) {
        WriteLogLine("Refused a connection from " + address + ": not in [Web] Allow.");
        m_refusalLogged = true;
        m_lastRefusalLine = GetClock().Monotonic();
    }
    return false;
}

void TApiServer::Expect(MHD_Connection* connection, std::chrono::steady_clock::time_point deadline) {
    const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
    if (info != nullptr && m_deadlines)
        m_deadlines->Move(static_cast<TSocketDeadlines::TWatch*>(info->socket_context), deadline);
}

void TApiServer::WriteLogLine(const std::string& message) {
    WriteLog("API", message);
}
