// Data Utilities controller: the window's state, its commands and the table information grid.
#include "daemon/tfrmdatutil.h"

#include "platform/datetime.h"
#include "platform/msgloop.h"
#include "platform/strutil.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>

namespace {

const char* const kTableEntries[] = {"Alarm log (alarms)", "System codes (codes)", "VKT details (vkt)",
                                     "System administrators (operator)", "Site details (site)"};
const char* const kGridHeadings[TDatUtilGrid::ColCount] = {"Table Name", "Table Records", "Last Backup", "Records"};

bool IsDirectory(const std::string& path) {
    std::error_code ec;
    return !path.empty() && std::filesystem::is_directory(path, ec);
}

/// "d mmm yyyy" of a file's last change, month abbreviated as the C locale writes it.
std::string LastModified(const std::string& path) {
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return "";
    const DateParts d = DecodeDateTime(DateTimeFromTimeT(st.st_mtime));
    return Format("%d %s %d", d.day, months[d.month - 1], d.year);
}

/// The "Records=" value of a backup file's heading line: everything after the first tab and the
/// eight characters of "Records=" (or from the ninth character when there is no tab).
std::string HeadingRecords(const std::string& heading) {
    const std::size_t tab = heading.find('\t');
    const std::size_t from = tab == std::string::npos ? 8 : tab + 9;
    return from < heading.size() ? heading.substr(from) : "";
}

} // namespace

TfrmDatUtil::TfrmDatUtil(TVKTDataModule& dataModule) : m_dm(dataModule) {
    FormCreate();
}

void TfrmDatUtil::FormCreate() {
    txtBackupDir = ReadBackupDir();
    RefreshTableInfo();
    lstDBName.clear();
    for (const char* entry : kTableEntries)
        lstDBName.push_back({entry, false});
    pagUtils = TUtilsPage::Control;
    pagData = TDataPage::Table;
    for (auto& row : grdData.Cells)
        row.fill("");
    for (int col = 0; col < TDatUtilGrid::ColCount; ++col)
        grdData.Cells[0][col] = kGridHeadings[col];
}

std::string TfrmDatUtil::TableNameOf(const std::string& entry) {
    const std::size_t open = entry.find('(');
    const std::size_t close = entry.find(')');
    if (open == std::string::npos || close == std::string::npos || close < open) return "";
    return entry.substr(open + 1, close - open - 1);
}

std::vector<std::string> TfrmDatUtil::CheckedTables() const {
    std::vector<std::string> tables;
    for (const TCheckListEntry& entry : lstDBName)
        if (entry.Checked) tables.push_back(TableNameOf(entry.Text));
    return tables;
}

std::string TfrmDatUtil::BackupFileName(const std::string& table) const {
    return txtBackupDir + "/" + table + ".svb";
}

void TfrmDatUtil::Log(const std::string& message) {
    // One message, one line: provider messages can span several.
    std::string flat;
    for (char c : message) {
        if (c == '\r') continue;
        flat += c == '\n' ? ' ' : c;
    }
    const std::string line = FormatDateTime("yy-mm-dd hh:nn ", Now()) + flat;
    memLog.AddLine(line);
    if (OnLog) OnLog(line);
}

void TfrmDatUtil::Changed() {
    if (OnChange) OnChange();
}

void TfrmDatUtil::SetProgress(int percent) {
    percent = std::clamp(percent, 0, 100);
    if (percent == ProgBar) return;
    ProgBar = percent;
    Changed();
}

void TfrmDatUtil::SetBusy(const std::string& text, bool visible) {
    lblBusy = text;
    lblBusyVisible = visible;
    Changed();
}

bool TfrmDatUtil::Confirm(const std::string& question) {
    return OnConfirm && OnConfirm(question);
}

void TfrmDatUtil::EnableControls(bool enabled) {
    lstDBNameEnabled = enabled;
    for (TDatUtilButton* button : {&btnClear, &btnBackup, &btnRestore, &btnInfo, &btnAll})
        button->Enabled = enabled;
    txtBackupDirEnabled = enabled;
    pagDataEnabled = enabled;
    ProgBar = 0;
    Changed();
}

