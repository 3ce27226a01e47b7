// The console window over TfrmMain: lime top bar, black log pane, status bar, the System and
// About menus, the tray icon with its popup menu, and the About windows it opens.
#pragma once

#include <QMainWindow>

#include <map>
#include <memory>

class QAction;
class QFrame;
class QMenu;
class QPlainTextEdit;
class TfrmMain;
class TfrmAbout;
struct TMenuItem;
class TTrayIconView;

class TfrmMainView : public QMainWindow {
public:
    explicit TfrmMainView(TfrmMain& form);
    ~TfrmMainView() override;

    /// The menu entries by their item names (mnuForce, mnuDataUtilities, ..., mnu, mnupopShutDown).
    QAction* Item(const std::string& name) const;
    QMenu* PopupMenu() const { return m_popup; }
    QPlainTextEdit* LogPane() const { return m_memLog; }
    TTrayIconView& Tray() { return *m_tray; }
    /// Client area of the console (without the menu bar).
    static constexpr int ClientWidth = 641, ClientHeight = 266;

protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void BuildMenus();
    QAction* AddItem(QMenu* menu, const char* name, void (TfrmMain::*command)());
    /// The controller's menu item of a name (nullptr for the separator).
    const TMenuItem* MenuItem(const std::string& name) const;
    void Sync();
    void SyncLog();
    void ShowRestored();
    void BringToFront();
    void OpenAbout(TfrmAbout& about);
    void OpenHelp();

    TfrmMain& m_form;
    QFrame* m_shape1 = nullptr;
    QPlainTextEdit* m_memLog = nullptr;
    QMenu* m_popup = nullptr;
    std::map<std::string, QAction*> m_items;
    std::unique_ptr<TTrayIconView> m_tray;
    bool m_centred = false;
};
