// The notice channels against real receivers on loopback: each hosted kind's documented request at a
// receiver of ours, Alertmanager and apprise themselves, the outbox through a stop, a dead receiver
// and a sender killed between sending and marking, and the routes by a site's tags.
#include "alert/channel.h"
#include "alertmanager.h"
#include "alert/webhookchannel.h"
#include "capturedlog.h"
#include "db/data.h"
#include "db/outboxrows.h"
#include "db/pgserver.h"
#include "monitor/noticeoutbox.h"
#include "peers.h"
#include "platform/datetime.h"
#include "testutil.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <set>

namespace {

using Json = nlohmann::json;

Notice SiteNotice(NoticeKind kind, const std::string& code = "A1") {
    Notice n;
    n.Kind = kind;
    n.Code = code;
    n.SiteName = "Head office";
    n.Address = "127.0.0.9";
    n.Since = EncodeDateTime(2026, 12, 10, 4, 0, 0);
    n.Time = EncodeDateTime(2026, 12, 10, 4, 5, 0);
    n.Daemon = "D1";
    return n;
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t at; (at = text.find(from)) != std::string::npos;)
        text.replace(at, from.size(), to);
    return text;
}

/// The channels of an INI file made of `sections` ("[Channel x]" lines and keys).
std::vector<ChannelSettings> Channels(const TempDir& dir, const std::string& sections) {
    const std::string file = dir.File("vkt.ini");
    WriteFileText(file, sections);
    std::vector<std::string> problems;
    std::vector<ChannelSettings> channels = ReadChannels(file, &problems);
    EXPECT_TRUE(problems.empty()) << problems.front();
    return channels;
}

/// The body received (after the receiver's Content-Type line) as JSON.
Json BodyOf(const std::string& received) {
    return Json::parse(received.substr(received.find('\n') + 1), nullptr, false);
}

template <typename Ready> bool WaitFor(Ready ready, std::chrono::seconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!ready()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return true;
}