void TfrmDatUtil::btnBackupClick() {
    memLog.Clear();
    m_complete = true;
    EnableControls(false);
    SetBusy(lblBusy, true);
    for (const std::string& table : CheckedTables()) {
        SetBusy(Format("Backing up %s table. Please wait..", table.c_str()), true);
        m_complete &= BackupTable(table, txtBackupDir, true);
    }
    EnableControls(true);
    SetBusy(lblBusy, false);
    pagData = TDataPage::Info;
    RefreshTableInfo();
    if (memLog.LineCount() > 0) pagUtils = TUtilsPage::Log; // a failed table says why there
}

void TfrmDatUtil::btnRestoreClick() {
    memLog.Clear();
    m_complete = true;
    if (!Confirm(RestoreQuestion)) return;
    EnableControls(false);
    SetBusy(lblBusy, true);
    for (const std::string& table : CheckedTables()) {
        SetBusy(Format("Restoring %s table. Please wait.. ", table.c_str()), true);
        m_complete &= RestoreTable(table);
    }
    RefreshTableInfo();
    EnableControls(true);
    if (memLog.LineCount() > 0) pagUtils = TUtilsPage::Log;
    SetBusy(lblBusy, false);
}

void TfrmDatUtil::btnClearClick() {
    memLog.Clear();
    m_complete = true;
    if (!Confirm(ClearQuestion)) return;
    EnableControls(false);
    for (const std::string& table : CheckedTables())
        m_complete &= RecreateTable(table);
    EnableControls(true);
    RefreshTableInfo();
}

void TfrmDatUtil::btnAllClick() {
    const bool select = btnAll.Caption == "Select All";
    btnAll.Caption = select ? "Deselect All" : "Select All";
    for (TCheckListEntry& entry : lstDBName)
        entry.Checked = select;
    RefreshTableInfo();
}

void TfrmDatUtil::btnInfoClick() {
    pagData = TDataPage::Info;
    Changed();
}

void TfrmDatUtil::lstDBNameClickCheck() {
    RefreshTableInfo();
}

long long TfrmDatUtil::TableRecordCount(const std::string& table) {
    OpenStatement(m_dm.adoQ2, {Format("SELECT COUNT(*) AS RecCount FROM %s ", table.c_str())});
    const long long count = m_dm.adoQ2.FieldByName("RecCount").AsInteger();
    m_dm.adoQ2.Close();
    return count;
}

void TfrmDatUtil::RefreshTableInfo() {
    const bool haveDir = IsDirectory(txtBackupDir);
    btnBackup.Enabled = btnRestore.Enabled = btnAll.Enabled = haveDir;
    for (int row = 1; row < TDatUtilGrid::RowCount; ++row)
        grdData.Cells[row].fill("");
    int row = 1;
    for (const std::string& table : CheckedTables()) {
        if (row >= TDatUtilGrid::RowCount) break;
        auto& cells = grdData.Cells[row++];
        const std::string path = BackupFileName(table);
        std::error_code ec;
        if (!std::filesystem::exists(path, ec)) {
            cells[3] = "None";
            btnRestore.Enabled = false;
        } else {
            cells[2] = LastModified(path);
            std::ifstream in(path, std::ios::binary);
            std::string heading;
            if (in && std::getline(in, heading)) {
                if (!heading.empty() && heading.back() == '\r') heading.pop_back();
                cells[3] = HeadingRecords(heading);
            }
        }
        cells[0] = table;
        try {
            cells[1] = IntToStr(TableRecordCount(table));
        } catch (const std::exception&) {
            cells[1] = "0";
        }
    }
    Changed();
}

bool TfrmDatUtil::RecreateTable(const std::string& table) {
    TTableScript script;
    if (!m_dm.TableScripts(table, script)) return true;
    try {
        ExecStatement(m_dm.adoQ2, script.Drop);
        ExecStatement(m_dm.adoQ2, script.Create);
        ExecStatement(m_dm.adoQ2, script.Index);
        m_dm.adoQ2.Close();
        return true;
    } catch (const std::exception& e) {
        m_dm.adoQ2.Close();
        Log(Format("%s: Unable to clear the table: %s", table.c_str(), e.what()));
        return false;
    }
}

void TfrmDatUtil::ProcessPendingMessages() {
    if (HasMainLoop()) MainLoop().ProcessMessages();
}
