// The [Channel NAME] sections: where a notice goes besides the mail and the pop-ups, which notices
// and sites each way out takes, and the request each kind of receiver documents for a notice.
#pragma once

#include "alert/notice.h"

#include <map>
#include <string>
#include <vector>

/// The kinds a channel may be: each receiver's own documented body.
enum class ChannelKind {
    Webhook,
    Alertmanager,
    Slack,
    Teams,
    Discord,
    Telegram,
    Matrix,
    Ntfy,
    Gotify,
    PagerDuty,
    Opsgenie,
    Template,
    Apprise
};

struct ChannelSettings {
    std::string Name;
    ChannelKind Kind = ChannelKind::Webhook;
    /// The receiver's address (for a hosted service its documented endpoint unless set).
    std::string Url;
    /// What the kind needs besides: Token, RoutingKey, Topic, ChatId, Room, Template, Method, Headers,
    /// Urls, Repeat, Priority, each as written (keys in lower case).
    std::map<std::string, std::string> Keys;
    /// Event names taken ("problem", "recovery", ...).
    std::vector<std::string> Events{"problem", "recovery"};
    /// Site codes and "tag:T" entries; empty: every site.
    std::vector<std::string> Sites;
    /// The [Notify] Webhook rather than a [Channel] section: its failures are logged as "Webhook fail."
    /// lines, it counts as the "webhook" beside the mail and the pop-ups, and its delivery of a site's
    /// notice counts as the notice told.
    bool NotifyWebhook = false;

    /// A key's value, or `def` when it is missing or empty.
    std::string Key(const std::string& name, const std::string& def = "") const;
    /// Whether a notice of `kind` is one of the channel's events.
    bool Takes(NoticeKind kind) const;
    /// Whether the channel takes the notices of a site with these tags.
    bool Routes(const std::string& code, const std::vector<std::string>& tags) const;
    /// Whether Sites names tags, so that a site's tags must be read.
    bool NeedsTags() const;
    /// Seconds between re-posts of a firing alert (Alertmanager: it resolves alerts not posted again).
    long long RepeatSeconds() const;
    /// Whether the receiver takes a repeated request once (by labels, dedup key, alias or transaction),
    /// so that a request it may hold already can be sent again safely.
    bool ReceiverDeduplicates() const;
};

/// The [Notify] Webhook at `url` as a channel: every notice the mail and the pop-ups tell, and the
/// daemon's own (isolated, reconnected), as the webhook's JSON object.
ChannelSettings NotifyWebhookChannel(const std::string& url);

/// Every [Channel NAME] section of the INI file with a known Kind, in file order. Sections with an
/// unknown Kind or without what their kind needs are left out and named in `problems`.
std::vector<ChannelSettings> ReadChannels(const std::string& iniFile, std::vector<std::string>* problems = nullptr);
/// "webhook", "alertmanager", ...; false for an unknown name.
bool ChannelKindOf(const std::string& name, ChannelKind& kind);
const char* ChannelKindName(ChannelKind kind);
/// The event name a notice of `kind` counts as ("degraded" for degraded and normal again).
const char* NoticeEventName(NoticeKind kind);

/// One HTTP request to a receiver.
struct ChannelRequest {
    std::string Method = "POST";
    std::string Url;
    std::vector<std::string> Headers; ///< "Name: value"
    std::string Body;
};

/// The key of an outage (or of a notice without one) that a receiver deduplicates by: the same for
/// every notice of one outage of one site of one daemon.
std::string OutageKey(const Notice& notice);
/// "vkt problem: A1 Head office": a title for receivers that show one.
std::string NoticeTitle(const Notice& notice);
/// The request the channel's receiver documents for the notice; `key` identifies this notice (the
/// outage, the kind and the round) for receivers that deduplicate transactions.
ChannelRequest BuildChannelRequest(const ChannelSettings& channel, const Notice& notice, const std::string& key);
/// The notice's fields by the names a template sees: kind, code, sitename, address, since, time,
/// daemon, text, summary, pathend, round, ackby, ackcomment, key, outage, json.
std::map<std::string, std::string> NoticeFields(const Notice& notice, const std::string& key);

/// The notice as an outbox row keeps it, every field, and back; a text that is no stored notice
/// gives a notice of Code "?".
std::string StoredNotice(const Notice& notice);
Notice NoticeFromStored(const std::string& text);