// Each kind's request as its service documents it: the request line, a header it needs and the body's
// required fields ("/pointer" present, "/pointer=value" equal).
TEST(ChannelBodies, EachKindSendsWhatItsServiceRequires) {
    struct Case {
        const char* keys;
        NoticeKind kind;
        const char* requestLine;
        const char* header;
        std::vector<std::string> fields;
    };
    const std::vector<Case> cases{
        {"Kind=webhook\nUrl=%U/hook", NoticeKind::Problem, "POST /hook", "", {"/kind=problem", "/code=A1", "/since"}},
        {"Kind=slack\nUrl=%U/services/T1/B1/x", NoticeKind::Problem, "POST /services/T1/B1/x", "", {"/text"}},
        {"Kind=teams\nUrl=%U/workflows/run",
         NoticeKind::Problem,
         "POST /workflows/run",
         "",
         {"/type=message", "/attachments/0/contentType=application/vnd.microsoft.card.adaptive",
          "/attachments/0/content/type=AdaptiveCard", "/attachments/0/content/version",
          "/attachments/0/content/body/0/text"}},
        {"Kind=discord\nUrl=%U/api/webhooks/1/t", NoticeKind::Problem, "POST /api/webhooks/1/t", "", {"/content"}},
        {"Kind=telegram\nUrl=%U\nToken=123:abc\nChatId=-100",
         NoticeKind::Problem,
         "POST /bot123:abc/sendMessage",
         "",
         {"/chat_id=-100", "/text"}},
        {"Kind=matrix\nUrl=%U\nToken=syt_1\nRoom=!room:example.org",
         NoticeKind::Problem,
         "PUT /_matrix/client/v3/rooms/%21room%3Aexample.org/send/m.room.message/",
         "Authorization: Bearer syt_1",
         {"/msgtype=m.text", "/body"}},
        {"Kind=ntfy\nUrl=%U\nTopic=ops", NoticeKind::Problem, "POST /", "", {"/topic=ops", "/message", "/title"}},
        {"Kind=gotify\nUrl=%U\nToken=AppTok",
         NoticeKind::Problem,
         "POST /message",
         "X-Gotify-Key: AppTok",
         {"/message", "/title", "/priority"}},
        {"Kind=pagerduty\nUrl=%U\nRoutingKey=R0",
         NoticeKind::Problem,
         "POST /v2/enqueue",
         "",
         {"/routing_key=R0", "/event_action=trigger", "/dedup_key", "/payload/summary", "/payload/source",
          "/payload/severity=critical"}},
        {"Kind=pagerduty\nUrl=%U\nRoutingKey=R0",
         NoticeKind::Recovery,
         "POST /v2/enqueue",
         "",
         {"/routing_key=R0", "/event_action=resolve", "/dedup_key"}},
        {"Kind=opsgenie\nUrl=%U\nToken=G1",
         NoticeKind::Problem,
         "POST /v2/alerts",
         "Authorization: GenieKey G1",
         {"/message", "/alias"}},
        {"Kind=opsgenie\nUrl=%U\nToken=G1",
         NoticeKind::Recovery,
         "POST /v2/alerts/vkt-D1-a1-",
         "Authorization: GenieKey G1",
         {"/source"}},
        {"Kind=alertmanager\nUrl=%U",
         NoticeKind::Problem,
         "POST /api/v2/alerts",
         "",
         {"/0/labels/alertname=vkt_site_down", "/0/labels/code=A1", "/0/labels/name=Head office",
          "/0/labels/address=127.0.0.9", "/0/labels/daemon=D1", "/0/startsAt"}},
        {"Kind=alertmanager\nUrl=%U", NoticeKind::Recovery, "POST /api/v2/alerts", "", {"/0/startsAt", "/0/endsAt"}},
        {"Kind=template\nUrl=%U/t/{{code}}\nMethod=put\nHeaders=X-Site: {{code}}|Content-Type: application/json\n"
         "Template={\"who\": \"{{sitename}}\", \"what\": \"{{kind}}\", \"quote\": \"{{text}}\"}",
         NoticeKind::Problem,
         "PUT /t/A1",
         "X-Site: A1",
         {"/who=Head office", "/what=problem", "/quote=say \"hi\""}},
        {"Kind=slack\nUrl=%U/latin", NoticeKind::Problem, "POST /latin", "", {"/text"}}, // a Windows-1252 name
    };
    TestWebhook sink;
    ASSERT_TRUE(sink.ready);
    TempDir dir;
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.keys);
        const std::vector<ChannelSettings> channels =
            Channels(dir, Replace(std::string("[Channel c]\n") + c.keys + "\n", "%U",
                                  "http://127.0.0.1:" + std::to_string(sink.port)));
        ASSERT_EQ(channels.size(), 1u);
        Notice notice = SiteNotice(c.kind);
        notice.Text = "say \"hi\"";
        if (std::string(c.requestLine) == "POST /latin") notice.SiteName = "Z\xfcrich";
        const WebhookChannel::Attempt a = WebhookChannel::Send(BuildChannelRequest(channels[0], notice, "k1"));
        ASSERT_TRUE(a.Delivered) << a.Error;
        ++n;
        ASSERT_EQ(sink.WaitReceived(n, std::chrono::seconds(10)).size(), static_cast<std::size_t>(n));
        const std::string head = sink.Head(n);
        EXPECT_EQ(head.rfind(c.requestLine, 0), 0u) << head;
        EXPECT_NE(head.find(c.header), std::string::npos) << head;
        const Json body = BodyOf(sink.Received()[n - 1]);
        for (const std::string& field : c.fields) {
            const std::size_t eq = field.find('=');
            const Json::json_pointer at(field.substr(0, eq));
            ASSERT_TRUE(body.contains(at)) << field << " in " << body.dump();
            if (notice.SiteName != "Head office") {
                EXPECT_NE(body.dump().find("Z\u00fcrich"), std::string::npos) << body.dump();
            }
            if (eq != std::string::npos) {
                EXPECT_EQ(body.at(at), field.substr(eq + 1)) << body.dump();
            }
        }
    }
}

// A database of one daemon with an outbox over it.
struct Outbox {
    explicit Outbox(TDbDialect dialect) {
        dm.DBProvider = dialect == TDbDialect::SQLite ? "SQLite" : "PostgreSQL";
        dm.DataBase = dialect == TDbDialect::SQLite ? dir.File("vkt.db") : TestPgServer::Shared().CreateDatabase();
        if (dialect == TDbDialect::PostgreSQL)
            dm.DBServer = "127.0.0.1," + std::to_string(TestPgServer::Shared().Port());
        dm.DBUser = "vkt";
        if (!dm.ActivateConnection()) throw std::runtime_error(dm.LastConnectionError());
    }
    NoticeOutbox::Settings Settings(const std::string& sections) {
        NoticeOutbox::Settings s{dm.ConnectionString(), dm.Dialect(), "D1", Channels(dir, sections)};
        s.PollSeconds = 1;
        return s;
    }
    void Exec(const std::string& sql) {
        TDbQuery q(dm.conMain);
        ExecStatement(q, {sql});
    }
    int Queue(NoticeOutbox& outbox, const Notice& notice) {
        TDbQuery q(dm.conMain);
        return outbox.Queue(q, notice);
    }
    OutboxRow Row(const std::string& channel, const Notice& notice) {
        TDbQuery q(dm.conMain);
        OutboxRow row;
        OutboxRows(q, dm.Dialect(), "D1").Find(NoticeOutbox::RowKey(channel, notice), row);
        return row;
    }
    /// Waits until the row of the notice on the channel is in `state`.
    bool WaitState(const std::string& channel, const Notice& notice, int state, int seconds = 30) {
        return WaitFor([&] { return Row(channel, notice).State == state; }, std::chrono::seconds(seconds));
    }
    TempDir dir;
    TVKTDataModule dm;
};

