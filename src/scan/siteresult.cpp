// Texts of the probe causes, the same whichever engine probed.
#include "scan/siteresult.h"

#include "platform/icmpecho.h"

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
    if (result.Reporter != 0) {
        in_addr a{result.Reporter};
        char buf[INET_ADDRSTRLEN];
        text += std::string(" (reported by ") + inet_ntop(AF_INET, &a, buf, sizeof buf) + ")";
    }
    return text;
}
