// Data Utilities controller: loading a table's backup file into the table in one batch update.
#include "daemon/tfrmdatutil.h"

#include "db/addresscolumn.h"
#include "db/common.h"
#include "db/dbsession.h"
#include "db/sitestore.h"
#include "db/tablescripts.h"
#include "db/tbatchthread.h"
#include "platform/codepage.h"
#include "platform/datetime.h"
#include "platform/msgloop.h"
#include "platform/strutil.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <fstream>

namespace {

/// Lines read between two turns of the message loop while the batch is being filled.
constexpr std::size_t kLinesPerTurn = 256;

/// Reads one line without its CR LF (or LF) ending; false at the end of the file.
bool ReadLine(std::istream& in, std::string& line) {
    if (!std::getline(in, line)) return false;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return true;
}

/// A backup file's heading: "Table=<name>\tRecords=<count>"; the first six characters are not checked.
/// The name runs from the seventh character to the first tab, so a tab among the first six leaves none.
void ParseHeading(const std::string& heading, std::string& table, long long& count) {
    const std::size_t tab = heading.find('\t');
    const std::size_t length = tab == std::string::npos ? std::string::npos : tab < 6 ? 0 : tab - 6;
    table = Trim(heading.size() > 6 ? heading.substr(6, length) : "");
    const std::size_t from = tab == std::string::npos ? 8 : tab + 9;
    count = from < heading.size() ? StrToIntDef(heading.substr(from), 0) : 0;
}

/// A field of the file as its column's type stores it.
Variant ColumnValue(const std::string& text, TFieldClass cls) {
    const bool empty =
        std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) <= 32; });
    switch (cls) {
    case TFieldClass::Text:
        return Variant(empty ? std::string() : text);
    case TFieldClass::Integer:
        return Variant(static_cast<long long>(empty ? 0 : StrToIntDef(text, 0)));
    case TFieldClass::Float:
        return Variant(empty ? 0.0 : Variant(text).AsFloat());
    case TFieldClass::DateTime:
        return Variant::FromDateTime(empty ? 0.0 : StrToDateTime(text));
    case TFieldClass::Boolean:
        return Variant(Trim(text) == "True");
    case TFieldClass::Other:
        break;
    }
    return Variant();
}

/// Where the file holds each column's values: by the exact name first, else by the name in any letter
/// case, since servers that fold identifiers write the column names of the same table in another case.
/// npos for a column the file does not have.
std::vector<std::size_t> ColumnPositions(const std::vector<TDbColumn>& columns, const TStringList& names) {
    std::vector<std::size_t> positions;
    for (const TDbColumn& column : columns) {
        auto at = std::find(names.begin(), names.end(), column.Name);
        if (at == names.end())
            at = std::find_if(names.begin(), names.end(),
                              [&](const std::string& n) { return SameText(n, column.Name); });
        positions.push_back(at == names.end() ? std::string::npos : static_cast<std::size_t>(at - names.begin()));
    }
    return positions;
}

/// Waits for the batch update while the loop keeps serving the window; the worker wakes the loop
/// when it ends, so nothing spins.
void WaitForBatch(const TBatchThread& worker) {
    if (!HasMainLoop()) return; // the destructor joins the worker
    while (!MainLoop().WaitUntil([&] { return worker.Done(); }, std::chrono::hours(1))) {
    }
}

struct TBatchResult {
    std::size_t NotWritten = 0;
    std::string Error; // the database's message when the batch failed
};

/// Sends the batch on its own thread; tells how many records it did not write.
TBatchResult RunBatch(TDbBatchSet& dataset) {
    TBatchThread worker(dataset, [] {
        if (HasMainLoop()) MainLoop().Wake();
    });
    WaitForBatch(worker);
    worker.WaitFor();
    return {worker.RecordsNotWritten(), worker.ErrorText()};
}

/// Where the address column is among `columns` and how many characters it holds, when a restore of
/// `table` must check addresses against it: site rows on a table made before the column was widened.
std::pair<std::size_t, int> NarrowAddressColumn(TVKTDataModule& dm, const std::string& table,
                                                const std::vector<TDbColumn>& columns) {
    const std::size_t none = columns.size();
    if (table != "site") return {none, 0};
    std::size_t at = 0;
    while (at < columns.size() && !SameText(columns[at].Name, "IPaddr"))
        ++at;
    if (at == none) return {none, 0};
    int size = 0;
    try {
        size = AddressColumnSize(dm.conMain.Session(), dm.Dialect());
    } catch (const std::exception&) {
        return {none, 0}; // the database's own refusal then tells
    }
    return size > 0 && size < AddressColumnWidth ? std::pair{at, size} : std::pair{none, 0};
}

/// Where the site code is among `columns` when a restore of `table` makes codes (site and VKT rows),
/// so codes no site may have are refused as the API and apply refuse them; npos for other tables.
std::size_t SiteCodeColumn(const std::string& table, const std::vector<TDbColumn>& columns) {
    const char* name = table == "site" ? "CODE" : table == "vkt" ? "sitecode" : nullptr;
    for (std::size_t at = 0; name != nullptr && at < columns.size(); ++at)
        if (SameText(columns[at].Name, name)) return at;
    return std::string::npos;
}

