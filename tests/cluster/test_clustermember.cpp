// Three members of one group on one database, each with its own connection, as three daemons would
// be: the verdict, the quorum in force, the group's alarm row and the notice claims with their leases.
// On the embedded file and on PostgreSQL, whose statements differ in the clock and the date values.
#include "cluster/clustermember.h"
#include "db/data.h"
#include "db/pgserver.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

struct Member {
    Member(TDbDialect dialect, const std::string& database, const std::string& server, const std::string& node,
           int quorum, int copies = 0)
        : member(dm.conMain, dialect) {
        dm.DBProvider = dialect == TDbDialect::SQLite ? "SQLite" : "PostgreSQL";
        dm.DataBase = database;
        dm.DBServer = server;
        dm.DBUser = "vkt";
        if (!dm.ActivateConnection()) throw std::runtime_error(dm.LastConnectionError());
        ClusterSettings s;
        s.Quorum = quorum;
        s.Copies = copies;
        s.Node = node;
        member.Configure(s, "G1", 5);
    }
    TVKTDataModule dm;
    ClusterMember member;
};

class Group : public ::testing::TestWithParam<TDbDialect> {
protected:
    void Make(int quorum, int members = 3) { Make(std::vector<std::pair<int, int>>(members, {quorum, 0})); }
    /// One member per (quorum, copies), named N1, N2, ..., on a new database.
    void Make(const std::vector<std::pair<int, int>>& members) {
        std::string database = dir.File("vkt" + std::to_string(++databases)), server;
        if (GetParam() == TDbDialect::PostgreSQL) {
            database = TestPgServer::Shared().CreateDatabase();
            server = "127.0.0.1," + std::to_string(TestPgServer::Shared().Port());
        }
        m.clear();
        for (const auto& [quorum, copies] : members)
            m.push_back(std::make_unique<Member>(GetParam(), database, server, "N" + std::to_string(m.size() + 1),
                                                 quorum, copies));
    }
    /// Three members of quorum 2 that have all begun a scan; returns an outage start to claim notices of.
    TDateTime JoinAll() {
        Make(2);
        for (auto& x : m)
            x->member.BeginScan();
        return EncodeDateTime(2026, 12, 9, 10, 0, 0);
    }
    long long Count(const std::string& sql) {
        TDbQuery q(m[0]->dm.conMain);
        OpenStatement(q, {sql});
        return q.FieldByName("n").AsInteger();
    }
    void Exec(const std::string& sql) {
        TDbQuery q(m[0]->dm.conMain);
        ExecStatement(q, {sql});
    }
    TempDir dir;
    int databases = 0;
    std::vector<std::unique_ptr<Member>> m;
};

} // namespace

// Each row: which members failed the site in their latest scan (in voting order) and the verdict
// the last voter reads, with quorum 2 of 3 live members.
TEST_P(Group, SiteIsDownOnlyWhenTheQuorumOfLiveMembersFailedIt) {
    Make(2);
    for (auto& x : m)
        x->member.BeginScan();
    EXPECT_EQ(m[0]->member.BeginScan(), "") << "all three live: the full quorum";
    struct Case {
        bool failed[3];
        bool down;
    } cases[] = {
        {{true, false, false}, false}, // one member's own path is cut
        {{true, true, false}, true},   // two agree
        {{false, true, true}, true},   // the first recovered, the other two still fail
        {{false, false, true}, false}, // back for two of three
    };
    for (const Case& c : cases) {
        bool verdict = false;
        for (int i = 0; i < 3; ++i)
            verdict = m[i]->member.Vote("S1", "10.0.0.1", c.failed[i]);
        EXPECT_EQ(verdict, c.down) << c.failed[0] << c.failed[1] << c.failed[2];
    }
    // A verdict read before a member answered again is not acted on.
    m[2]->member.Vote("S1", "10.0.0.1", false);
    m[0]->member.Vote("S1", "10.0.0.1", true);
    EXPECT_TRUE(m[1]->member.Vote("S1", "10.0.0.1", true));
    m[0]->member.Vote("S1", "10.0.0.1", false);
    EXPECT_FALSE(m[1]->member.StillDown("S1", "10.0.0.1"));
    // Another address of the same code is voted on by itself.
    EXPECT_FALSE(m[0]->member.Vote("S1", "10.0.0.2", true));
}

