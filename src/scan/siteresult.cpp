// Texts of the probe causes, the same whichever engine probed.
#include "scan/siteresult.h"

#include "platform/icmpecho.h"

#include <algorithm>
#include <arpa/inet.h>

const char* ProbeCauseText(ProbeCause cause) {
    switch (cause) {
    case ProbeCause::None:
        return "none";
    case ProbeCause::TimedOut:
        return "timed out";
    case ProbeCause::Unreachable:
        return "unreachable";
    case ProbeCause::TimeExceeded:
        return "time exceeded";
    case ProbeCause::NameNotFound:
        return "name not found";
    case ProbeCause::NameTemporary:
        return "name lookup failed temporarily";
    case ProbeCause::SendError:
        return "no route or local send error";
    case ProbeCause::NoPermission:
        return "no permission";
    case ProbeCause::Refused:
        return "connection refused";
    case ProbeCause::ConnectTimedOut:
        return "connection timed out";
    }
    return "unknown";
}

ProbeCause CauseOfEchoStatus(std::uint32_t status) {
    switch (status) {
    case IpStatus::Success:
        return ProbeCause::None;
    case IpStatus::TtlExpiredTransit:
    case IpStatus::TtlExpiredReassem:
        return ProbeCause::TimeExceeded;
    default:
        return ProbeCause::Unreachable;
    }
}

std::string DescribeFailure(const SiteResult& result) {
    std::string text = ProbeCauseText(result.LastCause);
    if (!result.Reporter6.empty()) {
        text += " (reported by " + result.Reporter6 + ")";
    } else if (result.Reporter != 0) {
        in_addr a{result.Reporter};
        char buf[INET_ADDRSTRLEN];
        text += std::string(" (reported by ") + inet_ntop(AF_INET, &a, buf, sizeof buf) + ")";
    }
    return text;
}

SiteResult CombineFamilies(const SiteResult& v4, const SiteResult& v6) {
    SiteResult r = v4.Answered ? v6 : v4; // the failure shown is the failed family's (v4's when both failed)
    r.Answered = v4.Answered && v6.Answered;
    r.Sent = v4.Sent + v6.Sent;
    r.Received = v4.Received + v6.Received;
    r.Probed = v4.Probed.empty() || v6.Probed.empty() ? v4.Probed + v6.Probed : v4.Probed + " " + v6.Probed;
    r.RttMin = r.RttMax = r.RttAvg = 0;
    r.RttAvgUs = 0;
    for (const SiteResult* leg : {&v4, &v6}) {
        if (leg->Received == 0) continue;
        r.RttMin = r.RttAvgUs == 0 ? leg->RttMin : std::min(r.RttMin, leg->RttMin);
        r.RttMax = std::max(r.RttMax, leg->RttMax);
        r.RttAvgUs += leg->RttAvgUs * leg->Received;
    }
    if (r.Received > 0) r.RttAvgUs /= r.Received;
    r.RttAvg = static_cast<int>(r.RttAvgUs / 1000);
    r.FailedFamily = !v4.Answered && !v6.Answered ? "v4 v6" : !v4.Answered ? "v4" : !v6.Answered ? "v6" : "";
    if (r.ErrorText.empty()) r.ErrorText = v4.ErrorText.empty() ? v6.ErrorText : v4.ErrorText;
    return r;
}
