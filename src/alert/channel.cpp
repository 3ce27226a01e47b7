// Reading the channel sections and composing each receiver's documented request.
#include "alert/channel.h"

#include "platform/codepage.h"
#include "platform/datetime.h"
#include "platform/json.h"
#include "platform/profile.h"
#include "platform/strutil.h"

#include <kainjow/mustache.hpp>

#include <algorithm>
#include <fstream>
#include <sstream>

namespace {

struct KindName {
    ChannelKind Kind;
    const char* Name;
    /// The service's documented endpoint; empty: Url must be set.
    const char* DefaultUrl;
    /// Keys the kind cannot do without besides the Url.
    std::vector<const char*> Needs;
};

const std::vector<KindName>& Kinds() {
    static const std::vector<KindName> kinds{
        {ChannelKind::Webhook, "webhook", "", {}},
        {ChannelKind::Alertmanager, "alertmanager", "", {}},
        {ChannelKind::Slack, "slack", "", {}},
        {ChannelKind::Teams, "teams", "", {}},
        {ChannelKind::Discord, "discord", "", {}},
        {ChannelKind::Telegram, "telegram", "https://api.telegram.org", {"token", "chatid"}},
        {ChannelKind::Matrix, "matrix", "", {"token", "room"}},
        {ChannelKind::Ntfy, "ntfy", "https://ntfy.sh", {"topic"}},
        {ChannelKind::Gotify, "gotify", "", {"token"}},
        {ChannelKind::PagerDuty, "pagerduty", "https://events.pagerduty.com", {"routingkey"}},
        {ChannelKind::Opsgenie, "opsgenie", "https://api.opsgenie.com", {"token"}},
        {ChannelKind::Template, "template", "", {"template"}},
        {ChannelKind::Apprise, "apprise", "-", {"urls"}},
    };
    return kinds;
}

const KindName& Entry(ChannelKind kind) {
    return *std::find_if(Kinds().begin(), Kinds().end(), [&](const KindName& k) { return k.Kind == kind; });
}

const char* const KeyNames[] = {"Token",        "RoutingKey", "Topic",   "ChatId", "Room",   "Template",
                                "TemplateFile", "Method",     "Headers", "Urls",   "Repeat", "Priority"};

std::vector<std::string> List(const std::string& text) {
    std::vector<std::string> items;
    for (std::string item : SplitString(text, ','))
        if (!(item = Trim(item)).empty()) items.push_back(item);
    return items;
}

std::string Base(const ChannelSettings& c) {
    std::string url = c.Url;
    while (!url.empty() && url.back() == '/')
        url.pop_back();
    return url;
}

/// Percent-encodes a path segment (a Matrix room or transaction).
std::string Segment(const std::string& text) {
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (const unsigned char c : text) {
        if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

bool Ends(NoticeKind kind) {
    return kind == NoticeKind::Recovery || kind == NoticeKind::Normal || kind == NoticeKind::Reconnected;
}

/// The notice with its texts in UTF-8: 8-bit text that is not is read as Windows-1252, as the
/// webhook's JSON reads it.
Notice Utf8Notice(const Notice& raw) {
    Notice n = raw;
    for (std::string* text :
         {&n.Code, &n.SiteName, &n.Address, &n.Daemon, &n.Text, &n.PathEnd, &n.Ack.By, &n.Ack.Comment})
        *text = AsUtf8(*text);
    for (std::string& tag : n.Tags)
        tag = AsUtf8(tag);
    return n;
}

} // namespace

std::string NoticeTitle(const Notice& n) {
    return std::string("vkt ") + NoticeKindName(n.Kind) + (n.Code.empty() ? "" : ": " + n.Code + " " + n.SiteName);
}

namespace {

std::string Rendered(const std::string& text, const std::map<std::string, std::string>& fields, bool jsonEscape) {
    kainjow::mustache::mustache tmpl(text);
    if (!tmpl.is_valid()) return text;
    if (jsonEscape)
        tmpl.set_custom_escape([](const std::string& s) {
            const std::string quoted = JsonText(Json(s));
            return quoted.substr(1, quoted.size() - 2);
        });
    kainjow::mustache::data data;
    for (const auto& [name, value] : fields)
        data.set(name, value);
    return tmpl.render(data);
}

ChannelRequest Alertmanager(const ChannelSettings& c, const Notice& n) {
    Json labels{{"alertname", "vkt_site_down"},
                {"code", n.Code},
                {"name", n.SiteName},
                {"address", n.Address},
                {"daemon", n.Daemon}};
    if (!n.Tags.empty()) {
        std::string tags;
        for (const std::string& t : n.Tags)
            tags += (tags.empty() ? "" : ",") + t;
        labels["tags"] = tags;
    }
    Json alert{{"labels", labels},
               {"annotations", {{"summary", NoticeSummary(n)}}},
               {"startsAt", DateTimeToRfc3339(n.Since != 0 ? n.Since : n.Time)}};
    if (Ends(n.Kind)) alert["endsAt"] = DateTimeToRfc3339(n.Time != 0 ? n.Time : Now());
    return {"POST", Base(c) + "/api/v2/alerts", {"Content-Type: application/json"}, JsonText(Json::array({alert}))};
}

ChannelRequest PagerDuty(const ChannelSettings& c, const Notice& n) {
    Json body{{"routing_key", c.Key("routingkey")},
              {"event_action", Ends(n.Kind) ? "resolve" : "trigger"},
              {"dedup_key", OutageKey(n)}};
    if (!Ends(n.Kind))
        body["payload"] = {{"summary", NoticeSummary(n).substr(0, 1024)},
                           {"source", n.Address.empty() ? n.Daemon : n.Address},
                           {"severity", c.Key("priority", n.Kind == NoticeKind::Degraded ? "warning" : "critical")},
                           {"timestamp", DateTimeToRfc3339(n.Time)},
                           {"component", n.Code},
                           {"custom_details",
                            {{"code", n.Code},
                             {"sitename", n.SiteName},
                             {"address", n.Address},
                             {"since", NoticeTimeText(n.Since)},
                             {"daemon", n.Daemon}}}};
    return {"POST", Base(c) + "/v2/enqueue", {"Content-Type: application/json"}, JsonText(body)};
}

ChannelRequest Opsgenie(const ChannelSettings& c, const Notice& n) {
    const std::vector<std::string> headers{"Content-Type: application/json",
                                           "Authorization: GenieKey " + c.Key("token")};
    const std::string alias = OutageKey(n);
    if (Ends(n.Kind))
        return {"POST", Base(c) + "/v2/alerts/" + Segment(alias) + "/close?identifierType=alias", headers,
                JsonText(Json{{"source", "vkt " + n.Daemon}, {"note", NoticeSummary(n)}})};
    Json body{{"message", NoticeSummary(n).substr(0, 130)},
              {"alias", alias},
              {"description", NoticeSummary(n)},
              {"source", "vkt " + n.Daemon},
              {"priority", c.Key("priority", "P1")},
              {"details", {{"code", n.Code}, {"name", n.SiteName}, {"address", n.Address}}}};
    return {"POST", Base(c) + "/v2/alerts", headers, JsonText(body)};
}

/// A Workflows message with one Adaptive Card: the title in bold, the summary under it.
std::string TeamsCard(const Notice& n) {
    const Json card{{"$schema", "http://adaptivecards.io/schemas/adaptive-card.json"},
                    {"type", "AdaptiveCard"},
                    {"version", "1.4"},
                    {"body", Json::array({Json{{"type", "TextBlock"}, {"text", NoticeTitle(n)}, {"weight", "Bolder"}},
                                          Json{{"type", "TextBlock"}, {"text", NoticeSummary(n)}, {"wrap", true}}})}};
    return JsonText(Json{{"type", "message"},
                         {"attachments", Json::array({Json{{"contentType", "application/vnd.microsoft.card.adaptive"},
                                                           {"contentUrl", nullptr},
                                                           {"content", card}}})}});
}

ChannelRequest Template(const ChannelSettings& c, const Notice& n, const std::string& key) {
    std::string text = c.Key("template");
    if (!c.Key("templatefile").empty()) {
        std::ifstream in(c.Key("templatefile"), std::ios::binary);
        std::stringstream all;
        all << in.rdbuf();
        text = all.str();
    }
    const std::map<std::string, std::string> fields = NoticeFields(n, key);
    ChannelRequest r{UpperCase(Rendered(c.Key("method", "POST"), fields, false)),
                     Rendered(c.Url, fields, false),
                     {},
                     Rendered(text, fields, true)};
    for (const std::string& header : SplitString(c.Key("headers"), '|'))
        if (!Trim(header).empty()) r.Headers.push_back(Rendered(Trim(header), fields, false));
    if (std::none_of(r.Headers.begin(), r.Headers.end(),
                     [](const std::string& h) { return StartsWithText(h, "content-type:"); }))
        r.Headers.push_back("Content-Type: application/json");
    return r;
}

} // namespace

std::string ChannelSettings::Key(const std::string& name, const std::string& def) const {
    const auto at = Keys.find(LowerCase(name));
    return at == Keys.end() || at->second.empty() ? def : at->second;
}

bool ChannelSettings::Takes(NoticeKind kind) const {
    const std::string event = NoticeEventName(kind);
    return std::any_of(Events.begin(), Events.end(), [&](const std::string& e) { return SameText(e, event); });
}

bool ChannelSettings::Routes(const std::string& code, const std::vector<std::string>& tags) const {
    if (Sites.empty()) return true;
    return std::any_of(Sites.begin(), Sites.end(), [&](const std::string& entry) {
        if (!StartsWithText(entry, "tag:")) return SameSiteCode(entry, code);
        const std::string tag = Trim(entry.substr(4));
        return std::any_of(tags.begin(), tags.end(), [&](const std::string& t) { return SameText(t, tag); });
    });
}

bool ChannelSettings::NeedsTags() const {
    return std::any_of(Sites.begin(), Sites.end(), [](const std::string& e) { return StartsWithText(e, "tag:"); });
}

long long ChannelSettings::RepeatSeconds() const {
    return std::max(StrToIntDef(Key("repeat"), 60), 10);
}

bool ChannelSettings::ReceiverDeduplicates() const {
    return Kind == ChannelKind::Alertmanager || Kind == ChannelKind::PagerDuty || Kind == ChannelKind::Opsgenie ||
           Kind == ChannelKind::Matrix;
}

ChannelSettings NotifyWebhookChannel(const std::string& url) {
    ChannelSettings c;
    // Brackets cannot stand in a section name, so no [Channel] section shares its rows.
    c.Name = "[Notify] Webhook";
    c.Kind = ChannelKind::Webhook;
    c.Url = url;
    c.Events = {"problem", "recovery", "flapping", "isolated", "reconnected", "reminder", "degraded"};
    c.NotifyWebhook = true;
    return c;
}

bool ChannelKindOf(const std::string& name, ChannelKind& kind) {
    for (const KindName& k : Kinds())
        if (SameText(Trim(name), k.Name)) {
            kind = k.Kind;
            return true;
        }
    return false;
}

const char* ChannelKindName(ChannelKind kind) {
    return Entry(kind).Name;
}

const char* NoticeEventName(NoticeKind kind) {
    return kind == NoticeKind::Normal ? "degraded" : NoticeKindName(kind);
}

std::vector<ChannelSettings> ReadChannels(const std::string& iniFile, std::vector<std::string>* problems) {
    std::vector<ChannelSettings> channels;
    const TIniFile ini(iniFile);
    for (const std::string& section : ProfileSections(iniFile)) {
        if (!StartsWithText(section, "Channel ")) continue;
        ChannelSettings c;
        c.Name = Trim(section.substr(8));
        const std::string kind = ini.ReadString(section, "Kind", "");
        auto problem = [&](const std::string& why) {
            if (problems) problems->push_back("Channel " + c.Name + ": " + why);
        };
        if (!ChannelKindOf(kind, c.Kind)) {
            problem("unknown Kind \"" + kind + "\"");
            continue;
        }
        const KindName& entry = Entry(c.Kind);
        c.Url = ini.ReadString(section, "Url", entry.DefaultUrl);
        for (const char* key : KeyNames)
            c.Keys[LowerCase(key)] = ini.ReadString(section, key, "");
        if (ini.ValueExists(section, "Events")) c.Events = List(ini.ReadString(section, "Events", ""));
        c.Sites = List(ini.ReadString(section, "Sites", ""));
        const auto missing =
            std::find_if(entry.Needs.begin(), entry.Needs.end(), [&](const char* key) { return c.Key(key).empty(); });
        if (c.Url.empty() || missing != entry.Needs.end()) {
            problem(std::string("missing ") + (c.Url.empty() ? "Url" : *missing));
            continue;
        }
        channels.push_back(std::move(c));
    }
    return channels;
}

std::string OutageKey(const Notice& n) {
    const long long start = DaysToSeconds(n.Since != 0 ? n.Since : n.Time);
    return "vkt-" + n.Daemon + "-" + (n.Code.empty() ? std::string(NoticeKindName(n.Kind)) : SiteCodeKey(n.Code)) +
           "-" + std::to_string(start);
}

std::map<std::string, std::string> NoticeFields(const Notice& n, const std::string& key) {
    return {{"kind", NoticeKindName(n.Kind)},
            {"code", n.Code},
            {"sitename", n.SiteName},
            {"address", n.Address},
            {"since", NoticeTimeText(n.Since)},
            {"time", NoticeTimeText(n.Time)},
            {"daemon", n.Daemon},
            {"text", n.Text},
            {"summary", NoticeSummary(n)},
            {"pathend", n.PathEnd},
            {"round", n.Round != 0 ? std::to_string(n.Round) : ""},
            {"ackby", n.Ack.By},
            {"ackcomment", n.Ack.Comment},
            {"key", key},
            {"outage", OutageKey(n)},
            {"json", NoticeJson(n)}};
}

ChannelRequest BuildChannelRequest(const ChannelSettings& c, const Notice& raw, const std::string& key) {
    const Notice n = Utf8Notice(raw);
    const std::string json = "Content-Type: application/json";
    const std::string summary = NoticeSummary(n);
    switch (c.Kind) {
    case ChannelKind::Alertmanager:
        return Alertmanager(c, n);
    case ChannelKind::PagerDuty:
        return PagerDuty(c, n);
    case ChannelKind::Opsgenie:
        return Opsgenie(c, n);
    case ChannelKind::Template:
        return Template(c, n, key);
    case ChannelKind::Slack:
        return {"POST", c.Url, {json}, JsonText(Json{{"text", summary}})};
    case ChannelKind::Discord:
        return {"POST", c.Url, {json}, JsonText(Json{{"content", summary.substr(0, 2000)}})};
    case ChannelKind::Teams:
        return {"POST", c.Url, {json}, TeamsCard(n)};
    case ChannelKind::Telegram:
        return {"POST",
                Base(c) + "/bot" + c.Key("token") + "/sendMessage",
                {json},
                JsonText(Json{{"chat_id", c.Key("chatid")}, {"text", summary}})};
    case ChannelKind::Matrix:
        // The transaction id makes a repeated request idempotent at the homeserver.
        return {"PUT",
                Base(c) + "/_matrix/client/v3/rooms/" + Segment(c.Key("room")) + "/send/m.room.message/" + Segment(key),
                {json, "Authorization: Bearer " + c.Key("token")},
                JsonText(Json{{"msgtype", "m.text"}, {"body", summary}})};
    case ChannelKind::Ntfy: {
        Json body{{"topic", c.Key("topic")}, {"title", NoticeTitle(n)}, {"message", summary}};
        if (!c.Key("priority").empty()) body["priority"] = StrToIntDef(c.Key("priority"), 3);
        std::vector<std::string> headers{json};
        if (!c.Key("token").empty()) headers.push_back("Authorization: Bearer " + c.Key("token"));
        return {"POST", Base(c), headers, JsonText(body)};
    }
    case ChannelKind::Gotify:
        return {"POST",
                Base(c) + "/message",
                {json, "X-Gotify-Key: " + c.Key("token")},
                JsonText(Json{
                    {"title", NoticeTitle(n)}, {"message", summary}, {"priority", StrToIntDef(c.Key("priority"), 8)}})};
    case ChannelKind::Webhook:
    case ChannelKind::Apprise:
        break;
    }
    return {"POST", c.Url, {json}, NoticeJson(n)};
}

std::string StoredNotice(const Notice& raw) {
    const Notice n = Utf8Notice(raw);
    return JsonText(Json{{"kind", static_cast<int>(n.Kind)},
                         {"code", n.Code},
                         {"sitename", n.SiteName},
                         {"address", n.Address},
                         {"since", n.Since},
                         {"time", n.Time},
                         {"daemon", n.Daemon},
                         {"text", n.Text},
                         {"pathend", n.PathEnd},
                         {"trace", n.TraceJson},
                         {"round", n.Round},
                         {"quality", {n.Quality.LossPercent, n.Quality.LossLimit, n.Quality.RttMs, n.Quality.RttLimit}},
                         {"ack", {{"by", n.Ack.By}, {"comment", n.Ack.Comment}, {"at", n.Ack.At}}},
                         {"tags", n.Tags}});
}

Notice NoticeFromStored(const std::string& text) {
    Notice n;
    n.Code = "?";
    const Json j = Json::parse(text, nullptr, false);
    if (!j.is_object()) return n;
    try {
        n.Kind = static_cast<NoticeKind>(j.value("kind", 0));
        n.Code = j.value("code", "");
        n.SiteName = j.value("sitename", "");
        n.Address = j.value("address", "");
        n.Since = j.value("since", 0.0);
        n.Time = j.value("time", 0.0);
        n.Daemon = j.value("daemon", "");
        n.Text = j.value("text", "");
        n.PathEnd = j.value("pathend", "");
        n.TraceJson = j.value("trace", "");
        n.Round = j.value("round", 0);
        const Json q = j.value("quality", Json::array({0, 0, 0, 0}));
        n.Quality = {q.at(0).get<int>(), q.at(1).get<int>(), q.at(2).get<int>(), q.at(3).get<int>()};
        const Json ack = j.value("ack", Json::object());
        n.Ack = {ack.value("by", ""), ack.value("comment", ""), ack.value("at", 0.0)};
        n.Tags = j.value("tags", std::vector<std::string>{});
    } catch (const Json::exception&) {
        n.Code = "?";
    }
    return n;
}
