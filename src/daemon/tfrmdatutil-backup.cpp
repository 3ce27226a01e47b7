// Data Utilities controller: writing a table's backup file.
#include "daemon/tfrmdatutil.h"

#include "platform/msgloop.h"
#include "platform/strutil.h"

#include <cmath>
#include <cstdio>
#include <fstream>
#include <string_view>

namespace {

/// Records written between two turns of the message loop: often enough that the window keeps
/// painting, rarely enough that the loop costs nothing next to the file writes.
constexpr std::size_t kRecordsPerTurn = 256;

bool BreaksFormat(std::string_view value) {
    return value.find_first_of("\t\r\n") != std::string::npos;
}

} // namespace

void TfrmDatUtil::BackupRecords(std::ostream& out, const std::string& table, long long count, bool showProgress) {
    TDbQuery& query = m_dm.adoQ2;
    const std::vector<TDbColumn>& columns = query.Columns();
    std::string block;
    for (std::size_t i = 0; i < columns.size(); ++i)
        block += (i ? "\t" : "") + columns[i].Name;
    block += "\r\n";
    // Records are gathered into blocks of about this many bytes, each written to the file at once.
    constexpr std::size_t kBlockBytes = 1 << 16;
    for (std::size_t record = 0; !query.Eof(); query.Next(), ++record) {
        if (record % kRecordsPerTurn == 0) ProcessPendingMessages();
        std::string broken;
        for (std::size_t i = 0; i < columns.size(); ++i) {
            if (i) block += '\t';
            const std::size_t start = block.size();
            query.Value(i).AppendTo(block);
            if (columns[i].Class == TFieldClass::Text && broken.empty() &&
                BreaksFormat(std::string_view(block).substr(start)))
                broken = columns[i].Name;
        }
        block += "\r\n";
        if (block.size() >= kBlockBytes) {
            out.write(block.data(), static_cast<std::streamsize>(block.size()));
            block.clear();
        }
        if (!broken.empty())
            Log(Format("%s, Record #%zu: the value of %s contains a tab or line break and will not restore intact",
                       table.c_str(), record + 1, broken.c_str()));
        if (showProgress && count > 0)
            SetProgress(static_cast<int>(std::lround(static_cast<double>(record) / count * 100)));
    }
    out.write(block.data(), static_cast<std::streamsize>(block.size()));
}

bool TfrmDatUtil::BackupTable(const std::string& table, const std::string& directory, bool showProgress) {
    if (showProgress) EnableControls(false);
    const std::string path = Trim(directory) + "/" + table + ".svb";
    // Written beside the real file and renamed over it when complete, so a failed backup never
    // replaces the last good one.
    const std::string partial = path + ".part";
    bool written = false;
    try {
        OpenStatement(m_dm.adoQ2, {Format("SELECT COUNT(*) FROM %s", table.c_str())});
        const long long count = m_dm.adoQ2.Eof() ? 0 : m_dm.adoQ2.Value(0).AsInteger();
        OpenStatement(m_dm.adoQ2, {Format("SELECT * FROM %s", table.c_str())});
        std::ofstream out(partial, std::ios::binary | std::ios::trunc);
        if (!out) throw EInOutError(Format("Unable to create the file \"%s\"", partial.c_str()));
        out << "Table=" << table << "\tRecords=" << count << "\r\n";
        BackupRecords(out, table, count, showProgress);
        out.close();
        if (!out) throw EInOutError(Format("Unable to write the file \"%s\"", partial.c_str()));
        if (std::rename(partial.c_str(), path.c_str()) != 0)
            throw EInOutError(Format("Unable to replace the file \"%s\"", path.c_str()));
        written = true;
    } catch (const std::exception& e) {
        std::remove(partial.c_str());
        Log(Format("%s: Backup failed: %s", table.c_str(), e.what()));
    }
    m_dm.adoQ2.Close();
    if (showProgress) {
        SetProgress(0);
        EnableControls(true);
    }
    return written;
}
