// The texts of every notice kind and the JSON form of a notice.
#include "alert/notice.h"

#include "platform/datetime.h"

#include <cstdio>

namespace {

struct KindTexts {
    const char* Name;
    const char* Subject;
    const char* Lead; // the first body line; empty for the daemon's own notices (their text leads)
    const char* LogLine;
};

const KindTexts& TextsOf(NoticeKind kind) {
    static const KindTexts texts[] = {
        {"problem", "Sentrova - Lost contact notification",
         "Sentrova reports the following IP address is currently unreachable.", "Notifying ..."},
        {"recovery", "Sentrova - Regained contact notification",
         "Sentrova reports the following IP address is reachable again.", "Notifying recovery ..."},
        {"flapping", "Sentrova - Flapping notification",
         "Sentrova reports the following IP address keeps changing between reachable and unreachable.",
         "Notifying flapping ..."},
        {"isolated", "Sentrova - Probe isolated notification", "", ""},
        {"reconnected", "Sentrova - Probe reconnected notification", "", ""},
    };
    return texts[static_cast<int>(kind)];
}

bool IsSiteNotice(NoticeKind kind) {
    return kind == NoticeKind::Problem || kind == NoticeKind::Recovery || kind == NoticeKind::Flapping;
}

/// A JSON string; bytes above 127 are taken as Latin-1 (the site rows' 8-bit text) and written as \u escapes.
std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c >= 0x7f) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string SiteText(const Notice& n) {
    return n.Code + " - " + n.SiteName + " [" + n.Address + "]";
}

} // namespace

const char* NoticeKindName(NoticeKind kind) {
    return TextsOf(kind).Name;
}

const char* NoticeSubject(NoticeKind kind) {
    return TextsOf(kind).Subject;
}

const char* NoticeLogLine(NoticeKind kind) {
    return TextsOf(kind).LogLine;
}

std::string NoticeTimeText(TDateTime when) {
    return when == 0 ? std::string() : FormatDateTime("yyyy-mm-dd hh:nn:ss", when);
}

std::vector<std::string> NoticeMailBody(const Notice& n) {
    const std::string stars = "  " + std::string(65, '*');
    const bool site = IsSiteNotice(n.Kind);
    std::vector<std::string> body{site ? TextsOf(n.Kind).Lead : n.Text, "", stars,
                                  "  Report Time : " + NoticeTimeText(n.Time) + " "};
    if (n.Kind == NoticeKind::Recovery) body.push_back("  Down since : " + NoticeTimeText(n.Since) + " ");
    body.insert(body.end(), {stars, ""});
    if (site) {
        body.push_back("  Code       : " + n.Code + " ");
        body.push_back("  SiteName   : " + n.SiteName + " ");
        body.push_back("  IP address : " + n.Address + " ");
    } else {
        body.push_back("  Daemon ID  : " + n.Daemon + " ");
    }
    body.insert(body.end(), {"", stars});
    return body;
}

std::string NoticePopupLine(const Notice& n) {
    return (n.Kind == NoticeKind::Recovery ? " Regained contact with " : " Lost contact with ") + n.Code + " - " +
           n.SiteName;
}

std::string NoticeSummary(const Notice& n) {
    switch (n.Kind) {
    case NoticeKind::Problem:
        return "Sentrova: lost contact with " + SiteText(n) + " since " + NoticeTimeText(n.Since);
    case NoticeKind::Recovery:
        return "Sentrova: regained contact with " + SiteText(n) + ", down since " + NoticeTimeText(n.Since);
    case NoticeKind::Flapping:
        return "Sentrova: " + SiteText(n) + " keeps changing between reachable and unreachable";
    case NoticeKind::Isolated:
    case NoticeKind::Reconnected:
        break;
    }
    return "Sentrova " + n.Daemon + ": " + n.Text;
}

std::string NoticeJson(const Notice& n) {
    return "{\"kind\": " + JsonString(NoticeKindName(n.Kind)) + ", \"code\": " + JsonString(n.Code) +
           ", \"sitename\": " + JsonString(n.SiteName) + ", \"address\": " + JsonString(n.Address) +
           ", \"since\": " + JsonString(NoticeTimeText(n.Since)) + ", \"time\": " + JsonString(NoticeTimeText(n.Time)) +
           ", \"daemon\": " + JsonString(n.Daemon) + ", \"text\": " + JsonString(NoticeSummary(n)) + "}";
}
