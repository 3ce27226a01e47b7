// Reading the alert keys.
#include "alert/alertsettings.h"

#include "platform/profile.h"
#include "platform/strutil.h"

#include <algorithm>
#include <cstdlib>

namespace {

/// More retries than this only make a scan of silent sites last minutes (each try waits 4 s).
constexpr int MaxRetries = 10;

int InRange(int value, int low, int high) {
    return value < low || value > high ? 0 : value;
}

/// A positive number of minutes ("30", "0.5"); 0 for anything else.
double Minutes(const std::string& text) {
    const std::string t = Trim(text);
    char* end = nullptr;
    const double value = t.empty() ? 0 : std::strtod(t.c_str(), &end);
    return end != nullptr && *end == '\0' && value > 0 && value < 1e7 ? value : 0;
}

} // namespace

std::vector<EscalationStep> AlertSettings::ParseEscalation(const std::string& text) {
    std::vector<EscalationStep> steps;
    for (const std::string& entry : SplitString(text, ',')) {
        const std::size_t colon = entry.find(':');
        if (colon == std::string::npos) continue;
        EscalationStep step{Minutes(entry.substr(0, colon)), Trim(entry.substr(colon + 1))};
        if (step.Minutes > 0 && !step.Address.empty()) steps.push_back(step);
    }
    return steps;
}

AlertSettings AlertSettings::Read(const std::string& iniFile) {
    TIniFile ini(iniFile);
    AlertSettings s;
    s.Retries = std::clamp(ini.ReadInteger("Alert", "Retries", 0), 0, MaxRetries);
    s.Recovery = ini.ReadInteger("Alert", "Recovery", 0) == 1;
    s.FlapChanges = std::max(ini.ReadInteger("Alert", "FlapChanges", 0), 0);
    s.FlapScans = std::max(ini.ReadInteger("Alert", "FlapScans", 0), 0);
    s.IsolationPercent = InRange(ini.ReadInteger("Alert", "IsolationPercent", 0), 1, 100);
    for (const std::string& host : SplitString(ini.ReadString("Alert", "Uplink", ""), ','))
        if (!Trim(host).empty()) s.Uplink.push_back(Trim(host));
    s.Dependencies = ini.ReadInteger("Alert", "Dependencies", 0) == 1;
    s.Trace = ini.ReadInteger("Alert", "Trace", 0) == 1;
    s.DegradedLoss = InRange(ini.ReadInteger("Alert", "DegradedLoss", 0), 1, 100);
    s.DegradedRtt = std::max(ini.ReadInteger("Alert", "DegradedRtt", 0), 0);
    s.DegradedScans = std::max(ini.ReadInteger("Alert", "DegradedScans", 1), 1);
    s.RemindMinutes = Minutes(ini.ReadString("Alert", "Remind", ""));
    s.Escalate = ParseEscalation(ini.ReadString("Alert", "Escalate", ""));
    s.Admin = Trim(ini.ReadString("Mail", "Admin", ""));
    s.Webhook = Trim(ini.ReadString("Notify", "Webhook", ""));
    s.MailServer = ini.ReadString("Mail", "Server", "");
    s.MailSender = ini.ReadString("Mail", "Sender", "");
    return s;
}

bool AlertSettings::Active() const {
    return Retries > 0 || Recovery || Flapping() || IsolationPercent > 0 || Dependencies || !Admin.empty() ||
           !Webhook.empty() || Degrading() || FollowsUp();
}