/// A refused code as the log shows it: control characters as \xNN, since the line is one line of text.
std::string ShownCode(const std::string& code) {
    std::string shown;
    for (unsigned char c : code)
        shown += c < 0x20 || c == 0x7F ? Format("\\x%02X", c) : std::string(1, char(c));
    return shown;
}

} // namespace

bool TfrmDatUtil::SkipTable(const std::string& message) {
    Log(message);
    EnableControls(true);
    return false;
}

long long TfrmDatUtil::FillBatch(TDbBatchSet& dataset, std::istream& in, const std::string& table, long long count,
                                 std::vector<long long>& posted) {
    std::string line;
    TStringList names, values;
    if (ReadLine(in, line)) SplitTabs(AsUtf8(line), names);
    const std::vector<TDbColumn>& columns = dataset.Columns();
    const std::vector<std::size_t> positions = ColumnPositions(columns, names);
    const std::string missing;
    const auto [address, addressSize] = NarrowAddressColumn(m_dm, table, columns);
    const std::size_t code = SiteCodeColumn(table, columns);
    long long failed = 0;
    for (long long record = 1; ReadLine(in, line); ++record) {
        if (count != 0) SetProgress(static_cast<int>(std::lround(static_cast<double>(record) / count * 100)));
        SplitTabs(AsUtf8(line), values);
        try {
            dataset.Append();
            for (std::size_t i = 0; i < columns.size(); ++i) {
                const std::size_t at = positions[i];
                const std::string& value = at < values.size() ? values[at] : missing;
                if (i == address && TrimRight(value).size() > static_cast<std::size_t>(addressSize))
                    throw Exception(AddressTooLongText(TrimRight(value), addressSize));
                if (i == code)
                    if (const std::string problem = SiteCodeProblem(TrimRight(value)); !problem.empty())
                        throw Exception("code \"" + ShownCode(TrimRight(value)) + "\" " + problem);
                dataset.SetValue(i, ColumnValue(value, columns[i].Class));
            }
            dataset.Post();
            posted.push_back(record);
        } catch (const std::exception& e) {
            dataset.Cancel();
            ++failed;
            Log(Format("%s, Record #%lld: %s", table.c_str(), record, StripQuotes(e.what()).c_str()));
        }
        if (record % kLinesPerTurn == 0) ProcessPendingMessages();
    }
    return failed;
}

long long TfrmDatUtil::LogRefusals(const TDbBatchSet& dataset, const std::string& table,
                                   const std::vector<long long>& posted) {
    long long refused = 0;
    for (const TRefusedRow& row : dataset.Refusals()) {
        if (row.Duplicate || row.Row >= posted.size()) continue;
        ++refused;
        Log(Format("%s, Record #%lld: %s", table.c_str(), posted[row.Row], StripQuotes(row.Reason).c_str()));
    }
    return refused;
}

bool TfrmDatUtil::RestoreTable(const std::string& table) {
    EnableControls(false);
    const std::string path = BackupFileName(table);
    std::ifstream in(path, std::ios::binary);
    if (!in) return SkipTable(Format("%s: The file \"%s\" does not exist.", table.c_str(), path.c_str()));
    std::string heading, fileTable;
    long long count = 0;
    if (ReadLine(in, heading)) ParseHeading(heading, fileTable, count);
    if (fileTable != table)
        return SkipTable(
            Format("%s: The file \"%s\" contains an invalid data structure.", table.c_str(), path.c_str()));
    TDbBatchSet dataset(m_dm.conMain);
    try {
        dataset.Open(table);
    } catch (const std::exception& e) {
        return SkipTable(Format("%s: Restore failed: %s", table.c_str(), e.what()));
    }
    std::vector<long long> posted;
    long long failed = FillBatch(dataset, in, table, count, posted);
    SetBusy(Format("Updating %s table. Please wait.. ", table.c_str()), lblBusyVisible);
    const TBatchResult batch = RunBatch(dataset);
    in.close();
    // Only a key already present counts as a duplicate; any other refusal is named with the
    // database's reason, and a batch that failed as a whole (the link lost) says so once.
    const long long refused = LogRefusals(dataset, table, posted);
    long long duplicates = static_cast<long long>(batch.NotWritten) - refused;
    if (duplicates != 0 && dataset.Refusals().empty()) {
        Log(Format("%s: Restore failed: %s", table.c_str(), batch.Error.c_str()));
        failed += duplicates;
        duplicates = 0;
    }
    failed += refused;
    if (duplicates != 0) Log(Format("%s: Duplicate records not restored: %lld", table.c_str(), duplicates));
    if (failed != 0) Log(Format("%s: Records not restored: %lld. Please check error log!", table.c_str(), failed));
    SetProgress(0);
    EnableControls(true);
    return duplicates == 0 && failed == 0;
}
