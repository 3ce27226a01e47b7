// Reading the alert keys.
#include "alert/alertsettings.h"

#include "platform/profile.h"
#include "platform/strutil.h"

#include <algorithm>

namespace {

/// More retries than this only make a scan of silent sites last minutes (each try waits 4 s).
constexpr int MaxRetries = 10;

int InRange(int value, int low, int high) {
    return value < low || value > high ? 0 : value;
}

} // namespace

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
    s.Admin = Trim(ini.ReadString("Mail", "Admin", ""));
    s.Webhook = Trim(ini.ReadString("Notify", "Webhook", ""));
    s.MailServer = ini.ReadString("Mail", "Server", "");
    s.MailSender = ini.ReadString("Mail", "Sender", "");
    return s;
}

bool AlertSettings::Active() const {
    return Retries > 0 || Recovery || Flapping() || IsolationPercent > 0 || Dependencies || !Admin.empty() ||
           !Webhook.empty();
}