class OutboxOn : public ::testing::TestWithParam<TDbDialect> {};

// Receiver down, the daemon stopped and started, the receiver up: one delivery, marked, never queued
// again; a sender killed after sending and before marking costs one duplicate once its lease ends.
TEST_P(OutboxOn, DelaysNoticesAndNeverLosesThem) {
    TestWebhook sink;
    ASSERT_TRUE(sink.ready);
    Outbox db(GetParam());
    CapturedLog log;
    const std::string channel = "[Channel ops-hook]\nKind=webhook\nUrl=" + sink.Url() + "\n";
    const Notice problem = SiteNotice(NoticeKind::Problem);
    sink.SetFailing(true);
    {
        NoticeOutbox first(db.Settings(channel));
        ASSERT_EQ(db.Queue(first, problem), 1);
        ASSERT_TRUE(WaitFor([&] { return db.Row("ops-hook", problem).Tries >= 1; }, std::chrono::seconds(30)));
    } // stopped with the notice still owed
    EXPECT_EQ(db.Row("ops-hook", problem).State, OutboxRows::Waiting);
    EXPECT_NE(log.Text().find("[ERROR] Notice for A1 to ops-hook failed: HTTP status 503"), std::string::npos)
        << log.Text();
    sink.SetFailing(false);
    {
        NoticeOutbox second(db.Settings(channel));
        ASSERT_TRUE(db.WaitState("ops-hook", problem, OutboxRows::Delivered));
        EXPECT_EQ(db.Queue(second, problem), 0); // told already: not queued again
    }
    EXPECT_NE(log.Text().find("[MAIL] Notice for A1 sent to ops-hook."), std::string::npos) << log.Text();

    // A member that took the recovery, sent it and was killed before marking it.
    const Notice recovery = SiteNotice(NoticeKind::Recovery);
    {
        TDbQuery q(db.dm.conMain);
        OutboxRows rows(q, db.dm.Dialect(), "D1");
        OutboxRow row;
        row.Key = NoticeOutbox::RowKey("ops-hook", recovery);
        row.Channel = "ops-hook";
        row.Code = "A1";
        row.Kind = "recovery";
        row.Notice = StoredNotice(recovery);
        ASSERT_TRUE(rows.Add(row));
        ASSERT_TRUE(rows.Take(row.Key, "dead-member", 2));
        ASSERT_TRUE(WebhookChannel(sink.Url()).Post(recovery).Delivered);
    }
    NoticeOutbox third(db.Settings(channel));
    ASSERT_TRUE(db.WaitState("ops-hook", recovery, OutboxRows::Delivered));
    std::this_thread::sleep_for(std::chrono::seconds(2));
    EXPECT_EQ(sink.Received().size(), 3u); // the problem once, the recovery twice
}

// A receiver that never takes it: given up after [Notify] GiveUp, logged once.
TEST_P(OutboxOn, GivesUpOnceAfterItsTime) {
    Outbox db(GetParam());
    CapturedLog log;
    NoticeOutbox::Settings s = db.Settings("[Channel gone]\nKind=slack\nUrl=http://127.0.0.1:1/x\n");
    s.GiveUpSeconds = 3;
    NoticeOutbox outbox(s);
    const Notice problem = SiteNotice(NoticeKind::Problem);
    db.Queue(outbox, problem);
    ASSERT_TRUE(db.WaitState("gone", problem, OutboxRows::GivenUp, 60));
    std::this_thread::sleep_for(std::chrono::seconds(2));
    const std::string text = log.Text();
    const std::size_t at = text.find("[ERROR] Notice for A1 to gone given up after ");
    ASSERT_NE(at, std::string::npos) << text;
    EXPECT_EQ(text.find("given up", text.find('\n', at)), std::string::npos) << text;
}

