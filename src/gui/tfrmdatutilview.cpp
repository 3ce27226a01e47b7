// The Data Utilities window: widgets laid out as the window has always looked, filled from the
// controller after every change; user actions go to the controller's handlers.
#include "gui/tfrmdatutilview.h"

#include "gui/dialogs.h"

#include <QApplication>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTabBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

} // namespace

void ShowDataUtilitiesModal(QWidget* parent) {
    if (!DataModule()) return;
    TfrmDatUtilView window(*DataModule(), parent);
    window.exec();
}

TfrmDatUtilView::TfrmDatUtilView(TVKTDataModule& dataModule, QWidget* parent) : QDialog(parent), m_form(dataModule) {
    setWindowTitle(Q(m_form.Caption));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowCloseButtonHint);
    setFixedSize(489, 434);
    m_pagUtils = new QTabWidget(this);
    m_pagUtils->setDocumentMode(true);
    m_pagUtils->tabBar()->setStyleSheet("QTabBar::tab { width: 100px; }");
    m_pagUtils->addTab(BuildControlPage(), "Control");
    m_memLog = new QPlainTextEdit;
    m_memLog->setReadOnly(true);
    m_memLog->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_memLog->setFont(QFont("Courier"));
    m_memLog->setStyleSheet("QPlainTextEdit { color: black; background: palette(button); }");
    m_pagUtils->addTab(m_memLog, "Log");
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_pagUtils);
    // Pages the user picks are the controller's pages too, so the next repaint keeps them.
    connect(m_pagUtils, &QTabWidget::currentChanged, this, [this](int index) {
        if (!m_rendering)
            m_form.pagUtils = index == 1 ? TfrmDatUtil::TUtilsPage::Log : TfrmDatUtil::TUtilsPage::Control;
    });
    connect(m_pagData, &QTabWidget::currentChanged, this, [this](int index) {
        if (!m_rendering) m_form.pagData = index == 1 ? TfrmDatUtil::TDataPage::Info : TfrmDatUtil::TDataPage::Table;
    });
    m_form.OnConfirm = [this](const std::string& question) { return Ask(question); };
    m_form.OnChange = [this] { Render(); };
    m_form.memLog.OnChange = [this] { m_memLog->setPlainText(Q(m_form.memLog.Text())); };
    RenderList();
    Render();
    if (QScreen* screen = QGuiApplication::primaryScreen()) move(screen->geometry().center() - rect().center());
}

QWidget* TfrmDatUtilView::BuildControlPage() {
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    m_pagData = new QTabWidget;
    m_pagData->setTabPosition(QTabWidget::South);
    m_pagData->addTab(BuildTablePage(), "       Sentrova Database      ");
    m_grid = new QTableWidget(TDatUtilGrid::RowCount - 1, TDatUtilGrid::ColCount);
    m_grid->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_grid->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_grid->verticalHeader()->hide();
    m_grid->setStyleSheet("QTableWidget { background: navy; color: white; font-weight: bold; }");
    for (int col = 0; col < TDatUtilGrid::ColCount; ++col)
        m_grid->setColumnWidth(col, TDatUtilGrid::ColWidths[col]);
    m_pagData->addTab(m_grid, "       Table Information         ");
    layout->addWidget(m_pagData);
    auto* dirBox = new QGroupBox("Database Backup Directory");
    auto* dirLayout = new QHBoxLayout(dirBox);
    m_dir = new QLineEdit;
    m_dir->setReadOnly(true);
    m_dir->setStyleSheet("QLineEdit { background: palette(button); }");
    dirLayout->addWidget(m_dir);
    layout->addWidget(dirBox);
    m_busy = new QLabel;
    layout->addWidget(m_busy);
    m_progress = new QProgressBar;
    m_progress->setRange(0, 100);
    m_progress->setFixedHeight(9);
    m_progress->setTextVisible(false);
    layout->addWidget(m_progress);
    return page;
}

