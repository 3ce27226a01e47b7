// Tray icon state.
#include "daemon/ttrayicon.h"

#include "platform/msgloop.h"

TTrayIcon::~TTrayIcon() {
    SetActive(false);
}

void TTrayIcon::SetActive(bool active) {
    if (active == m_active) return;
    m_active = active;
    Changed();
    if (active && m_toolTip.empty() && HasMainLoop()) {
        std::weak_ptr<TTrayIcon*> self = m_self;
        MainLoop().Post([self] {
            if (auto alive = self.lock()) (*alive)->SetToolTip((*alive)->m_toolTip);
        });
    }
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
