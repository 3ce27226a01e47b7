// Four daemons that share 2,000 sites two by two ([Cluster] Copies=2) on PostgreSQL: each site is
// probed by exactly its two members; a member killed is counted out and its sites are probed again by
// two within 30 s; restarted, it takes its share back; a member paused past its heartbeats sends no
// notice for the share the others took meanwhile; and each silent site is told of once through it all.
#include "cluster/rendezvous.h"
#include "db/pgserver.h"
#include "integration/listenport.h"
#include "integration/scan_daemon.h"
#include "platform/json.h"
#include "peers.h"
#include "silenthost.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <iostream>
#include <csignal>
#include <map>
#include <memory>
#include <set>

using namespace std::chrono_literals;
using Steady = std::chrono::steady_clock;

namespace {

constexpr int Members = 4;
constexpr int Sites = 2000;
constexpr int SilentEvery = 200;
const char* const SilentNet = "100.64.138."; // held by the silent namespace; no other test routes it

std::string Code(int i) {
    char code[8];
    std::snprintf(code, sizeof code, "F%04d", i);
    return code;
}

std::string Name(int m) {
    return "m" + std::to_string(m);
}

/// The codes after each "Polling " in `text`, from `from` on.
std::set<std::string> Polled(const std::string& text, std::size_t from) {
    std::set<std::string> codes;
    for (std::size_t at = text.find("Polling F", from); at != std::string::npos; at = text.find("Polling F", at + 1))
        codes.insert(text.substr(at + 8, 5));
    return codes;
}

} // namespace