INSTANTIATE_TEST_SUITE_P(Backends, OutboxOn, ::testing::Values(TDbDialect::SQLite, TDbDialect::PostgreSQL),
                         [](const auto& info) { return info.param == TDbDialect::SQLite ? "SQLite" : "PostgreSQL"; });

// A notice owed at a stop, its receiver refusing, is sent once by the next start, whatever builds its
// request: a template rendered at each try, an apprise command.
TEST(ChannelOutbox, NoticeOwedThroughAStopIsSentOnceByEveryKind) {
    for (const std::string keys : {"Kind=template\nUrl=%U/t/{{code}}\nTemplate={\"site\": \"{{code}}\"}",
                                   "Kind=apprise\nUrls=json://%H/notify"}) {
        SCOPED_TRACE(keys);
        TestWebhook sink;
        ASSERT_TRUE(sink.ready);
        Outbox db(TDbDialect::SQLite);
        const std::string channel = Replace(Replace("[Channel c]\n" + keys + "\n", "%U", sink.Base()), "%H",
                                            "127.0.0.1:" + std::to_string(sink.port));
        const Notice problem = SiteNotice(NoticeKind::Problem);
        sink.SetFailing(true);
        {
            NoticeOutbox first(db.Settings(channel));
            ASSERT_EQ(db.Queue(first, problem), 1);
            ASSERT_TRUE(WaitFor([&] { return db.Row("c", problem).Tries >= 1; }, std::chrono::seconds(60)));
        }
        sink.SetFailing(false);
        NoticeOutbox second(db.Settings(channel));
        ASSERT_TRUE(db.WaitState("c", problem, OutboxRows::Delivered, 60)) << db.Row("c", problem).Error;
        EXPECT_EQ(sink.Received().size(), 1u);
    }
}

// A request sent whole that got no answer may have been taken: a receiver that deduplicates gets it
// again, any other never.
TEST(ChannelOutbox, UnansweredRequestGoesAgainOnlyToADeduplicatingReceiver) {
    TestWebhook mute(TestWebhook::Reply::Never);
    ASSERT_TRUE(mute.ready);
    Outbox db(TDbDialect::SQLite);
    CapturedLog log;
    NoticeOutbox outbox(db.Settings("[Channel plain]\nKind=slack\nUrl=" + mute.Url() +
                                    "\n[Channel dedup]\nKind=pagerduty\nRoutingKey=R0\nUrl=" + mute.Base() + "\n"));
    const Notice problem = SiteNotice(NoticeKind::Problem);
    ASSERT_EQ(db.Queue(outbox, problem), 2);
    auto copies = [&](const std::string& field) {
        int n = 0;
        for (const std::string& body : mute.Received())
            n += body.find(field) != std::string::npos ? 1 : 0;
        return n;
    };
    ASSERT_TRUE(WaitFor([&] { return copies("routing_key") >= 2; }, std::chrono::seconds(60)));
    ASSERT_TRUE(db.WaitState("plain", problem, OutboxRows::Unconfirmed));
    EXPECT_EQ(copies("\"text\""), 1);
    EXPECT_NE(log.Text().find("[ERROR] Notice for A1 to plain failed: Timeout was reached (no answer to the whole "
                              "request: not sent again)"),
              std::string::npos)
        << log.Text();
}

