// The setup wizard dialog over TfrmInstall, and its directory chooser.
#pragma once

#include <QDialog>

#include <map>
#include <string>

class QLineEdit;
class QSpinBox;
class TfrmInstall;

class TfrmInstallView : public QDialog {
public:
    explicit TfrmInstallView(TfrmInstall& wizard, QWidget* parent = nullptr);

    /// The input controls by their names (txtDaemon, spnpoll, ...).
    QWidget* Control(const std::string& name) const;
    /// OK: writes the settings; a failed write shows the error and keeps the dialog open.
    void btnOKClick();
    void btnBrowseClick();

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildFields(class QGridLayout* grid);
    QWidget* MakeControl(const struct TInstallField& field);
    void Load();
    static void LoadText(QLineEdit* edit, int maxLength, const std::string& value);
    void Store();
    static void StoreText(const QLineEdit* edit, std::string& value);
    void txtNetPortExit();

    TfrmInstall& m_wizard;
    std::map<std::string, QWidget*> m_controls;
    bool m_loaded = false;
};

/// "Select Directory": a path field and a directory tree. OK applies the wizard's rule (a
/// missing directory is created after confirmation; No keeps the chooser open).
class TSelectDirectoryDialog : public QDialog {
public:
    TSelectDirectoryDialog(TfrmInstall& wizard, const QString& start, QWidget* parent);
    QLineEdit* PathField() const { return m_path; }
    void accept() override;

private:
    TfrmInstall& m_wizard;
    QLineEdit* m_path;
};