class Fleet : public ::testing::Test {
protected:
    void SetUp() override {
        std::string why;
        // Silent sites are refused at once (host unreachable), so a scan does not wait out a time-out.
        if (!CanProbe(why) || !silent.Create(why) || !silent.AddAddresses(std::string(SilentNet) + "0/24") ||
            silent.InNamespace("sysctl -qw net.ipv4.icmp_ratelimit=0") != 0 || // every refusal is sent
            silent.InNamespace("nft \"add table ip vkt_fleet; add chain ip vkt_fleet in { type filter hook input "
                               "priority 0; }\" && nft add rule ip vkt_fleet in ip daddr " +
                               std::string(SilentNet) +
                               "0/24 icmp type echo-request reject with icmp type host-unreachable") != 0)
            GTEST_SKIP() << why;
        ASSERT_TRUE(mail.ready) << "aiosmtpd did not start (package python3-aiosmtpd)";
        TestPgServer& server = TestPgServer::Shared();
        db = std::make_unique<SharedDb>("PostgreSQL", server.CreateDatabase(),
                                        "127.0.0.1," + std::to_string(server.Port()));
        ASSERT_TRUE(db->Connect()) << db->dm.LastConnectionError();
        for (int from = 0; from < Sites; from += 500) {
            std::string sites, vkt;
            for (int i = from; i < from + 500; ++i) {
                const std::string code = SQLLiteral(Code(i));
                sites += std::string(sites.empty() ? "" : ", ") + "(" + code + ", 'Depot', " + SQLLiteral(Address(i)) +
                         ", 0, 'ops@example.org', 2, '')";
                vkt += std::string(vkt.empty() ? "" : ", ") + "('F1', " + code + ")";
            }
            db->Exec("INSERT INTO site (CODE, sitename, IPaddr, Downtime, email, contactflag, owner) VALUES " + sites);
            db->Exec("INSERT INTO VKT (VKTID, sitecode) VALUES " + vkt);
        }
    }
    static std::string Address(int i) {
        if (i % SilentEvery == SilentEvery - 1) return SilentNet + std::to_string(1 + i / SilentEvery);
        return "127.9." + std::to_string(i / 250) + "." + std::to_string(1 + i % 250);
    }
    /// `parallel` echo requests in flight, a scan every `pollDelay` minutes.
    void Launch(int m, int parallel = 1000, int pollDelay = 0) {
        if (!homes[m]) {
            homes[m] = std::make_unique<DaemonHome>(
                *db, "F1",
                "Server=127.0.0.1:" + std::to_string(mail.port) +
                    "\r\nSender=vkt@example.org\r\n[Scan]\r\nParallel=" + std::to_string(parallel) +
                    "\r\n[Cluster]\r\nCopies=2\r\nHeartbeat=1\r\nLease=5\r\nNode=" + Name(m) + "\r\n");
            const std::string ini = homes[m]->home.File("vkt.ini");
            std::string text = ReadFileText(ini);
            text.replace(text.find("PollDelay=0"), 11, "PollDelay=" + std::to_string(pollDelay));
            WriteFileText(ini, text);
        }
        vkt[m] = std::make_unique<VktProcess>(homes[m]->home.Path(), homes[m]->work.Path());
    }
    void Kill(int m) {
        vkt[m]->Signal(SIGKILL);
        vkt[m]->WaitExit(30s);
        past[m] += vkt[m]->Output();
        vkt[m].reset();
    }
    std::string Output(int m) const { return past[m] + (vkt[m] ? vkt[m]->Output() : std::string()); }
    /// What the members logged beside their probes' lines, for a failure message.
    std::string All() const {
        std::string all;
        for (int m = 0; m < Members; ++m) {
            all += "--- " + Name(m) + "\n";
            for (const std::string& line : SplitString(Output(m), '\n'))
                if (line.find("[POLL]") == std::string::npos && line.find("[AWOL]") == std::string::npos)
                    all += line + "\n";
        }
        return all;
    }
    /// The members of `live` that probe each code.
    static std::map<std::string, std::set<std::string>> Assignment(const std::vector<std::string>& live) {
        const Rendezvous hrw(live);
        std::map<std::string, std::set<std::string>> copies;
        for (int i = 0; i < Sites; ++i)
            for (const std::string& n : hrw.Copies(Code(i), 2))
                copies[Code(i)].insert(n);
        return copies;
    }
    /// Waits until every code has been polled since `marks` by each of its members under `live`;
    /// returns the seconds it took, or -1.
    double AwaitProbedByCopies(const std::vector<std::string>& live, const std::array<std::size_t, Members>& marks,
                               std::chrono::seconds limit) {
        const auto began = Steady::now();
        const auto want = Assignment(live);
        for (; Steady::now() - began < limit; std::this_thread::sleep_for(500ms)) {
            std::map<std::string, std::set<std::string>> by;
            for (int m = 0; m < Members; ++m)
                if (vkt[m])
                    for (const std::string& code : Polled(Output(m), marks[m]))
                        by[code].insert(Name(m));
            bool done = true;
            for (const auto& [code, members] : want)
                for (const std::string& n : members)
                    done = done && by[code].count(n) == 1;
            if (done) return std::chrono::duration<double>(Steady::now() - began).count();
        }
        return -1;
    }
    std::array<std::size_t, Members> Marks() const {
        std::array<std::size_t, Members> marks{};
        for (int m = 0; m < Members; ++m)
            marks[m] = Output(m).size();
        return marks;
    }
    /// Problem mails received so far, by site code.
    std::map<std::string, int> Notices() const {
        std::map<std::string, int> told;
        for (int n = 1;; ++n) {
            const std::string text = mail.Received(n);
            if (text.empty()) return told;
            const std::size_t at = text.find("Code       : ");
            ++told[at == std::string::npos ? "?" : text.substr(at + 13, 5)];
        }
    }
    int Lines(int m, const std::string& text, std::size_t from = 0) const {
        const std::string out = Output(m);
        return Occurrences(out.substr(std::min(from, out.size())), text);
    }
    /// Waits until member `m` logged `text` `count` times; its log grows by megabytes, so it is read
    /// four times a second only.
    bool WaitLines(int m, const std::string& text, int count, std::chrono::seconds limit) const {
        for (const auto end = Steady::now() + limit; Lines(m, text) < count; std::this_thread::sleep_for(250ms))
            if (Steady::now() > end) return false;
        return true;
    }

    SilentHostNamespace silent{"fleet", "100.64.38"};
    TestMailServer mail;
    std::unique_ptr<SharedDb> db;
    std::array<std::unique_ptr<DaemonHome>, Members> homes;
    std::array<std::unique_ptr<VktProcess>, Members> vkt;
    std::array<std::string, Members> past;
};

