// The notification policy scan by scan, against a small model of table alarms: which notices go out
// for a run of results. Each case is a site list, settings, and one string of results per scan.
#include "alert/alertpolicy.h"

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <map>

using Events = std::vector<std::string>;

namespace {

/// The daemon's side: alarm rows and markers per site, notices recorded as events, deliveries scripted.
class ModelDaemon : public AlertActions {
public:
    struct Rows {
        int alarms = 0;
        bool marker = false;
    };
    void Log(const std::string& category, const std::string& message) override {
        events.push_back("[" + category + "] " + message);
    }
    OutageRows Outage(const std::string& code) override { return {rows[code].marker, rows[code].alarms ? 1.0 : 0}; }
    void PostAlarm(const std::string& code) override { ++rows[code].alarms; }
    void StoreMarker(const std::string& code) override {
        rows[code].marker = true;
        events.push_back("marker " + code);
    }
    bool ProblemDue(const std::string& code) override { return !rows[code].marker && rows[code].alarms > 0; }
    void NotifyProblem(const std::string& code) override {
        if (!ProblemDue(code)) return;
        rows[code].marker = Delivered("problem " + code);
    }
    bool NotifySite(const std::string& code, NoticeKind kind, TDateTime) override {
        return Delivered(std::string(NoticeKindName(kind)) + " " + code);
    }
    void NotifyAdmin(NoticeKind kind, const std::string&) override { events.push_back(NoticeKindName(kind)); }
    bool ProbeHost(const std::string&) override { return uplinkAnswers; }
    std::vector<SiteDeps::Edge> Dependencies() override { return deps; }

    /// Records the notice; "!" marks one that was not delivered.
    bool Delivered(const std::string& event) {
        const bool ok = failures.empty() || !failures.front();
        if (!failures.empty()) failures.pop_front();
        events.push_back(ok ? event : event + " !");
        return ok;
    }

    std::map<std::string, Rows> rows;
    Events events;
    std::deque<bool> failures; // true: the next notice fails
    std::vector<SiteDeps::Edge> deps;
    bool uplinkAnswers = false;
};

struct PolicyCase {
    const char* name;
    AlertSettings settings;
    std::vector<std::string> sites;
    std::vector<std::string> scans; // one character per site: '+' answers, '-' silent
    Events expected;
    std::deque<bool> failures{};
    std::vector<SiteDeps::Edge> deps{};
    bool uplinkAnswers = false;
};

AlertSettings With(std::function<void(AlertSettings&)> set) {
    AlertSettings s;
    set(s);
    return s;
}

std::vector<std::string> Repeat(std::vector<std::string> scans, const std::string& scan, int times) {
    scans.insert(scans.end(), times, scan);
    return scans;
}

/// 30 scans that toggle, starting silent, then `after` steady scans.
std::vector<std::string> Toggling(const std::string& after, int steady) {
    std::vector<std::string> scans;
    for (int i = 0; i < 30; ++i)
        scans.push_back(i % 2 ? "+" : "-");
    return Repeat(scans, after, steady);
}

} // namespace

class Policy : public ::testing::TestWithParam<PolicyCase> {
protected:
    /// One scan the way the daemon runs it: the result line's rows first, then the policy's notices.
    void Scan(const std::vector<std::string>& sites, const std::string& results) {
        policy.ScanStarted();
        for (std::size_t i = 0; i < sites.size(); ++i) {
            const std::string& code = sites[i];
            const bool answered = results[i] == '+';
            if (answered) {
                policy.Answering(code);
                daemon.rows[code] = {};
            } else if (!policy.HoldsAlarms()) {
                daemon.PostAlarm(code);
            }
            policy.SiteDone(code, answered);
        }
        policy.ScanEnded();
    }
    ModelDaemon daemon;
    ManualClock clock{46000};
    AlertPolicy policy{daemon, &clock};
};

TEST_P(Policy, SendsTheNoticesOfTheRules) {
    const PolicyCase& c = GetParam();
    daemon.failures = c.failures;
    daemon.deps = c.deps;
    daemon.uplinkAnswers = c.uplinkAnswers;
    policy.Configure(c.settings);
    for (const std::string& scan : c.scans)
        Scan(c.sites, scan);
    EXPECT_EQ(daemon.events, c.expected);
}

const AlertSettings Recovery = With([](AlertSettings& s) { s.Recovery = true; });
const AlertSettings Flapping = With([](AlertSettings& s) {
    s.Recovery = true;
    s.FlapChanges = 3;
    s.FlapScans = 4;
});
const AlertSettings Isolation = With([](AlertSettings& s) { s.IsolationPercent = 80; });
const AlertSettings Uplink = With([](AlertSettings& s) {
    s.IsolationPercent = 80;
    s.Uplink = {"192.0.2.1"};
});
const AlertSettings Parents = With([](AlertSettings& s) { s.Dependencies = true; });

