// The rules that follow an answering or a notified site, with an injected clock: the degraded rule's
// thresholds and hysteresis, reminder and escalation times, acknowledgements ending with the outage,
// and the texts of the notices they make.
#include "alert/acknowledgements.h"
#include "alert/degradedpolicy.h"
#include "alert/reminderpolicy.h"

#include <gtest/gtest.h>

namespace {

constexpr TDateTime Start = 46000.5; // 2025-12-09 12:00:00

struct QualityScan {
    int sent, received, rtt;
};

struct DegradedCase {
    const char* name;
    int loss, rtt, scans;
    std::vector<QualityScan> results; // {0, 0, 0}: a silent scan
    std::string changes;              // per scan: '.' none, 'D' degraded, 'N' normal again
};

class DegradedRule : public ::testing::TestWithParam<DegradedCase> {};

TEST_P(DegradedRule, ChangesOnlyAfterItsScansInARow) {
    const DegradedCase& c = GetParam();
    AlertSettings settings;
    settings.DegradedLoss = c.loss;
    settings.DegradedRtt = c.rtt;
    settings.DegradedScans = c.scans;
    DegradedPolicy rule;
    rule.Configure(settings);
    std::string changes;
    for (const QualityScan& r : c.results) {
        if (r.sent == 0) {
            rule.Silent("A|10.0.0.1");
            changes += '.';
            continue;
        }
        const DegradedPolicy::Change change = rule.Answered("A|10.0.0.1", r.sent, r.received, r.rtt);
        changes += change == DegradedPolicy::Change::Degraded ? 'D'
                   : change == DegradedPolicy::Change::Normal ? 'N'
                                                              : '.';
    }
    EXPECT_EQ(changes, c.changes);
}

INSTANTIATE_TEST_SUITE_P(Cases, DegradedRule,
                         ::testing::Values(
                             // 2 of 4 echoes lost is 50 %: at the threshold counts as over it.
                             DegradedCase{"LossAtThreshold", 50, 0, 1, {{4, 2, 5}, {4, 4, 5}, {4, 3, 5}}, "DN."},
                             // One echo per scan says nothing about loss, only about delay.
                             DegradedCase{
                                 "SingleEchoLossIgnored", 50, 100, 1, {{1, 0, 0}, {1, 1, 150}, {1, 1, 99}}, ".DN"},
                             // Three scans in a row each way; a scan the other way or a silent scan breaks the run.
                             DegradedCase{"Hysteresis",
                                          0,
                                          100,
                                          3,
                                          {{2, 2, 200},
                                           {2, 2, 200},
                                           {2, 2, 5},
                                           {2, 2, 200},
                                           {0, 0, 0},
                                           {2, 2, 200},
                                           {2, 2, 200},
                                           {2, 2, 200},
                                           {2, 2, 5},
                                           {2, 2, 5},
                                           {2, 2, 200},
                                           {2, 2, 5},
                                           {2, 2, 5},
                                           {2, 2, 5}},
                                          ".......D.....N"},
                             DegradedCase{"Off", 0, 0, 1, {{4, 0, 900}}, "."}),
                         [](const auto& info) { return std::string(info.param.name); });

struct FollowupStep {
    int minutesAfterNotice;
    bool acknowledged;
    int reminder;            // the reminder due (0 none)
    std::vector<int> steps;  // escalation steps due
    int wallStepMinutes = 0; // the wall clock set back (< 0) or forward by this before the step
};

struct FollowupCase {
    const char* name;
    double remind;
    std::string escalate;
    std::vector<FollowupStep> steps;
};

class FollowupTimes : public ::testing::TestWithParam<FollowupCase> {};

// Each due reminder and step is reported sent; what is due next follows the notice's time, counted on
// the monotonic clock once the outage is seen: a wall clock set back or forward changes nothing.
TEST_P(FollowupTimes, FollowTheNoticeUntilAcknowledged) {
    const FollowupCase& c = GetParam();
    AlertSettings settings;
    settings.RemindMinutes = c.remind;
    settings.Escalate = AlertSettings::ParseEscalation(c.escalate);
    ManualClock clock(Start);
    ReminderPolicy policy(&clock);
    policy.Configure(settings);
    const TDateTime since = Start - 10.0 / 1440, told = Start;
    int minutes = 0;
    for (const FollowupStep& step : c.steps) {
        clock.SetNow(clock.Now() + step.wallStepMinutes / 1440.0);
        clock.Advance(std::chrono::minutes(step.minutesAfterNotice - minutes));
        minutes = step.minutesAfterNotice;
        const FollowupDue due = policy.Due("a1", since, told, step.acknowledged);
        EXPECT_EQ(due.Reminder, step.reminder) << "minute " << step.minutesAfterNotice;
        EXPECT_EQ(due.Steps, step.steps) << "minute " << step.minutesAfterNotice;
        if (due.Reminder) policy.Reminded("A1", due.Reminder);
        for (int s : due.Steps)
            policy.Escalated("A1", s);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FollowupTimes,
    ::testing::Values(
        FollowupCase{"RemindEvery30",
                     30,
                     "",
                     {{0, false, 0, {}},
                      {29, false, 0, {}},
                      {30, false, 1, {}},
                      {45, false, 0, {}},
                      {61, false, 2, {}},
                      {61, false, 0, {}}}},
        // A late scan does not make up the reminders missed: only the latest is due.
        FollowupCase{"LateScan", 10, "", {{5, false, 0, {}}, {47, false, 4, {}}, {50, false, 5, {}}}},
        // Fractions of a minute: 0.5 is every 30 seconds.
        FollowupCase{"HalfMinute", 0.5, "", {{1, false, 2, {}}, {2, false, 4, {}}}},
        // Each step once; two steps that fall due in the same scan both go; garbage entries left out.
        FollowupCase{"Escalation",
                     0,
                     "30:lead@example.org, x:bad, 60 , 60:head@example.org",
                     {{29, false, 0, {}}, {30, false, 0, {1}}, {59, false, 0, {}}, {90, false, 0, {2}}}},
        FollowupCase{"SameScan", 0, "30:a@example.org,60:b@example.org", {{75, false, 0, {1, 2}}, {80, false, 0, {}}}},
        // An acknowledgement stops both.
        FollowupCase{"Acknowledged", 30, "30:lead@example.org", {{20, false, 0, {}}, {120, true, 0, {}}}},
        FollowupCase{"WallClockSetBack",
                     10,
                     "15:lead@example.org",
                     {{5, false, 0, {}}, {10, false, 1, {}, -60}, {15, false, 0, {1}}, {20, false, 2, {}}}},
        FollowupCase{"WallClockSetForward", 10, "30:lead@example.org", {{5, false, 0, {}}, {9, false, 0, {}, 120}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FollowupTimes, ANewOutageStartsAfresh) {
    AlertSettings settings;
    settings.RemindMinutes = 10;
    ManualClock clock(Start + 15.0 / 1440);
    ReminderPolicy policy(&clock);
    policy.Configure(settings);
    EXPECT_EQ(policy.Due("A1", Start - 1.0 / 1440, Start, false).Reminder, 1);
    policy.Reminded("A1", 1);
    EXPECT_EQ(policy.Due("A1", Start - 1.0 / 1440, Start, false).Reminder, 0);
    EXPECT_EQ(policy.Due("A1", Start, Start, false).Reminder, 1) << "another outage start";
    policy.Reminded("A1", 1);
    policy.Ended("A1");
    EXPECT_EQ(policy.Due("A1", Start, Start, false).Reminder, 1);
}

TEST(Acknowledgements, HoldForTheirOutageAndEndWithIt) {
    ManualClock clock(Start);
    Acknowledgements acks(&clock);
    acks.Add(acks.Make("A1", Start - 1.0 / 1440, "admin", "on it"));
    const Acknowledgement ack = acks.Of("a1 ", Start - 1.0 / 1440);
    EXPECT_EQ(ack.By, "admin");
    EXPECT_EQ(ack.Comment, "on it");
    EXPECT_EQ(ack.At, Start);
    // The daily purge moves a long outage's start forward: still acknowledged. An earlier start is not
    // the same outage.
    EXPECT_NE(acks.Of("A1", Start + 1).At, 0);
    EXPECT_EQ(acks.Of("A1", Start - 2.0 / 1440).At, 0);
    EXPECT_EQ(acks.Of("B1", Start).At, 0);
    acks.Ended("A1");
    EXPECT_FALSE(acks.Knows("A1"));
    EXPECT_EQ(acks.Of("A1", Start).At, 0);
    // Read anew from the table: those of the others replace what this daemon knew.
    acks.Add(acks.Make("A1", Start, "x", ""));
    acks.Replace({{"B1", Start, {"ops", "", Start}}});
    EXPECT_FALSE(acks.Knows("A1"));
    EXPECT_TRUE(acks.Knows("b1"));
}

TEST(FollowupNotices, CarryTheirTextsAndTheAcknowledgement) {
    Notice n;
    n.Code = "A1";
    n.SiteName = "Depot";
    n.Address = "10.0.0.1";
    n.Since = Start;
    n.Time = Start + 0.5 / 24;
    n.Kind = NoticeKind::Reminder;
    EXPECT_STREQ(NoticeSubject(n.Kind), "Sentrova - Lost contact reminder");
    const std::vector<std::string> reminder = NoticeMailBody(n);
    EXPECT_EQ(reminder[4], "  Down since : 2025-12-09 12:00:00 ");
    n.Kind = NoticeKind::Degraded;
    n.Quality = {50, 20, 3, 0};
    EXPECT_STREQ(NoticeSubject(n.Kind), "Sentrova - Degraded contact notification");
    const std::vector<std::string> degraded = NoticeMailBody(n);
    EXPECT_EQ(degraded[degraded.size() - 4], "  Loss       : 50 % (threshold 20 %) ");
    EXPECT_EQ(degraded[degraded.size() - 3], "  RTT        : 3 ms (threshold off) ");
    EXPECT_EQ(NoticePopupLine(n), " Degraded contact with A1 - Depot");
    n.Kind = NoticeKind::Recovery;
    n.Ack = {"admin", "on \"it\"", Start + 1.0 / 24};
    EXPECT_NE(NoticeJson(n).find(", \"acknowledged\": {\"by\": \"admin\", \"comment\": \"on \\\"it\\\"\", \"at\": "
                                 "\"2025-12-09 13:00:00\"}}"),
              std::string::npos)
        << NoticeJson(n);
}

} // namespace