TEST_F(Fleet, EachSiteHasTwoProbesThroughAKillARestartAndAPauseAndIsToldOfOnce) {
    const std::vector<std::string> all{"m0", "m1", "m2", "m3"}, three{"m0", "m1", "m2"};
    // The last one once the others scan, so that each of them sees it join.
    for (int m = 0; m < Members; ++m) {
        for (int o = 0; o < m && m == Members - 1; ++o) {
            ASSERT_TRUE(vkt[o]->WaitForOutput("Polling F", 30s)) << All() << vkt[o]->ErrorOutput();
        }
        Launch(m);
    }
    for (int m = 0; m < Members - 1; ++m)
        ASSERT_TRUE(WaitLines(m, "m3 joined;", 1, 30s)) << All();
    const auto assigned = Assignment(all);
    std::array<std::size_t, Members> marks = Marks();
    ASSERT_GE(AwaitProbedByCopies(all, marks, 30s), 0) << All();
    std::this_thread::sleep_for(1s);
    for (int m = 0; m < Members; ++m) {
        std::set<std::string> share;
        for (const auto& [code, members] : assigned)
            if (members.count(Name(m))) share.insert(code);
        EXPECT_EQ(Polled(Output(m), marks[m]), share) << Name(m) << " probes its share and no other site";
        EXPECT_NEAR(double(share.size()), Sites / 2.0, Sites / 10.0) << Name(m);
    }
    for (const auto end = Steady::now() + 30s; Notices().size() < Sites / SilentEvery && Steady::now() < end;)
        std::this_thread::sleep_for(100ms);
    ASSERT_EQ(Notices().size(), std::size_t(Sites / SilentEvery)) << All();

    // The board of a member shows every site of the group with the members that probe it, in
    // /status.json and as a label of /metrics, and /status how many sites each member holds.
    std::string web, json;
    const auto whole = [&] { return Json::accept(json) && Json::parse(json)["sites"].size() == std::size_t(Sites); };
    // A loaded machine may keep the member from answering for a while: asked again for up to a minute.
    for (const auto end = Steady::now() + 60s; !whole() && Steady::now() < end;) {
        web = "http://127.0.0.1:" + std::to_string(ListeningTcpPort(vkt[0]->Pid()));
        json = RunCommand("curl -s --max-time 20 " + web + "/status.json");
        if (!whole()) std::this_thread::sleep_for(1s);
    }
    ASSERT_TRUE(Json::accept(json)) << web << "\n" << json.substr(0, 2000);
    const Json board = Json::parse(json);
    std::set<std::string> named;
    for (const Json& site : board["sites"]) {
        const std::vector<std::string> by = site["probed_by"];
        EXPECT_EQ(by, Rendezvous(all).Copies(site["code"], 2)) << site.dump();
        const bool silent = site["address"].get<std::string>().starts_with(SilentNet);
        EXPECT_EQ(site["group"]["state"], silent ? "down" : "up") << site.dump();
        // The sites the others probe are not this member's to see: their own state is unknown.
        if (!assigned.at(site["code"]).count("m0")) {
            EXPECT_EQ(site["state"], "unknown") << site.dump();
        }
        named.insert(site["code"]);
    }
    EXPECT_EQ(named.size(), std::size_t(Sites)) << "every site of the group";
    EXPECT_NE(RunCommand("curl -s --max-time 20 " + web + "/metrics").find(",probed_by=\"m"), std::string::npos);
    const std::string page = RunCommand("curl -s --max-time 20 " + web + "/status");
    EXPECT_NE(page.find("<b>4</b> members live: m0 <b>"), std::string::npos) << page.substr(0, 2000);

    // Killed: counted out after three missed heartbeats, and its sites probed by two survivors.
    marks = Marks();
    Kill(3);
    const double takeover = AwaitProbedByCopies(three, marks, 40s);
    RecordProperty("takeover_seconds", std::to_string(takeover));
    std::cout << "fleet: the killed member's sites probed by two others after " << takeover << " s" << std::endl;
    EXPECT_GE(takeover, 0) << All();
    EXPECT_LE(takeover, 30) << All();
    const auto after = Assignment(three);
    for (int m = 0; m < 3; ++m) {
        std::set<std::string> moved, first;
        for (const auto& [code, members] : after)
            if (members.count(Name(m)) && !assigned.at(code).count(Name(m))) moved.insert(code);
        EXPECT_EQ(
            Lines(m, "[WARNING]  Cluster: m3 left; taking over " + std::to_string(moved.size()) + " sites", marks[m]),
            1)
            << Output(m).substr(marks[m], 2000);
        // Wherever the change found the member (between scans, in one, or as one began), what moved to it
        // is probed before the rest of its share.
        const std::string out = Output(m);
        for (std::size_t at = out.find("Polling F", out.find("Cluster: m3 left;", marks[m]));
             at != std::string::npos && first.size() < moved.size(); at = out.find("Polling F", at + 1))
            first.insert(out.substr(at + 8, 5));
        EXPECT_EQ(first, moved) << Name(m) << " probed the sites it took over first";
    }

    // Restarted: the others hand its share back, and it probes it.
    marks = Marks();
    const int joined[] = {Lines(0, "m3 joined;"), Lines(1, "m3 joined;"), Lines(2, "m3 joined;")};
    Launch(3);
    for (int m = 0; m < 3; ++m)
        ASSERT_TRUE(WaitLines(m, "m3 joined;", joined[m] + 1, 30s)) << All();

    // The list and the round-trip times are kept from scan to scan only while they stay the same: a
    // site added to the group is probed by its two members at their next scans and by no other, and the
    // times a member left alone because they had not changed are written again once the table lost them.
    const std::string added = Code(Sites);
    const auto addedBy = Rendezvous(all).Copies(added, 2);
    marks = Marks();
    db->AddSite("F1", added, "127.9.9.1", "");
    db->Exec("UPDATE site SET LastRTT = 9999");
    const auto probedOnlyByItsCopies = [&] {
        for (int m = 0; m < Members; ++m) {
            const bool copy = std::find(addedBy.begin(), addedBy.end(), Name(m)) != addedBy.end();
            if (Polled(Output(m), marks[m]).count(added) != (copy ? 1u : 0u)) return false;
        }
        return true;
    };
    for (const auto end = Steady::now() + 30s; !probedOnlyByItsCopies() && Steady::now() < end;)
        std::this_thread::sleep_for(250ms);
    EXPECT_TRUE(probedOnlyByItsCopies()) << added << " by " << addedBy[0] << ", " << addedBy[1] << "\n" << All();
    const std::string lost = "SELECT COUNT(*) AS n FROM site WHERE LastRTT = 9999 AND SUBSTR(IPaddr, 1, 11) <> '" +
                             std::string(SilentNet) + "'";
    for (const auto end = Steady::now() + 30s; db->Count(lost) > 0 && Steady::now() < end;)
        std::this_thread::sleep_for(250ms);
    EXPECT_EQ(db->Count(lost), 0) << "answering sites whose round-trip time was not written again";

    // Paused past its heartbeats while a site of its share goes silent: the others tell of it, and the
    // paused member, once it runs again, does not.
    std::string quiet;
    for (const auto& [code, members] : assigned)
        if (members.count("m1") && std::stoi(code.substr(1)) % SilentEvery != SilentEvery - 1) quiet = code;
    marks = Marks();
    vkt[1]->Signal(SIGSTOP);
    db->Exec("UPDATE site SET IPaddr = '" + std::string(SilentNet) + "200' WHERE code = " + SQLLiteral(quiet));
    for (const auto end = Steady::now() + 30s; Notices()[quiet] == 0 && Steady::now() < end;)
        std::this_thread::sleep_for(100ms);
    EXPECT_EQ(Notices()[quiet], 1) << All();
    vkt[1]->Signal(SIGCONT);
    ASSERT_TRUE(WaitLines(1, "Cluster: m1 joined; taking over", 1, 30s)) << All();
    ASSERT_GE(AwaitProbedByCopies(all, Marks(), 30s), 0) << All();
    EXPECT_EQ(Lines(1, "Notifying", marks[1]), 0) << Output(1).substr(marks[1], 4000);

    std::map<std::string, int> told = Notices();
    EXPECT_EQ(told.size(), std::size_t(Sites / SilentEvery + 1));
    for (const auto& [code, n] : told)
        EXPECT_EQ(n, 1) << code << " told of once";
    for (int m = 0; m < Members; ++m)
        EXPECT_EQ(Lines(m, "Posting alarm:"), 0) << Name(m);
}

