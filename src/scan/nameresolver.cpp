// c-ares lookups driven by poll(2): sockets and time-outs are the caller's loop's, answers are
// collected and taken by the caller after each round.
#include "scan/nameresolver.h"

#include "platform/errors.h"

#include <ares.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/time.h>

#include <mutex>

struct NameResolver::Channel {
    ares_channel handle = nullptr;
};

struct NameResolver::Lookup {
    NameResolver* owner;
    std::size_t tag;
};

namespace {

void InitLibrary() {
    static std::once_flag once;
    std::call_once(once, [] { ares_library_init(ARES_LIB_INIT_ALL); });
}

/// A name that does not exist (or has no address of the family asked for) against a lookup that may work later.
ProbeCause CauseOf(int status) {
    switch (status) {
    case ARES_ENOTFOUND:
    case ARES_ENODATA:
    case ARES_EBADNAME:
    case ARES_EBADFAMILY:
        return ProbeCause::NameNotFound;
    default:
        return ProbeCause::NameTemporary;
    }
}

} // namespace

NameResolver::NameResolver(std::size_t concurrent)
    : m_channel(std::make_unique<Channel>()), m_concurrent(concurrent == 0 ? 1 : concurrent) {
    InitLibrary();
    ares_options options{};
    // Names are looked up like the system's resolver would: the hosts file first, then DNS.
    char lookups[] = "fb";
    options.lookups = lookups;
    const int status = ares_init_options(&m_channel->handle, &options, ARES_OPT_LOOKUPS);
    if (status != ARES_SUCCESS)
        throw Exception(std::string("cannot start the name resolver: ") + ares_strerror(status));
}

NameResolver::~NameResolver() {
    // Destroying the channel calls back every lookup still in flight; OnAnswer ignores those.
    m_waiting.clear();
    ares_destroy(m_channel->handle);
}

void NameResolver::Resolve(std::size_t tag, const std::string& name, int family) {
    m_waiting.push_back(Waiting{tag, name, family});
    StartWaiting();
}

void NameResolver::StartWaiting() {
    while (m_inFlight < m_concurrent && !m_waiting.empty()) {
        const Waiting w = std::move(m_waiting.front());
        m_waiting.pop_front();
        ++m_inFlight;
        ares_addrinfo_hints hints{};
        hints.ai_family = w.Family;
        // The answer may come at once (a hosts-file entry, a malformed name), inside this call.
        ares_getaddrinfo(m_channel->handle, w.Name.c_str(), nullptr, &hints, &NameResolver::OnAnswer,
                         new Lookup{this, w.Tag});
    }
}

void NameResolver::OnAnswer(void* arg, int status, int, ares_addrinfo* result) {
    std::unique_ptr<Lookup> lookup(static_cast<Lookup*>(arg));
    if (status == ARES_EDESTRUCTION) {
        if (result) ares_freeaddrinfo(result);
        return;
    }
    NameResolver& self = *lookup->owner;
    --self.m_inFlight;
    Answer answer{lookup->tag, {}, {}, ProbeCause::None};
    for (const ares_addrinfo_node* node = result ? result->nodes : nullptr; node; node = node->ai_next) {
        if (node->ai_family == AF_INET && answer.V4.Empty())
            answer.V4 = IpAddress::V4(reinterpret_cast<const sockaddr_in*>(node->ai_addr)->sin_addr.s_addr);
        if (node->ai_family == AF_INET6 && answer.V6.Empty())
            answer.V6 = IpAddress::V6(reinterpret_cast<const sockaddr_in6*>(node->ai_addr)->sin6_addr.s6_addr);
    }
    if (status != ARES_SUCCESS || (answer.V4.Empty() && answer.V6.Empty()))
        answer.Cause = status == ARES_SUCCESS ? ProbeCause::NameNotFound : CauseOf(status);
    if (result) ares_freeaddrinfo(result);
    self.m_answers.push_back(answer);
}

void NameResolver::AddPollFds(std::vector<pollfd>& fds) const {
    ares_socket_t socks[ARES_GETSOCK_MAXNUM];
    const int bits = ares_getsock(m_channel->handle, socks, ARES_GETSOCK_MAXNUM);
    for (int i = 0; i < ARES_GETSOCK_MAXNUM; ++i) {
        short events = 0;
        if (ARES_GETSOCK_READABLE(bits, i)) events |= POLLIN;
        if (ARES_GETSOCK_WRITABLE(bits, i)) events |= POLLOUT;
        if (events) fds.push_back(pollfd{socks[i], events, 0});
    }
}

void NameResolver::Process(const std::vector<pollfd>& fds, std::size_t first) {
    bool any = false;
    for (std::size_t i = first; i < fds.size(); ++i) {
        if (!fds[i].revents) continue;
        any = true;
        const bool readable = fds[i].revents & (POLLIN | POLLERR | POLLHUP);
        ares_process_fd(m_channel->handle, readable ? fds[i].fd : ARES_SOCKET_BAD,
                        (fds[i].revents & POLLOUT) ? fds[i].fd : ARES_SOCKET_BAD);
    }
    if (!any) ares_process_fd(m_channel->handle, ARES_SOCKET_BAD, ARES_SOCKET_BAD); // time-outs only
    StartWaiting();
}

std::chrono::milliseconds NameResolver::NextTimeout(std::chrono::milliseconds limit) const {
    if (m_inFlight == 0) return limit;
    timeval max{static_cast<time_t>(limit.count() / 1000), static_cast<suseconds_t>(limit.count() % 1000 * 1000)};
    timeval tv{};
    const timeval* next = ares_timeout(m_channel->handle, &max, &tv);
    return std::chrono::milliseconds(next->tv_sec * 1000 + (next->tv_usec + 999) / 1000);
}

std::vector<NameResolver::Answer> NameResolver::TakeAnswers() {
    std::vector<Answer> taken;
    taken.swap(m_answers);
    return taken;
}
