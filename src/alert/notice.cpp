// The texts of every notice kind and the JSON form of a notice.
#include "alert/notice.h"

#include "platform/codepage.h"
#include "platform/datetime.h"
#include "platform/json.h"

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
        {"reminder", "Sentrova - Lost contact reminder",
         "Sentrova reports the following IP address is currently unreachable.", "Notifying reminder ..."},
        {"escalation", "Sentrova - Lost contact escalation",
         "Sentrova reports the following IP address is still unreachable and nobody has acknowledged it.",
         "Notifying escalation ..."},
        {"degraded", "Sentrova - Degraded contact notification",
         "Sentrova reports the following IP address answers, but with loss or delay over its thresholds.",
         "Notifying degraded ..."},
        {"normal", "Sentrova - Normal contact notification",
         "Sentrova reports the following IP address answers normally again.", "Notifying normal ..."},
        {"acknowledged", "Sentrova - Acknowledged notification",
         "Sentrova reports the outage of the following IP address has been acknowledged.", ""},
        {"maintenance", "Sentrova - Maintenance notification",
         "Sentrova reports the following IP address is unreachable during its maintenance window.", ""},
    };
    return texts[static_cast<int>(kind)];
}

bool IsSiteNotice(NoticeKind kind) {
    return kind != NoticeKind::Isolated && kind != NoticeKind::Reconnected;
}

bool HasSince(NoticeKind kind) {
    return kind == NoticeKind::Recovery || kind == NoticeKind::Reminder || kind == NoticeKind::Escalation ||
           kind == NoticeKind::Acknowledged;
}

bool HasQuality(NoticeKind kind) {
    return kind == NoticeKind::Degraded || kind == NoticeKind::Normal;
}

/// "50 % (threshold 20 %)", "(threshold off)" when the rule is off.
std::string Measure(int value, int limit, const char* unit) {
    const std::string u = std::string(" ") + unit;
    return std::to_string(value) + u +
           (limit > 0 ? " (threshold " + std::to_string(limit) + u + ")" : " (threshold off)");
}

std::string QualityText(const LinkQuality& q) {
    return "loss " + Measure(q.LossPercent, q.LossLimit, "%") + ", RTT " + Measure(q.RttMs, q.RttLimit, "ms");
}

/// A notice's text as JSON takes it: 8-bit text that is not UTF-8 is read as Windows-1252, as other
/// tools write site rows.
Json Text(const std::string& raw) {
    return AsUtf8(raw);
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
    if (HasSince(n.Kind)) body.push_back("  Down since : " + NoticeTimeText(n.Since) + " ");
    body.insert(body.end(), {stars, ""});
    if (site) {
        body.push_back("  Code       : " + n.Code + " ");
        body.push_back("  SiteName   : " + n.SiteName + " ");
        body.push_back("  IP address : " + n.Address + " ");
        if (!n.PathEnd.empty()) body.push_back("  Path ends  : " + n.PathEnd + " ");
        if (HasQuality(n.Kind)) {
            body.push_back("  Loss       : " + Measure(n.Quality.LossPercent, n.Quality.LossLimit, "%") + " ");
            body.push_back("  RTT        : " + Measure(n.Quality.RttMs, n.Quality.RttLimit, "ms") + " ");
        }
    } else {
        body.push_back("  Daemon ID  : " + n.Daemon + " ");
    }
    body.insert(body.end(), {"", stars});
    return body;
}

std::string NoticePopupLine(const Notice& n) {
    const char* lead = n.Kind == NoticeKind::Recovery   ? " Regained contact with "
                       : n.Kind == NoticeKind::Degraded ? " Degraded contact with "
                       : n.Kind == NoticeKind::Normal   ? " Normal contact with "
                                                        : " Lost contact with ";
    return lead + n.Code + " - " + n.SiteName;
}

std::string NoticeSummary(const Notice& n) {
    switch (n.Kind) {
    case NoticeKind::Problem:
        return "Sentrova: lost contact with " + SiteText(n) + " since " + NoticeTimeText(n.Since);
    case NoticeKind::Recovery:
        return "Sentrova: regained contact with " + SiteText(n) + ", down since " + NoticeTimeText(n.Since);
    case NoticeKind::Flapping:
        return "Sentrova: " + SiteText(n) + " keeps changing between reachable and unreachable";
    case NoticeKind::Reminder:
        return "Sentrova: still no contact with " + SiteText(n) + " since " + NoticeTimeText(n.Since);
    case NoticeKind::Escalation:
        return "Sentrova: no contact with " + SiteText(n) + " since " + NoticeTimeText(n.Since) + ", not acknowledged";
    case NoticeKind::Degraded:
        return "Sentrova: degraded contact with " + SiteText(n) + ": " + QualityText(n.Quality);
    case NoticeKind::Normal:
        return "Sentrova: normal contact with " + SiteText(n) + " again: " + QualityText(n.Quality);
    case NoticeKind::Acknowledged:
        return "Sentrova: the outage of " + SiteText(n) + " since " + NoticeTimeText(n.Since) +
               " was acknowledged by " + n.Ack.By + (n.Ack.Comment.empty() ? "" : ": " + n.Ack.Comment);
    case NoticeKind::Maintenance:
        return "Sentrova: lost contact with " + SiteText(n) + " since " + NoticeTimeText(n.Since) +
               ", held by its maintenance window";
    case NoticeKind::Isolated:
    case NoticeKind::Reconnected:
        break;
    }
    return "Sentrova " + n.Daemon + ": " + n.Text;
}

// Plain ASCII with ", " and ": " between members, as webhook receivers have always been sent.
std::string NoticeJson(const Notice& n) {
    Json out;
    out["kind"] = NoticeKindName(n.Kind);
    out["code"] = Text(n.Code);
    out["sitename"] = Text(n.SiteName);
    out["address"] = Text(n.Address);
    out["since"] = NoticeTimeText(n.Since);
    out["time"] = NoticeTimeText(n.Time);
    out["daemon"] = Text(n.Daemon);
    out["text"] = Text(NoticeSummary(n));
    if (!n.TraceJson.empty()) out["trace"] = JsonRaw(n.TraceJson);
    if (n.Ack.At != 0)
        out["acknowledged"] = {
            {"by", Text(n.Ack.By)}, {"comment", Text(n.Ack.Comment)}, {"at", NoticeTimeText(n.Ack.At)}};
    return JsonText(out, {.Spaced = true, .Ascii = true});
}