// A scan that runs for minutes (sites that time out, few requests in flight) under a long poll: a
// member killed meanwhile has its sites probed again by two within 30 s all the same, in the middle of
// the survivors' scans, which then go on with their own sites.
TEST_F(Fleet, TakesOverInTheMiddleOfALongScan) {
    const std::vector<std::string> three{"m0", "m1", "m2"};
    const auto before = Assignment(three);
    // 200 sites of the two survivors time out: at 4 requests in flight their scans take 200 s or more.
    const char* const SlowNet = "100.64.139."; // on the namespace's loopback, which ignores echo requests
    ASSERT_TRUE(silent.AddAddresses(std::string(SlowNet) + "0/24"));
    std::set<std::string> slow, victims;
    for (int i = 0; i < Sites; ++i) {
        const std::string code = Code(i);
        if (before.at(code).count("m2"))
            victims.insert(code);
        else if (slow.size() < 200 && i % SilentEvery != SilentEvery - 1)
            slow.insert(code);
    }
    int host = 0;
    for (const std::string& code : slow)
        db->Exec("UPDATE site SET IPaddr = '" + std::string(SlowNet) + std::to_string(++host) +
                 "' WHERE code = " + SQLLiteral(code));
    for (int m = 0; m < 3; ++m)
        Launch(m, 4, 10);
    // m2 holds no slow site: its scan ends soon, while the others' go on.
    const auto scanned = [&] {
        const std::set<std::string> polled = Polled(Output(2), 0);
        return std::includes(polled.begin(), polled.end(), victims.begin(), victims.end());
    };
    // A loaded machine may take a while to start the daemons.
    for (const auto end = Steady::now() + 150s; !scanned() && Steady::now() < end;)
        std::this_thread::sleep_for(250ms);
    ASSERT_TRUE(scanned()) << All();

    const std::array<std::size_t, Members> marks = Marks();
    const auto killed = Steady::now();
    Kill(2);
    // Each of its sites probed by the survivor that did not hold it; the other one probed it already.
    const auto takenOver = [&] {
        std::array<std::set<std::string>, 2> polled{Polled(Output(0), marks[0]), Polled(Output(1), marks[1])};
        for (const std::string& code : victims)
            for (int m = 0; m < 2; ++m)
                if (!before.at(code).count(Name(m)) && !polled[m].count(code)) return false;
        return true;
    };
    for (const auto end = killed + 60s; !takenOver() && Steady::now() < end;)
        std::this_thread::sleep_for(250ms);
    const double takeover = takenOver() ? std::chrono::duration<double>(Steady::now() - killed).count() : -1;
    std::cout << "fleet: taken over in the middle of a long scan after " << takeover << " s" << std::endl;
    EXPECT_GE(takeover, 0) << All();
    EXPECT_LE(takeover, 30) << All();
    for (int m = 0; m < 2; ++m) {
        EXPECT_EQ(Lines(m, "Cluster: m2 left; taking over", marks[m]), 1) << All();
        // The scan that was running goes on after the takeover: slow sites are polled after it.
        const std::string out = Output(m);
        std::size_t taken = out.size();
        for (const std::string& code : victims)
            if (!before.at(code).count(Name(m))) taken = std::min(taken, out.find("Polling " + code, marks[m]));
        ASSERT_LT(taken, out.size()) << All();
        const auto slowAfter = [&] {
            for (const std::string& code : Polled(Output(m), taken))
                if (slow.count(code)) return true;
            return false;
        };
        for (const auto end = Steady::now() + 150s; !slowAfter() && Steady::now() < end;)
            std::this_thread::sleep_for(500ms);
        EXPECT_TRUE(slowAfter()) << Name(m) << " went on with its own scan\n" << All();
    }
}
