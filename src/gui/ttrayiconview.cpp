// Tray icon view.
#include "gui/ttrayiconview.h"

#include "daemon/ttrayicon.h"
#include "gui/dialogs.h"
#include "gui/resources.h"

#include <QCursor>
#include <QMenu>

TTrayIconView::TTrayIconView(TTrayIcon& model, QMenu* popupMenu) : m_model(model) {
    m_icon.setContextMenu(popupMenu);
    connect(&m_icon, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason r) { RunCommand([&] { Activated(r); }); });
    m_model.OnChange = [this] { OnViewThread(this, [this] { Sync(); }); };
    Sync();
}

TTrayIconView::~TTrayIconView() {
    m_model.OnChange = nullptr;
    m_icon.hide();
}

void TTrayIconView::Sync() {
    if (m_model.Icon() != m_shownIcon) {
        m_shownIcon = m_model.Icon();
        m_icon.setIcon(ResourceIcon(m_shownIcon));
        if (OnIconChanged) OnIconChanged(m_shownIcon);
    }
    m_icon.setToolTip(QString::fromStdString(m_model.ToolTip()));
    m_icon.setVisible(m_model.Active());
}

void TTrayIconView::Activated(QSystemTrayIcon::ActivationReason reason) {
    switch (reason) {
    case QSystemTrayIcon::Trigger:
        if (m_model.OnClick) m_model.OnClick();
        break;
    case QSystemTrayIcon::DoubleClick:
        if (m_model.OnDblClick) m_model.OnDblClick();
        break;
    case QSystemTrayIcon::Context:
        if (m_model.OnRightClick) m_model.OnRightClick(QCursor::pos().x(), QCursor::pos().y());
        break;
    default:
        break;
    }
}
