// The [Alert] section and the keys beside it ([Mail] Admin, [Notify] Webhook) that switch the alert
// rules on. With none of them present every rule is off and the daemon behaves as it always has.
#pragma once

#include <string>
#include <vector>

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
    /// [Mail] Server and Sender, for the administrator's mail.
    std::string MailServer, MailSender;

    /// Reads the keys from an INI file; values out of range count as off (Retries at most 10).
    static AlertSettings Read(const std::string& iniFile);
    /// True when any rule or channel is switched on.
    bool Active() const;
    bool Flapping() const { return FlapChanges > 0 && FlapScans > 0; }
};
