// TOutagesCsv: RFC 4180 lines, CR LF at the end of each.
#include "web/outagescsv.h"

#include "platform/codepage.h"
#include "web/historyreport.h"

void TOutagesCsv::Write(TBodyOut& out) const {
    out.Text += CsvHead("code,name,address,start,end,duration_seconds,cause,notified");
    for (const OutageRecord& r : m_outages) {
        const auto name = m_names.find(r.Code);
        out.Text += CsvField(AsUtf8(r.Code)) + "," + CsvField(name == m_names.end() ? "" : AsUtf8(name->second)) + "," +
                    CsvField(AsUtf8(r.Address)) + "," + ReportTime(r.Start) + "," +
                    (r.Open() ? std::string() : ReportTime(r.End)) + "," +
                    std::to_string((r.Open() ? m_now : r.End) - r.Start) + "," + CsvField(AsUtf8(r.Cause)) + "," +
                    (r.Notified ? "yes" : "no") + "\r\n";
        out.Spill();
    }
}
