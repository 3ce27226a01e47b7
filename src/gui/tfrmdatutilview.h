// The Data Utilities window: a Qt view of the TfrmDatUtil controller.
#pragma once

#include "daemon/tfrmdatutil.h"

#include <QDialog>

class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTableWidget;
class QTabWidget;

/// Opens the Data Utilities window modally on the application's data module and releases it when
/// it closes.
void ShowDataUtilitiesModal(QWidget* parent);

class TfrmDatUtilView : public QDialog {
public:
    TfrmDatUtilView(TVKTDataModule& dataModule, QWidget* parent);

    TfrmDatUtil& Controller() { return m_form; }
    QPushButton* Button(const std::string& caption) const;
    QListWidget* TableList() const { return m_list; }
    QTableWidget* Grid() const { return m_grid; }
    QTabWidget* UtilsPages() const { return m_pagUtils; }
    QPlainTextEdit* LogPane() const { return m_memLog; }

private:
    QWidget* BuildControlPage();
    QWidget* BuildTablePage();
    void Render();
    void RenderList();
    QPushButton* AddButton(TDatUtilButton& state, void (TfrmDatUtil::*command)());
    bool Ask(const std::string& question);

    TfrmDatUtil m_form;
    std::vector<std::pair<QPushButton*, TDatUtilButton*>> m_buttons;
    QTabWidget* m_pagUtils = nullptr;
    QTabWidget* m_pagData = nullptr;
    QListWidget* m_list = nullptr;
    QTableWidget* m_grid = nullptr;
    QLineEdit* m_dir = nullptr;
    QLabel* m_busy = nullptr;
    QProgressBar* m_progress = nullptr;
    QPlainTextEdit* m_memLog = nullptr;
    bool m_rendering = false;
};
