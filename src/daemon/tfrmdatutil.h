// The Data Utilities controller: backs up, restores and re-creates the five tables and shows their
// record counts. It holds what the window shows (table list, buttons, grid, progress, Log page); the
// Qt window and the vkt-datutil command line render it and forward the user's actions.
#pragma once

#include "platform/tmemo.h"
#include "db/data.h"

#include <array>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

struct DatUtilTableArgs;

struct TDatUtilButton {
    std::string Caption;
    std::string Hint;
    bool Enabled = true;
};

struct TCheckListEntry {
    std::string Text;
    bool Checked = false;
};

/// The information grid: a fixed heading row and nine data rows of four columns.
struct TDatUtilGrid {
    static constexpr int ColCount = 4;
    static constexpr int RowCount = 10;
    static constexpr std::array<int, ColCount> ColWidths{94, 77, 168, 88};
    std::array<std::array<std::string, ColCount>, RowCount> Cells;
};

class TfrmDatUtil {
public:
    enum class TUtilsPage { Control, Log };
    enum class TDataPage { Table, Info };

    /// Creates the window's state (FormCreate) on the data module's connection.
    explicit TfrmDatUtil(TVKTDataModule& dataModule);

    std::string Caption = "Data Utilities";
    TUtilsPage pagUtils = TUtilsPage::Control;
    TDataPage pagData = TDataPage::Table;
    bool pagDataEnabled = true;
    TDatUtilButton btnBackup{"Backup", "Backup selected tables"};
    TDatUtilButton btnRestore{"Restore", "Restore selected tables"};
    TDatUtilButton btnClear{"Clear", "Clear and recreate table structures"};
    TDatUtilButton btnAll{"Select All", ""};
    TDatUtilButton btnInfo{"Table Info", "View selected tables information"};
    std::vector<TCheckListEntry> lstDBName;
    bool lstDBNameEnabled = true;
    std::string txtBackupDir;
    bool txtBackupDirEnabled = true;
    TDatUtilGrid grdData;
    std::string lblBusy;
    bool lblBusyVisible = false;
    int ProgBar = 0;
    TMemo memLog;

    static constexpr const char* RestoreQuestion =
        "This function will re-load ALL data tables with data from the corresponding backup files. Are you sure "
        "you want to continue?";
    static constexpr const char* ClearQuestion =
        "This function will cause the selected data tables to be cleared. Are you sure you want to continue?";

    /// Asks a Yes/No warning question; true for Yes. Without one every question is answered No.
    std::function<bool(const std::string& question)> OnConfirm;
    /// Called after each line the Log receives (with the line as shown).
    std::function<void(const std::string& line)> OnLog;
    /// Called when the progress bar, the busy label or the controls' state change (a view repaints).
    std::function<void()> OnChange;

    void FormCreate();
    void btnBackupClick();
    void btnRestoreClick();
    void btnClearClick();
    void btnAllClick();
    void btnInfoClick();
    void lstDBNameClickCheck();

    void EnableControls(bool enabled);
    /// Writes the backup file of one table; false when it was not written.
    bool BackupTable(const std::string& table, const std::string& directory, bool showProgress);
    /// Appends the records of the table's backup file; false when the table was skipped or any
    /// record was not restored.
    bool RestoreTable(const std::string& table);
    /// Drops the table and creates it again, empty, with its unique index; false when that failed.
    bool RecreateTable(const std::string& table);
    void RefreshTableInfo();

    /// The table name of a list entry: the text between its first "(" and first ")".
    static std::string TableNameOf(const std::string& entry);
    /// The checked tables, in list order.
    std::vector<std::string> CheckedTables() const;
    /// The backup file of a table: directory, "/", table name, ".svb".
    std::string BackupFileName(const std::string& table) const;
    /// Whether the last Backup, Restore or Clear did everything it was asked (no table skipped, no
    /// record lost).
    bool LastCommandComplete() const { return m_complete; }

private:
    void Log(const std::string& message);
    void SetProgress(int percent);
    void SetBusy(const std::string& text, bool visible);
    void Changed();
    void BackupRecords(std::ostream& out, const std::string& table, long long count, bool showProgress);
    long long TableRecordCount(const std::string& table);
    /// Appends a record per remaining line of the file to the batch; returns the records that failed.
    /// `posted` gets the line number of every record that went into the batch, in batch order.
    long long FillBatch(TDbBatchSet& dataset, std::istream& in, const std::string& table, long long count,
                        std::vector<long long>& posted);
    /// Logs each record the database refused for another reason than a duplicate key; returns how many.
    long long LogRefusals(const TDbBatchSet& dataset, const std::string& table, const std::vector<long long>& posted);
    /// Logs why a table is skipped and gives the controls back; false.
    bool SkipTable(const std::string& message);
    bool Confirm(const std::string& question);
    /// A turn of the message loop between records of a long backup or restore, so the window keeps painting.
    static void ProcessPendingMessages();

    TVKTDataModule& m_dm;
    bool m_complete = true;
};

/// vkt-datutil backup, restore, clear or info on the connected data module, shown on the terminal;
/// returns the exit status.
int RunDatUtilTableCommand(TVKTDataModule& dm, const DatUtilTableArgs& args);
