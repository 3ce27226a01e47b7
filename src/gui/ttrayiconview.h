// The tray icon component over QSystemTrayIcon: shows the TTrayIcon's state and forwards
// its mouse callbacks (click, double click, right click with the popup menu).
#pragma once

#include <QObject>
#include <QSystemTrayIcon>

#include <string>

class QMenu;
class TTrayIcon;

class TTrayIconView : public QObject {
public:
    /// `popupMenu` (not owned) opens on a right click.
    TTrayIconView(TTrayIcon& model, QMenu* popupMenu);
    ~TTrayIconView() override;

    QSystemTrayIcon& Icon() { return m_icon; }
    /// Called after the picture changed (the console copies it into its window icon).
    std::function<void(const std::string& name)> OnIconChanged;

private:
    void Sync();
    void Activated(QSystemTrayIcon::ActivationReason reason);
    TTrayIcon& m_model;
    QSystemTrayIcon m_icon;
    std::string m_shownIcon;
};
