// A site's result as the scan hands it to the status board, for the tests of the board's readers.
#pragma once

#include "scan/siteresult.h"

#include <string>

inline SiteResult BoardResult(const std::string& code, const std::string& name, const std::string& address,
                              bool answered, int rttMs, ProbeCause cause = ProbeCause::None) {
    SiteResult r;
    r.Code = code;
    r.Name = name;
    r.Address = address;
    r.Answered = answered;
    r.RttAvg = rttMs;
    r.LastCause = cause;
    return r;
}