// A site's notices go to the channels whose Sites name it or one of its tags, and whose Events take
// the notice; a database without tags gives no site a tag.
TEST(ChannelRoutes, BySiteTagAndEvent) {
    Outbox db(TDbDialect::SQLite);
    const std::string sections =
        "[Channel all]\nKind=slack\nUrl=http://127.0.0.1:1/a\n"
        "[Channel core]\nKind=slack\nUrl=http://127.0.0.1:1/b\nSites=tag:core\n"
        "[Channel b2]\nKind=slack\nUrl=http://127.0.0.1:1/c\nSites=b2\n"
        "[Channel either]\nKind=slack\nUrl=http://127.0.0.1:1/d\nSites=A1, tag:edge\n"
        "[Channel problems]\nKind=slack\nUrl=http://127.0.0.1:1/e\nEvents=problem\n"
        "[Channel held]\nKind=slack\nUrl=http://127.0.0.1:1/f\nEvents=acknowledged, maintenance\n";
    NoticeOutbox::Settings s = db.Settings(sections);
    s.PollSeconds = 3600;
    NoticeOutbox outbox(s);
    struct Case {
        const char* code;
        NoticeKind kind;
        std::set<std::string> channels;
    };
    const std::vector<Case> cases{
        {"C3", NoticeKind::Problem, {"all", "problems"}}, // before the tag table exists
        {"A1", NoticeKind::Problem, {"all", "core", "either", "problems"}},
        {"A1", NoticeKind::Recovery, {"all", "core", "either"}},
        {"B2", NoticeKind::Problem, {"all", "b2", "either", "problems"}},
        {"C4", NoticeKind::Recovery, {"all"}},
        {"E5", NoticeKind::Reminder, {}},
        {"B2", NoticeKind::Maintenance, {"held"}},
        {"A1", NoticeKind::Acknowledged, {"held"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.code) + " " + NoticeKindName(c.kind));
        if (std::string(c.code) == "A1" && c.kind == NoticeKind::Problem) {
            db.Exec("CREATE TABLE sitetag (code varchar(20) NOT NULL, tag varchar(64) NOT NULL)");
            db.Exec("INSERT INTO sitetag (code, tag) VALUES ('A1', 'core'), ('B2', 'edge'), ('C4', 'other')");
        }
        db.Queue(outbox, SiteNotice(c.kind, c.code));
        TDbQuery q(db.dm.conMain);
        OpenStatement(q, {std::string("SELECT channel FROM vktoutbox WHERE code = '") + c.code + "' AND kind = '" +
                          NoticeKindName(c.kind) + "'"});
        std::set<std::string> got;
        for (; !q.Eof(); q.Next())
            got.insert(q.FieldByName("channel").AsString());
        EXPECT_EQ(got, c.channels);
    }
}

// A real Alertmanager shows the site's alert firing, once however often it is posted, then resolved.
TEST(ChannelReceivers, AlertmanagerFiresAndResolves) {
    TestAlertmanager am;
    ASSERT_TRUE(am.ready) << am.Log();
    const std::string url = am.Url();
    auto firing = [&] { return am.Alerts("A1"); };

    Outbox db(TDbDialect::SQLite);
    db.Exec("INSERT INTO alarms (Code, FailTime) VALUES ('A1', '12/10/2026 04:00:00')");
    const std::string channel = "[Channel am]\nKind=alertmanager\nRepeat=10\nUrl=" + url + "\n";
    NoticeOutbox outbox(db.Settings(channel));
    Notice problem = SiteNotice(NoticeKind::Problem);
    problem.Since = Now();
    problem.Time = Now();
    db.Queue(outbox, problem);
    ASSERT_TRUE(db.WaitState("am", problem, OutboxRows::Repeating));
    ASSERT_TRUE(WaitFor([&] { return firing().size() == 1; }, std::chrono::seconds(30)));
    // The duplicate a sender killed before marking would make: the receiver deduplicates it.
    const ChannelSettings settings = db.Settings(channel).Channels[0];
    ASSERT_TRUE(WebhookChannel::Send(BuildChannelRequest(settings, problem, "k")).Delivered);
    EXPECT_EQ(firing().size(), 1u);
    EXPECT_EQ(firing()[0]["labels"].value("name", ""), "Head office");

    Notice recovery = problem;
    recovery.Kind = NoticeKind::Recovery;
    recovery.Time = Now();
    db.Exec("DELETE FROM alarms");
    db.Queue(outbox, recovery);
    ASSERT_TRUE(db.WaitState("am", recovery, OutboxRows::Delivered));
    EXPECT_TRUE(WaitFor([&] { return firing().empty(); }, std::chrono::seconds(30)));
    EXPECT_TRUE(db.WaitState("am", problem, OutboxRows::Delivered, 40)); // no more re-posts
}

// apprise delivers the notice to a JSON receiver on loopback through its json:// URL.
TEST(ChannelReceivers, AppriseDeliversToJsonReceiver) {
    TestWebhook sink;
    ASSERT_TRUE(sink.ready);
    Outbox db(TDbDialect::SQLite);
    NoticeOutbox outbox(
        db.Settings("[Channel ap]\nKind=apprise\nUrls=json://127.0.0.1:" + std::to_string(sink.port) + "/notify\n"));
    const Notice problem = SiteNotice(NoticeKind::Problem);
    db.Queue(outbox, problem);
    ASSERT_TRUE(db.WaitState("ap", problem, OutboxRows::Delivered, 60)) << db.Row("ap", problem).Error;
    const std::vector<std::string> got = sink.WaitReceived(1, std::chrono::seconds(5));
    ASSERT_EQ(got.size(), 1u);
    const Json body = BodyOf(got[0]);
    EXPECT_NE(body.value("title", "").find("A1"), std::string::npos) << body.dump();
    EXPECT_NE(body.value("message", "").find("Head office"), std::string::npos) << body.dump();
}

} // namespace
