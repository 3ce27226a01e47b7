// Tray icon state.
#include "daemon/ttrayicon.h"

void TTrayIcon::SetActive(bool active) {
    if (active == m_active) return;
    m_active = active;
    Changed();
}

void TTrayIcon::SetIcon(const std::string& icon) {
    if (icon == m_icon) return;
    m_icon = icon;
    Changed();
}

void TTrayIcon::SetToolTip(const std::string& text) {
    m_toolTip = text.substr(0, MaxToolTip);
    Changed();
}

void TTrayIcon::Changed() {
    if (OnChange) OnChange();
}
