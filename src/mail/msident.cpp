// Host name, sender, Date and Message-ID of outgoing mail.
#include "mail/msident.h"

#include "platform/datetime.h"

#include <cstdio>
#include <ctime>
#include <mutex>
#include <netdb.h>
#include <random>
#include <sys/socket.h>
#include <unistd.h>

namespace {

std::mutex idLock;
std::function<std::string()> idSource;

bool Qualified(const std::string& name) {
    return name.find('.') != std::string::npos;
}

std::string CanonicalName(const std::string& host) {
    addrinfo hints{};
    hints.ai_flags = AI_CANONNAME;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) return {};
    std::string name = found->ai_canonname != nullptr ? found->ai_canonname : "";
    ::freeaddrinfo(found);
    return name;
}

std::string RandomHex(std::size_t digits) {
    static constexpr char Hex[] = "0123456789abcdef";
    std::random_device device; // the system's random source: identifiers must not repeat across runs
    std::string text;
    while (text.size() < digits) {
        unsigned value = device();
        for (int i = 0; i < 8 && text.size() < digits; ++i, value >>= 4)
            text += Hex[value & 0xF];
    }
    return text;
}

} // namespace

std::string MailHostName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "localhost";
    const std::string host = name;
    if (Qualified(host)) return host;
    const std::string canonical = CanonicalName(host);
    return Qualified(canonical) ? canonical : host;
}

std::string SenderOrDefault(const std::string& configured) {
    return configured.empty() ? "vkt@" + MailHostName() : configured;
}

std::string MailDate(TDateTime value) {
    static constexpr const char* Days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static constexpr const char* Months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                             "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    // Through time_t, so the zone offset is the one in force at that moment (summer time included).
    const time_t t = static_cast<time_t>(DateTimeToTimeT(value));
    struct tm lt {};
    localtime_r(&t, &lt);
    const long offset = lt.tm_gmtoff / 60;
    const long zone = offset < 0 ? -offset : offset;
    char text[128];
    std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d %c%02ld%02ld", Days[lt.tm_wday % 7], lt.tm_mday,
                  Months[lt.tm_mon % 12], lt.tm_year + 1900, lt.tm_hour, lt.tm_min, lt.tm_sec, offset < 0 ? '-' : '+',
                  zone / 60, zone % 60);
    return text;
}

std::string NewMessageId() {
    {
        std::lock_guard<std::mutex> guard(idLock);
        if (idSource) return idSource();
    }
    return "<" + RandomHex(32) + "@" + MailHostName() + ">";
}

void SetMessageIdSource(std::function<std::string()> source) {
    std::lock_guard<std::mutex> guard(idLock);
    idSource = std::move(source);
}