TEST_P(Group, QuorumIsLoweredToTheLiveMembersAndSaidOncePerChange) {
    Make(3, 2);
    // The first member scans alone: the heartbeat of the second is not written yet.
    EXPECT_EQ(m[0]->member.BeginScan(), "Cluster quorum lowered to 1: 1 members live");
    EXPECT_EQ(m[1]->member.BeginScan(), "Cluster quorum lowered to 2: 2 members live");
    EXPECT_EQ(m[0]->member.BeginScan(), "Cluster quorum lowered to 2: 2 members live");
    EXPECT_EQ(m[0]->member.BeginScan(), "");
    EXPECT_TRUE(m[0]->member.Vote("S1", "a", true) == false);
    EXPECT_TRUE(m[1]->member.Vote("S1", "a", true));
    // A member silent for longer than three poll intervals and a minute no longer counts.
    Exec("UPDATE vktnode SET seen = seen - 1000 WHERE node = 'N2'");
    EXPECT_EQ(m[0]->member.BeginScan(), "Cluster quorum lowered to 1: 1 members live");
    Exec("UPDATE vktvote SET seen = seen - 1000 WHERE node = 'N2'");
    EXPECT_TRUE(m[0]->member.Vote("S1", "a", true));
}

TEST_P(Group, OneAlarmRowPerGroupScanWhoeverPostsIt) {
    Make(2);
    const TDateTime now = EncodeDateTime(2026, 12, 9, 10, 4, 59, 700); // rounds up, but is written as 10:04:59
    std::string error;
    for (auto& x : m)
        EXPECT_TRUE(x->member.PostAlarm("S1", now, error)) << error;
    EXPECT_TRUE(m[1]->member.PostAlarm("S1", now - 59.0 / 86400, error)) << error;
    EXPECT_EQ(Count("SELECT COUNT(*) AS n FROM alarms WHERE Code = 'S1'"), 1);
    EXPECT_TRUE(m[2]->member.PostAlarm("S1", now + 1.0 / 86400, error)) << error; // the next poll interval
    EXPECT_EQ(Count("SELECT COUNT(*) AS n FROM alarms WHERE Code = 'S1'"), 2);
}

// A claim is won by one member; it is taken over only once its lease has ended unsent; a released
// recovery stays owed and any member may take it at once.
TEST_P(Group, NoticeClaimsHaveOneHolderAndOutliveTheirHolder) {
    const TDateTime since = JoinAll();
    const NoticeClaim a = m[0]->member.Claim("S1", ClaimKind::Problem, since);
    ASSERT_TRUE(a.Held());
    EXPECT_FALSE(m[1]->member.Claim("S1", ClaimKind::Problem, since).Held()) << "the lease holds";
    EXPECT_TRUE(m[1]->member.Claim("S1", ClaimKind::Problem, since + 1.0 / 86400).Held()) << "another outage";

    Exec("UPDATE vktclaim SET lease = 0 WHERE holder = " + SQLLiteral(a.Token)); // the holder died
    const NoticeClaim b = m[1]->member.Claim("S1", ClaimKind::Problem, since);
    ASSERT_TRUE(b.Held());
    m[0]->member.MarkSent(a); // the old holder's late word counts for nothing
    EXPECT_EQ(Count("SELECT COUNT(*) AS n FROM vktclaim WHERE sent = 1"), 0);
    m[1]->member.MarkSent(b);
    Exec("UPDATE vktclaim SET lease = 0");
    EXPECT_FALSE(m[2]->member.Claim("S1", ClaimKind::Problem, since).Held()) << "sent: never again";

    const NoticeClaim r = m[0]->member.Claim("S1", ClaimKind::Recovery, since);
    ASSERT_TRUE(r.Held());
    m[0]->member.Release(r);
    m[2]->member.BeginScan();
    EXPECT_EQ(m[2]->member.OwedRecovery("S1"), since);
    const NoticeClaim r2 = m[2]->member.Claim("S1", ClaimKind::Recovery, since);
    EXPECT_TRUE(r2.Held());
    m[1]->member.BeginScan();
    EXPECT_EQ(m[1]->member.OwedRecovery("S1"), 0) << "held again";
    EXPECT_FALSE(m[2]->member.DropOwedRecovery("S1")) << "held meanwhile: it is being sent";
    EXPECT_EQ(Count("SELECT COUNT(*) AS n FROM vktclaim WHERE kind = 'recovery'"), 1);
    // Given up again and read as owed by two members: once one drops it (the site failed again before
    // it was told), the other cannot claim it and tell of a recovery while the outage goes on.
    m[2]->member.Release(r2);
    m[0]->member.BeginScan();
    m[1]->member.BeginScan();
    EXPECT_TRUE(m[0]->member.DropOwedRecovery("S1"));
    EXPECT_FALSE(m[1]->member.Claim("S1", ClaimKind::Recovery, since).Held()) << "dropped: its outage goes on";
}