INSTANTIATE_TEST_SUITE_P(
    Cases, Policy,
    ::testing::Values(PolicyCase{.name = "OneRecoveryForEachNotifiedOutage",
                                 .settings = Recovery,
                                 .sites = {"A"},
                                 .scans = {"-", "-", "+", "+", "-", "+"},
                                 .expected = {"problem A", "recovery A", "problem A", "recovery A"}},
                      PolicyCase{.name = "NoRecoveryWithoutAProblemNotice",
                                 .settings = Recovery,
                                 .sites = {"A"},
                                 .scans = {"-", "+", "+"},
                                 .expected = {"problem A !"},
                                 .failures = {true}},
                      PolicyCase{.name = "FailedRecoveryIsTriedAgainNotDoubled",
                                 .settings = Recovery,
                                 .sites = {"A"},
                                 .scans = {"-", "+", "+", "+"},
                                 .expected = {"problem A", "recovery A !", "recovery A"},
                                 .failures = {false, true}},
                      PolicyCase{.name = "OutageBackBeforeItsRecoveryWasToldIsNotNotifiedAgain",
                                 .settings = Recovery,
                                 .sites = {"A"},
                                 .scans = {"-", "+", "-", "-", "+"},
                                 .expected = {"problem A", "recovery A !", "marker A", "recovery A"},
                                 .failures = {false, true}},
                      PolicyCase{.name = "WithoutTheRecoveryKeyOnlyProblemNotices",
                                 .settings = Parents,
                                 .sites = {"A"},
                                 .scans = {"-", "+", "-"},
                                 .expected = {"problem A", "problem A"}},
                      PolicyCase{.name = "ToggleForAnHourThenUp",
                                 .settings = Flapping,
                                 .sites = {"A"},
                                 .scans = Toggling("+", 6),
                                 .expected = {"problem A", "recovery A", "flapping A"}},
                      PolicyCase{.name = "ToggleForAnHourThenDown",
                                 .settings = Flapping,
                                 .sites = {"A"},
                                 .scans = Toggling("-", 6),
                                 .expected = {"problem A", "recovery A", "flapping A", "problem A"}},
                      PolicyCase{.name = "FlappingWhileItsRecoveryIsOwedSettlesUpWithIt",
                                 .settings = Flapping,
                                 .sites = {"A"},
                                 .scans = Repeat({"+", "-", "+", "-", "+"}, "+", 4),
                                 .expected = {"problem A", "recovery A !", "marker A", "flapping A", "recovery A"},
                                 .failures = {false, true}},
                      PolicyCase{.name = "FlappingNoticeTriedAgainWhileFlapping",
                                 .settings = Flapping,
                                 .sites = {"A"},
                                 .scans = {"-", "+", "-", "+"},
                                 .expected = {"problem A", "recovery A", "flapping A !", "flapping A"},
                                 .failures = {false, false, true}},
                      PolicyCase{.name = "IsolatedScansHoldAlarmsAndNotices",
                                 .settings = Isolation,
                                 .sites = {"A", "B", "C", "D", "E"},
                                 .scans = {"+++++", "-----", "-+---", "+++++"},
                                 .expected = {"[WARNING] Probe isolated: 5 of 5 sites silent, site alarms held.",
                                              "isolated", "[WARNING] Probe reconnected: 5 of 5 sites answer.",
                                              "reconnected"}},
                      PolicyCase{.name = "BelowTheShareSitesAreDown",
                                 .settings = Isolation,
                                 .sites = {"A", "B", "C", "D", "E"},
                                 .scans = {"--+++"},
                                 .expected = {"problem A", "problem B"}},
                      PolicyCase{.name = "FewerThanFiveSitesAreNeverIsolated",
                                 .settings = Isolation,
                                 .sites = {"A", "B", "C", "D"},
                                 .scans = {"----"},
                                 .expected = {"problem A", "problem B", "problem C", "problem D"}},
                      PolicyCase{.name = "AnAnsweringUplinkMeansTheSitesAreDown",
                                 .settings = Uplink,
                                 .sites = {"A", "B", "C", "D", "E"},
                                 .scans = {"----+"},
                                 .expected = {"problem A", "problem B", "problem C", "problem D"},
                                 .uplinkAnswers = true},
                      PolicyCase{.name = "ChildrenHeldWhileAnAncestorIsDownThenNotifiedEachOnce",
                                 .settings = Parents,
                                 .sites = {"C1", "P", "C2", "C3"},
                                 .scans = {"----", "----", "-+-+", "-+-+"},
                                 .expected = {"[MAIL] Notice for C1 held: parent P down", "problem P",
                                              "[MAIL] Notice for C2 held: parent P down",
                                              "[MAIL] Notice for C3 held: parent P down", "problem C1", "problem C2"},
                                 .deps = {{"C1", "P"}, {"C2", "p"}, {"C3", "G"}, {"G", "P"}, {"G", "X"}}},
                      PolicyCase{.name = "ACycleIsLoggedOnceAndBroken",
                                 .settings = Parents,
                                 .sites = {"A", "B"},
                                 .scans = {"--", "--"},
                                 .expected = {"[WARNING] Site dependency cycle ignored: A > B > A",
                                              "[MAIL] Notice for A held: parent B down", "problem B"},
                                 .deps = {{"A", "B"}, {"B", "A"}}}),
    [](const auto& info) { return std::string(info.param.name); });
