// The [History] section: with it present the daemon keeps every site's hourly and daily figures and
// its outages in tables of the database; without it nothing is kept and nothing changes.
#pragma once

#include "platform/datetime.h"

#include <string>

struct HistorySettings {
    /// The section is present.
    bool Enabled = false;
    /// Days the hourly rows are kept.
    int HourDays = 400;
    /// Years the daily rows and the outages are kept.
    int DayYears = 5;

    static HistorySettings Read(const std::string& iniFile);
    /// Seconds the hourly rows, and the daily rows and outages, are kept.
    long long HourKeepSeconds() const { return HourDays * SecondsPerDay; }
    long long DayKeepSeconds() const { return DayYears * 366LL * SecondsPerDay; }
};