// An outage begun in the same second as the last one ended still gets its notices; a problem claim
// whose sender died unsent is found for its recovery; a member that leaves is counted out at once.
TEST_P(Group, EarlierOutagesAndDeadSendersLeaveNoClaimInTheWay) {
    const TDateTime since = JoinAll();
    for (ClaimKind kind : {ClaimKind::Problem, ClaimKind::Recovery}) {
        const NoticeClaim done = m[0]->member.Claim("S1", kind, since);
        ASSERT_TRUE(done.Held());
        m[0]->member.MarkSent(done);
    }
    EXPECT_FALSE(m[1]->member.Claim("S1", ClaimKind::Problem, since).Held());
    Exec("INSERT INTO alarms (Code, FailTime) VALUES ('S1MAILED', '12/9/2026 10:00:01')");
    EXPECT_FALSE(m[1]->member.Claim("S1", ClaimKind::Problem, since, true).Held()) << "its marker stands: sent";
    Exec("DELETE FROM alarms");
    const NoticeClaim again = m[1]->member.Claim("S1", ClaimKind::Problem, since, true); // no marker row
    ASSERT_TRUE(again.Held());
    EXPECT_FALSE(m[2]->member.Claim("S1", ClaimKind::Problem, since, true).Held()) << "held, not sent";
    Exec("UPDATE vktclaim SET lease = 0 WHERE holder = " + SQLLiteral(again.Token)); // its sender died
    m[2]->member.BeginScan();
    EXPECT_EQ(m[2]->member.UnsettledProblem("S1"), since);
    ASSERT_TRUE(m[2]->member.Claim("S1", ClaimKind::Recovery, since).Held()) << "the old recovery is gone";
    m[2]->member.DropUnsettledProblem("S1", since);
    EXPECT_EQ(Count("SELECT COUNT(*) AS n FROM vktclaim WHERE kind = 'problem'"), 0);
    // A later outage's sender died unsent: its problem claim stays until the recovery is claimed, by
    // whichever member, even one that found the marker first and told it already.
    const TDateTime later = EncodeDateTime(2026, 12, 9, 10, 1, 0);
    const NoticeClaim dead = m[1]->member.Claim("S1", ClaimKind::Problem, later);
    Exec("UPDATE vktclaim SET lease = 0 WHERE holder = " + SQLLiteral(dead.Token));
    m[2]->member.DropUnsettledProblem("S1", later);
    EXPECT_EQ(Count("SELECT COUNT(*) AS n FROM vktclaim WHERE kind = 'problem'"), 1) << "no recovery claimed yet";
    const NoticeClaim told = m[0]->member.Claim("S1", ClaimKind::Recovery, later);
    m[0]->member.MarkSent(told);
    m[2]->member.DropUnsettledProblem("S1", later);
    EXPECT_EQ(Count("SELECT COUNT(*) AS n FROM vktclaim WHERE kind = 'problem'"), 0);

    m[2]->member.Vote("S1", "a", true);
    m[2]->member.Leave();
    m[0]->member.BeginScan();
    EXPECT_EQ(m[0]->member.LiveMembers(), 2);
    EXPECT_EQ(Count("SELECT COUNT(*) AS n FROM vktvote WHERE node = 'N3'"), 0);
}

// Each row: the first member's quorum and copies, the second's, and the line the second logs as it
// refuses to join (empty: it joins).
TEST_P(Group, AGroupMixingSharedAndWholeScansIsRefusedAtStart) {
    struct Case {
        int quorum[2], copies[2];
        std::string line;
    } cases[] = {
        {{2, 2},
         {0, 2},
         "Cluster: refusing to join group G1: member N1 probes every site (no Copies), this member "
         "Copies=2"},
        {{0, 2},
         {2, 0},
         "Cluster: refusing to join group G1: its members share the sites (Copies), this member "
         "probes every site (no Copies)"},
        {{0, 0}, {2, 3}, "Cluster: refusing to join group G1: member N1 has Copies=2, this member Copies=3"},
        {{0, 0}, {2, 2}, ""},
    };
    for (const Case& c : cases) {
        Make({{c.quorum[0], c.copies[0]}, {c.quorum[1], c.copies[1]}});
        m[0]->member.BeginScan();
        ASSERT_TRUE(m[0]->member.Acts());
        EXPECT_EQ(m[1]->member.BeginScan(), c.line);
        EXPECT_EQ(m[1]->member.Acts(), c.line.empty()) << c.line;
        EXPECT_EQ(m[1]->member.BeginScan(), "") << "said once";
    }
}

