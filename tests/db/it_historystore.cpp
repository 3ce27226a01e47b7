// The history tables on both backends: figures added to the rows they join, a write that fails part
// way leaving every row as it was, and the outages' opening, notice and end kept once written.
#include "dbfixture.h"
#include "history/historystore.h"

namespace {

constexpr long long Hour = 1796774400, Day = 1796774400 - 7200;

Tally Figures(long long probes, long long received, long long rttMin, long long rttAvg, long long rttMax, int up) {
    Tally t;
    t.Probes = probes;
    t.Answered = received > 0 ? probes : 0;
    t.Sent = probes;
    t.Received = received;
    t.RttMinUs = rttMin;
    t.RttAvgUs = rttAvg;
    t.RttMaxUs = rttMax;
    t.UpSeconds = up;
    t.DownSeconds = 60 - up;
    return t;
}

std::unordered_map<std::string, Rollup::Pending> PendingOf(const std::vector<std::string>& codes, const Tally& t) {
    std::unordered_map<std::string, Rollup::Pending> figures;
    for (const std::string& code : codes) {
        figures[code].Hours[Hour] = t;
        figures[code].Days[Day] = t;
    }
    return figures;
}

OutageRecord Outage(long long start, long long end, bool notified, const std::string& cause = "timed out") {
    return {"A1", "10.0.0.1", cause, start, end, notified};
}

class HistoryStoreOn : public DataModuleOn {
protected:
    HistoryStore store{dm.adoQ2, "D1"};
    void Write(const std::unordered_map<std::string, Rollup::Pending>& figures,
               const std::vector<OutageRecord>& outages = {}) {
        store.Write(dm.Dialect(), figures, outages);
    }
    long long Sum(const std::string& table) {
        return Open({"SELECT SUM(probes) AS n FROM " + table}).FieldByName("n").AsInteger();
    }
};

} // namespace

// Each write adds to the row of its hour and day as the rollup adds tallies in memory: counts and
// seconds summed, round trips over both, the average weighted by the echoes (none on either side too).
TEST_P(HistoryStoreOn, AddsEachWriteToItsRows) {
    store.EnsureTables();
    const std::vector<Tally> writes = {Figures(3, 0, 0, 0, 0, 0), Figures(2, 2, 900, 1000, 1500, 50),
                                       Figures(1, 0, 0, 0, 0, 10), Figures(4, 3, 400, 2001, 5000, 60),
                                       Figures(1, 1, 700, 700, 700, 60)};
    Tally expected;
    for (const Tally& t : writes) {
        Write(PendingOf({"A1"}, t));
        expected.Add(t);
        for (const auto step : {HistoryStore::Step::Hour, HistoryStore::Step::Day}) {
            const auto rows = store.Rows(step, "A1", Day, Hour + 3600);
            ASSERT_EQ(rows.size(), 1u);
            const Tally& got = rows.front().second;
            EXPECT_EQ(
                (std::vector<long long>{got.Probes, got.Answered, got.Sent, got.Received, got.RttMinUs, got.RttAvgUs,
                                        got.RttMaxUs, (long long)got.UpSeconds, (long long)got.DownSeconds}),
                (std::vector<long long>{expected.Probes, expected.Answered, expected.Sent, expected.Received,
                                        expected.RttMinUs, expected.RttAvgUs, expected.RttMaxUs,
                                        (long long)expected.UpSeconds, (long long)expected.DownSeconds}))
                << "after " << expected.Probes << " probes";
        }
    }
}

// A row the day table refuses, among several gathered statements of other sites' rows: nothing of the
// write stays (the hours written before it neither), and the same figures written again count once.
TEST_P(HistoryStoreOn, AWriteThatFailsPartWayLeavesEveryRowAsItWas) {
    Exec({"CREATE TABLE vktday (code varchar(30) NOT NULL CHECK (code <> 'BOOM'), node varchar(64) NOT NULL, "
          "day bigint NOT NULL, probes integer NOT NULL, answered integer NOT NULL, sent integer NOT NULL, "
          "received integer NOT NULL, rttmin bigint NOT NULL, rttavg bigint NOT NULL, rttmax bigint NOT NULL, "
          "upsecs integer NOT NULL, downsecs integer NOT NULL, maintsecs integer NOT NULL)"});
    Exec({"CREATE UNIQUE INDEX ixvktday ON vktday (node, day, code)"});
    store.EnsureTables();
    std::vector<std::string> codes(450);
    for (std::size_t i = 0; i < codes.size(); ++i)
        codes[i] = "S" + std::to_string(i);
    const Tally one = Figures(1, 1, 500, 500, 500, 60);
    Write(PendingOf(codes, one), {Outage(100, 0, false)});
    auto withBoom = codes;
    withBoom.push_back("BOOM");
    EXPECT_THROW(Write(PendingOf(withBoom, one), {Outage(100, 160, true)}), EDatabaseError);
    EXPECT_EQ(Sum("vkthour"), 450);
    EXPECT_EQ(Sum("vktday"), 450);
    EXPECT_EQ(Count("vktday"), 450);
    ASSERT_EQ(store.OpenOutages().size(), 1u);
    Write(PendingOf(codes, one), {Outage(100, 160, true)});
    EXPECT_EQ(Sum("vkthour"), 900);
    EXPECT_EQ(Sum("vktday"), 900);
    EXPECT_TRUE(store.OpenOutages().empty());
}

// An outage is in the table from its first write, open; a notice and an end once written stay, whoever
// writes the same outage later (another member of a group, or a write of two changes at once).
TEST_P(HistoryStoreOn, KeepsAnOutagesNoticeAndFirstEnd) {
    store.EnsureTables();
    struct Step {
        std::vector<OutageRecord> Writes;
        long long End;
        bool Notified;
    };
    const Step steps[] = {
        {{Outage(100, 0, false)}, 0, false},
        {{Outage(100, 0, true, "refused")}, 0, true},
        {{Outage(100, 0, false)}, 0, true},
        {{Outage(100, 160, false)}, 160, true},
        {{Outage(100, 250, false), Outage(100, 0, false)}, 160, true},
    };
    for (const Step& step : steps) {
        Write({}, step.Writes);
        const auto rows = store.Outages(0, 1000, "A1");
        ASSERT_EQ(rows.size(), 1u);
        EXPECT_EQ(rows.front().End, step.End);
        EXPECT_EQ(rows.front().Notified, step.Notified);
        EXPECT_EQ(rows.front().Cause, "timed out");
        EXPECT_EQ(store.OpenOutages().size(), step.End == 0 ? 1u : 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(Backends, HistoryStoreOn, ::testing::Values(Backend::SQLite, Backend::PostgreSQL),
                         BackendName);
