// Console controller: the concurrent scan. Every site row is read up front, the probe engine runs on
// a thread of its own with all echo requests in flight, and each site's lines and statements follow in
// site-list order as soon as every earlier site is done, gathered where the rows allow it.
#include "daemon/activitylog.h"
#include "daemon/talertbridge.h"
#include "daemon/tfrmmain.h"
#include "daemon/tsitebatch.h"
#include "db/data.h"
#include "platform/msgloop.h"
#include "scan/probeengine.h"
#include "scan/scansequencer.h"

#include <atomic>
#include <chrono>
#include <map>
#include <thread>

namespace {

/// Codes per gathered site-row statement.
constexpr std::size_t CodesPerRead = 500;
/// Sites handled between two rounds of pending messages: the console stays responsive without a
/// poll(2) per site.
constexpr std::size_t MessagesEvery = 32;

SiteResult RowOf(const TDbQuery& q) {
    SiteResult row;
    row.Code = VarToStrTrim(q.FieldByName("Code"));
    row.Address = VarToStrTrim(q.FieldByName("IPaddr"));
    if (const Variant* name = q.FindField("sitename")) row.Name = VarToStrTrim(*name);
    return row;
}

/// The engine on its own thread; stopped and joined when the scan ends, also early.
class EngineThread {
public:
    EngineThread(const TScanSettings& settings, const std::vector<SiteResult>& rows, ScanSequencer& results) {
        for (const SiteResult& r : rows)
            m_addresses.push_back(r.Address);
        m_thread = std::thread([this, settings, &results] {
            ProbeEngine(settings).Run(
                m_addresses,
                [&](std::size_t i, SiteResult r) {
                    if (results.Put(i, std::move(r))) MainLoop().Wake();
                },
                &m_stop);
        });
    }
    ~EngineThread() {
        m_stop = true;
        m_thread.join();
    }
    EngineThread(const EngineThread&) = delete;
    EngineThread& operator=(const EngineThread&) = delete;

private:
    std::vector<std::string> m_addresses;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

} // namespace

bool TfrmMain::ScanSitesTogether(const TStringList& codes) {
    std::vector<SiteResult> rows = ReadSiteRows(codes);
    std::vector<std::string> rowCodes;
    for (const SiteResult& r : rows)
        rowCodes.push_back(r.Code);
    m_codeAddresses.Expect(rowCodes);
    ScanSequencer results(rows.size());
    EngineThread engine(ScanSettings, rows, results);
    std::size_t next = 0;
    while (!results.Done()) {
        MainLoop().WaitUntil([&] { return results.HasReady(); }, std::chrono::seconds(5));
        std::vector<SiteResult> ready = results.TakeReady();
        for (SiteResult& r : ready) {
            r.Code = rows[next].Code;
            r.Name = rows[next].Name;
            r.Address = rows[next++].Address;
        }
        if (!ProcessProbed(ready)) return false;
    }
    return true;
}

/// The site rows of every listed code, in list order and, within a code, in the order the database
/// returns them: gathered into few statements, matched back to the codes the way the database matches.
std::vector<SiteResult> TfrmMain::ReadSiteRows(const TStringList& codes) {
    TVKTDataModule& dm = *DataModule();
    std::map<std::string, std::vector<SiteResult>> byKey;
    std::vector<std::string> gathered;
    for (const std::string& code : codes)
        if (!TSiteBatch::MatchKey(code).empty()) gathered.push_back(code);
    std::map<std::string, bool> failed; // codes whose gathered read failed are read one by one
    for (std::size_t from = 0; from < gathered.size(); from += CodesPerRead) {
        const std::size_t to = std::min(gathered.size(), from + CodesPerRead);
        std::string list;
        for (std::size_t i = from; i < to; ++i)
            list += (list.empty() ? "" : ", ") + SQLLiteral(gathered[i]);
        try {
            OpenStatement(dm.adoQ1, {"SELECT * FROM site WHERE code IN (" + list + ") "});
            for (; !dm.adoQ1.Eof(); dm.adoQ1.Next())
                byKey[TSiteBatch::MatchKey(VarToStrTrim(dm.adoQ1.FieldByName("Code")))].push_back(RowOf(dm.adoQ1));
        } catch (const std::exception&) {
            for (std::size_t i = from; i < to; ++i)
                failed[gathered[i]] = true;
        }
    }
    std::vector<SiteResult> rows;
    for (const std::string& code : codes) {
        const std::string key = TSiteBatch::MatchKey(code);
        if (!key.empty() && !failed.count(code)) {
            auto it = byKey.find(key);
            if (it != byKey.end()) rows.insert(rows.end(), it->second.begin(), it->second.end());
        } else if (!ReadSiteRowsOf(code, rows)) {
            break;
        }
    }
    return rows;
}

/// One code's rows by its own statement, as the one-at-a-time scan reads them; false when the
/// connection is gone.
bool TfrmMain::ReadSiteRowsOf(const std::string& code, std::vector<SiteResult>& rows) {
    TVKTDataModule& dm = *DataModule();
    if (!dm.conMain.Connected()) return false;
    try {
        OpenStatement(dm.adoQ1, {"SELECT * FROM ", "  site ", "WHERE ", "  code = " + SQLLiteral(code) + " "});
        for (; !dm.adoQ1.Eof(); dm.adoQ1.Next())
            rows.push_back(RowOf(dm.adoQ1));
    } catch (const std::exception& e) {
        LogStepError("Reading site " + code, e);
        return dm.conMain.Connected();
    }
    return true;
}

/// Splits the ready results into runs whose codes the database tells apart, and processes each run.
bool TfrmMain::ProcessProbed(std::vector<SiteResult>& ready) {
    std::vector<SiteResult> segment;
    TSiteBatch keys;
    for (SiteResult& r : ready) {
        if (!keys.Admit(r)) {
            if (!ProcessSegment(segment)) return false;
            segment.clear();
            keys = TSiteBatch();
            keys.Admit(r);
        }
        segment.push_back(std::move(r));
    }
    return ProcessSegment(segment);
}

bool TfrmMain::ProcessSegment(std::vector<SiteResult>& segment) {
    TVKTDataModule& dm = *DataModule();
    if (segment.empty()) return true;
    if (!dm.conMain.Connected()) return false;
    TSiteBatch batch;
    // The alert rules read an answering site's outage rows (was it notified?) before they are
    // cleared, so with them on each site clears its own rows, as in the one-at-a-time scan.
    // So do the members of a group, whose rows follow the group's verdict.
    if (!m_alert->Policy.Active() && !GroupActive()) batch.Run(dm.adoQ2, segment, m_codeAddresses);
    m_batch = &batch;
    std::size_t done = 0;
    for (const SiteResult& r : segment) {
        if (!dm.conMain.Connected()) break;
        WriteLog("POLL", "Polling " + r.Code + " [" + r.Address + "]");
        if (!r.ErrorText.empty())
            WriteLog("ERROR", "Exception during ICMP send echo.Unable to get ping handle: " + r.ErrorText);
        if (done++ % MessagesEvery == 0) MainLoop().ProcessMessages();
        SiteProbed(r);
    }
    m_batch = nullptr;
    return dm.conMain.Connected();
}
