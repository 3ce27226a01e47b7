// Reading the [History] keys.
#include "history/historysettings.h"

#include "platform/profile.h"

#include <algorithm>

HistorySettings HistorySettings::Read(const std::string& iniFile) {
    HistorySettings s;
    s.Enabled = ProfileSectionExists("History", iniFile);
    if (!s.Enabled) return s;
    TIniFile ini(iniFile);
    // At least the windows the pages show: a day of hours and a year of days.
    s.HourDays = std::max(ini.ReadInteger("History", "HourDays", s.HourDays), 1);
    s.DayYears = std::max(ini.ReadInteger("History", "DayYears", s.DayYears), 1);
    return s;
}