// Two members that share the sites, two copies each: a site is down once both failed it; a copy that
// has not scanned since the members changed leaves the verdict open; a member counted out has its
// failure rows ignored and may claim no notice.
TEST_P(Group, AFleetSitesVerdictCountsOnlyItsLiveCopiesThatHaveScanned) {
    Make({{0, 2}, {0, 2}});
    ClusterMember &a = m[0]->member, &b = m[1]->member;
    auto scan = [&] {
        for (ClusterMember* x : {&a, &b})
            x->BeginScan();
    };
    auto vote = [](ClusterMember& x, bool failed) {
        const bool down = x.Vote("S1", "10.0.0.1", failed);
        return std::string(!x.LastVerdictKnown() ? "open"
                           : down                ? "down"
                                                 : "up") +
               " " + std::to_string(x.LastFailedVotes());
    };
    scan();
    scan();
    EXPECT_EQ(vote(a, true), "open 1") << "b has not scanned under these members yet";
    b.Fleet()->EndScan(false);
    scan();
    EXPECT_EQ(vote(a, true), "open 1") << "b took sites over in its first scan, the rest of its share not probed yet";
    for (ClusterMember* x : {&a, &b})
        x->Fleet()->EndScan(true);
    scan();
    EXPECT_EQ(vote(a, true), "up 1");
    EXPECT_EQ(vote(b, true), "down 2");
    EXPECT_EQ(vote(b, false), "up 1");
    EXPECT_EQ(vote(b, true), "down 2");
    EXPECT_EQ(Count("SELECT COUNT(*) AS n FROM vktfail"), 2) << "one row per silent site and member";
    EXPECT_TRUE(b.StillDown("S1", "10.0.0.1"));
    vote(a, false);
    EXPECT_FALSE(b.StillDown("S1", "10.0.0.1")) << "a answered since b's verdict";
    // One copy stores the round-trip time: the first, or the other while the first fails the site.
    ClusterMember& lead = a.Fleet()->Copies("S1").front() == "N1" ? a : b;
    ClusterMember& second = &lead == &a ? b : a;
    EXPECT_TRUE(lead.Fleet()->StoresRtt("S1", "10.0.0.1"));
    EXPECT_FALSE(second.Fleet()->StoresRtt("S1", "10.0.0.1"));
    vote(lead, true);
    second.BeginScan();
    EXPECT_TRUE(second.Fleet()->StoresRtt("S1", "10.0.0.1"));
    vote(lead, false);
    vote(a, true);

    // While a's scan runs, b is counted in again under a new incarnation and drops its row with the
    // site it handed back: its silence is no answer, a's verdict waits for its next look.
    vote(b, true);
    Exec("DELETE FROM vktfail WHERE node = 'N2'");
    Exec("UPDATE vktfleet SET incarnation = incarnation + 1 WHERE node = 'N2'");
    EXPECT_EQ(vote(a, true), "open 1");
    EXPECT_FALSE(a.StillDown("S1", "10.0.0.1"));

    Exec("UPDATE vktfleet SET seen = seen - 100 WHERE node = 'N2'"); // b stopped beating: counted out
    a.BeginScan();
    EXPECT_EQ(a.Fleet()->LiveMembers(), 1);
    EXPECT_EQ(vote(a, true), "down 1") << "its own copy alone, b's row ignored";
    EXPECT_FALSE(b.Claim("S1", ClaimKind::Problem, EncodeDateTime(2026, 12, 9, 10, 0, 0)).Held());
    EXPECT_TRUE(a.Claim("S1", ClaimKind::Problem, EncodeDateTime(2026, 12, 9, 10, 0, 0)).Held());
}

INSTANTIATE_TEST_SUITE_P(Backends, Group, ::testing::Values(TDbDialect::SQLite, TDbDialect::PostgreSQL),
                         [](const auto& info) { return info.param == TDbDialect::SQLite ? "SQLite" : "PostgreSQL"; });