QWidget* TfrmDatUtilView::BuildTablePage() {
    auto* group = new QGroupBox(" Select tables for restore / backup  ");
    auto* layout = new QVBoxLayout(group);
    auto* row = new QHBoxLayout;
    row->addWidget(AddButton(m_form.btnBackup, &TfrmDatUtil::btnBackupClick));
    row->addWidget(AddButton(m_form.btnRestore, &TfrmDatUtil::btnRestoreClick));
    row->addWidget(AddButton(m_form.btnClear, &TfrmDatUtil::btnClearClick));
    row->addWidget(AddButton(m_form.btnAll, &TfrmDatUtil::btnAllClick));
    row->addWidget(AddButton(m_form.btnInfo, &TfrmDatUtil::btnInfoClick));
    layout->addLayout(row);
    m_list = new QListWidget;
    m_list->setToolTip("List of Sentrova tables available.");
    connect(m_list, &QListWidget::itemChanged, this, [this](QListWidgetItem* item) {
        if (m_rendering) return;
        m_form.lstDBName.at(static_cast<std::size_t>(m_list->row(item))).Checked = item->checkState() == Qt::Checked;
        RunCommand([this] { m_form.lstDBNameClickCheck(); });
    });
    layout->addWidget(m_list);
    return group;
}

QPushButton* TfrmDatUtilView::AddButton(TDatUtilButton& state, void (TfrmDatUtil::*command)()) {
    auto* button = new QPushButton(Q(state.Caption));
    button->setFixedSize(83, 45);
    if (!state.Hint.empty()) button->setToolTip(Q(state.Hint));
    connect(button, &QPushButton::clicked, this, [this, command] {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        // A command that throws is reported like a loop job's error; the cursor and the view recover.
        RunCommand([this, command] { (m_form.*command)(); });
        QApplication::restoreOverrideCursor();
        RenderList();
        Render();
    });
    m_buttons.emplace_back(button, &state);
    return button;
}

QPushButton* TfrmDatUtilView::Button(const std::string& caption) const {
    for (const auto& [button, state] : m_buttons)
        if (state->Caption == caption) return button;
    return nullptr;
}

bool TfrmDatUtilView::Ask(const std::string& question) {
    QApplication::restoreOverrideCursor();
    const bool yes =
        QMessageBox::warning(this, "Warning", Q(question), QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    return yes;
}

void TfrmDatUtilView::RenderList() {
    m_rendering = true;
    if (m_list->count() != static_cast<int>(m_form.lstDBName.size())) {
        m_list->clear();
        for (const TCheckListEntry& entry : m_form.lstDBName)
            m_list->addItem(Q(entry.Text));
    }
    for (int i = 0; i < m_list->count(); ++i) {
        QListWidgetItem* item = m_list->item(i);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(m_form.lstDBName[static_cast<std::size_t>(i)].Checked ? Qt::Checked : Qt::Unchecked);
    }
    m_rendering = false;
}

void TfrmDatUtilView::Render() {
    for (const auto& [button, state] : m_buttons) {
        button->setText(Q(state->Caption));
        button->setEnabled(state->Enabled);
    }
    m_list->setEnabled(m_form.lstDBNameEnabled);
    m_dir->setText(Q(m_form.txtBackupDir));
    m_dir->setEnabled(m_form.txtBackupDirEnabled);
    m_pagData->setEnabled(m_form.pagDataEnabled);
    m_rendering = true;
    m_pagData->setCurrentIndex(m_form.pagData == TfrmDatUtil::TDataPage::Info ? 1 : 0);
    m_pagUtils->setCurrentIndex(m_form.pagUtils == TfrmDatUtil::TUtilsPage::Log ? 1 : 0);
    m_rendering = false;
    QStringList headings;
    for (int col = 0; col < TDatUtilGrid::ColCount; ++col)
        headings << Q(m_form.grdData.Cells[0][col]);
    m_grid->setHorizontalHeaderLabels(headings);
    for (int row = 1; row < TDatUtilGrid::RowCount; ++row)
        for (int col = 0; col < TDatUtilGrid::ColCount; ++col)
            m_grid->setItem(row - 1, col, new QTableWidgetItem(Q(m_form.grdData.Cells[row][col])));
    m_busy->setText(Q(m_form.lblBusy));
    m_busy->setVisible(m_form.lblBusyVisible);
    m_progress->setValue(m_form.ProgBar);
    // A long backup or restore keeps painting; user input waits, the controls are disabled anyway.
    QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}
