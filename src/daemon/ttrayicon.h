// The notification-area icon's state: whether it is shown, its picture and its tooltip.
// A view (the Qt tray icon) renders it; headless it is only state.
#pragma once

#include <functional>
#include <string>

class TTrayIcon {
public:
    bool Active() const { return m_active; }
    void SetActive(bool active);
    /// Name of the icon resource shown ("ICON_NET_ON" at design time).
    const std::string& Icon() const { return m_icon; }
    void SetIcon(const std::string& icon);
    const std::string& ToolTip() const { return m_toolTip; }
    /// Keeps at most the first 62 characters.
    void SetToolTip(const std::string& text);

    std::function<void()> OnClick;
    std::function<void()> OnDblClick;
    std::function<void(int x, int y)> OnRightClick;
    /// Called after every change of Active, Icon or ToolTip.
    std::function<void()> OnChange;

    static constexpr std::size_t MaxToolTip = 62;

private:
    void Changed();
    bool m_active = false;
    std::string m_icon = "ICON_NET_ON";
    std::string m_toolTip;
};
