// What the daemon tells people, whatever the channel: the kinds of notice, their fixed texts, the mail
// body they share, the one-line summary and the JSON a webhook receives.
#pragma once

#include "platform/clock.h"

#include <string>
#include <vector>

enum class NoticeKind {
    Problem,
    Recovery,
    Flapping,
    Isolated,
    Reconnected,
    Reminder,
    Escalation,
    Degraded,
    Normal,
    /// Told to the [Channel] sections only: an outage was acknowledged, a problem is held by maintenance.
    Acknowledged,
    Maintenance
};

/// What a degraded (or normal again) site's scan measured, against the thresholds (0: off).
struct LinkQuality {
    int LossPercent = 0;
    int LossLimit = 0;
    int RttMs = 0;
    int RttLimit = 0;
};

/// Who took an outage in hand; At 0: nobody.
struct Acknowledgement {
    std::string By;
    std::string Comment;
    TDateTime At = 0;
};

struct Notice {
    NoticeKind Kind = NoticeKind::Problem;
    std::string Code;
    std::string SiteName;
    std::string Address;
    /// Start of the outage; 0 when the notice has none.
    TDateTime Since = 0;
    /// When the notice was composed.
    TDateTime Time = 0;
    std::string Daemon;
    /// The daemon's own message of an isolation notice (the log line's text).
    std::string Text;
    /// With [Alert] Trace: where the path to the site ends ("192.0.2.7 (hop 2)") and the whole trace
    /// as a JSON object; empty without a finished trace.
    std::string PathEnd, TraceJson;
    /// The reminder's number or the escalation's step (from 1): each is a notice of its own.
    int Round = 0;
    /// A degraded or normal notice's measures.
    LinkQuality Quality;
    /// The outage's acknowledgement, when it has one.
    Acknowledgement Ack;
    /// The site's tags, for the channels that route or label by them (the mail and webhook show none).
    std::vector<std::string> Tags;
};

/// "problem", "recovery", "flapping", "isolated", "reconnected", "reminder", "escalation", "degraded",
/// "normal", "acknowledged", "maintenance": the JSON `kind`.
const char* NoticeKindName(NoticeKind kind);
/// The mail subject of a kind.
const char* NoticeSubject(NoticeKind kind);
/// The "[MAIL]" line that announces a site notice ("Notifying ...", "Notifying recovery ...").
const char* NoticeLogLine(NoticeKind kind);
/// The mail body: the kind's first line and the rule-framed report of the site (or of the daemon).
std::vector<std::string> NoticeMailBody(const Notice& notice);
/// The pop-up's contact line with code and site name (" Lost contact with ...", " Regained contact with ...").
std::string NoticePopupLine(const Notice& notice);
/// One line that says it all, for chat rooms that show a webhook's `text` as it is.
std::string NoticeSummary(const Notice& notice);
/// {"kind", "code", "sitename", "address", "since", "time", "daemon", "text"} as one JSON object, with
/// "trace" when the notice has one and "acknowledged" {"by", "comment", "at"} when the outage has been
/// acknowledged.
std::string NoticeJson(const Notice& notice);
/// "yyyy-mm-dd hh:nn:ss", or empty for 0.
std::string NoticeTimeText(TDateTime when);
