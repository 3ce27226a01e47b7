// The notification-area icon's state: whether it is shown, its picture and its tooltip.
// A view (the Qt tray icon) renders it; headless it is only state.
#pragma once

#include <functional>
#include <memory>
#include <string>

class TTrayIcon {
public:
    TTrayIcon() = default;
    ~TTrayIcon();
    TTrayIcon(const TTrayIcon&) = delete;
    TTrayIcon& operator=(const TTrayIcon&) = delete;

    /// Becoming active with an empty tooltip posts a re-application of the tooltip to the
    /// message loop, so that a tooltip set just after activation reaches the tray as well.
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
    /// Expires with the component, so a posted re-application never outlives it.
    std::shared_ptr<TTrayIcon*> m_self = std::make_shared<TTrayIcon*>(this);
};
