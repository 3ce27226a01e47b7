// The [Alert] section and the keys beside it ([Mail] Admin, [Notify] Webhook) that switch the alert
// rules on. With none of them present every rule is off and the daemon behaves as it always has.
#pragma once

#include <string>
#include <vector>

/// One step of [Alert] Escalate: an outage unacknowledged `Minutes` after its notice is mailed to `Address`.
struct EscalationStep {
    double Minutes = 0;
    std::string Address;
    bool operator==(const EscalationStep&) const = default;
};

struct AlertSettings {
    int Retries = 0;
    bool Recovery = false;
    int FlapChanges = 0;
    int FlapScans = 0;
    int IsolationPercent = 0;
    std::vector<std::string> Uplink;
    bool Dependencies = false;
    /// A site that fails after answering gets a path trace (once per outage); it switches no rule on.
    bool Trace = false;
    std::string Admin;
    std::string Webhook;
    /// A site answering with at least this share of its scan's echoes lost (with [Scan] Echoes > 1), or
    /// with an average round-trip time of at least DegradedRtt ms, counts as degraded after
    /// DegradedScans such scans in a row, and as normal again after as many scans under both.
    int DegradedLoss = 0;
    int DegradedRtt = 0;
    int DegradedScans = 1;
    /// Minutes between the reminders of a notified, unacknowledged outage (0: none); fractions allowed.
    double RemindMinutes = 0;
    std::vector<EscalationStep> Escalate;
    /// [Mail] Server and Sender, for the administrator's mail.
    std::string MailServer, MailSender;

    /// Reads the keys from an INI file; values out of range count as off (Retries at most 10).
    static AlertSettings Read(const std::string& iniFile);
    /// True when any rule or channel is switched on.
    bool Active() const;
    bool Flapping() const { return FlapChanges > 0 && FlapScans > 0; }
    bool Degrading() const { return DegradedLoss > 0 || DegradedRtt > 0; }
    /// Reminders or escalation: outages are followed up until acknowledged.
    bool FollowsUp() const { return RemindMinutes > 0 || !Escalate.empty(); }
    /// Reads "minutes:address[,minutes:address...]"; entries that are not both are left out.
    static std::vector<EscalationStep> ParseEscalation(const std::string& text);
};
