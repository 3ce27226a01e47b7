// THistoryCsv: RFC 4180 lines, CR LF at the end of each; round-trip times in milliseconds.
#include "web/historycsv.h"

#include "platform/codepage.h"
#include "platform/strutil.h"
#include "web/historyreport.h"
#include "web/statusview.h"

#include <cmath>

namespace {

std::string Millis(long long microseconds, bool any) {
    return any ? Format("%.3f", double(microseconds) / 1000.0) : std::string();
}

} // namespace

void THistoryCsv::Write(TBodyOut& out) const {
    out.Text += CsvHead("code,start,probes,answered,echoes_sent,echoes_received,rtt_min_ms,rtt_avg_ms,rtt_max_ms,"
                        "up_seconds,down_seconds,maintenance_seconds,uptime_percent");
    const std::string code = CsvField(AsUtf8(m_code));
    for (const auto& [start, t] : m_rows) {
        const bool any = t.Received > 0;
        const double uptime = t.UptimePercent();
        out.Text += code + "," + ReportTime(start) +
                    Format(",%lld,%lld,%lld,%lld,", t.Probes, t.Answered, t.Sent, t.Received) +
                    Millis(t.RttMinUs, any) + "," + Millis(t.RttAvgUs, any) + "," + Millis(t.RttMaxUs, any) +
                    Format(",%lld,%lld,%lld,", std::llround(t.UpSeconds), std::llround(t.DownSeconds),
                           std::llround(t.MaintenanceSeconds)) +
                    (std::isnan(uptime) ? std::string() : UptimeText(uptime)) + "\r\n";
        out.Spill();
    }
}
