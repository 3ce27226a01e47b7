// Console window view: renders the console controller and forwards the user's commands.
#include "gui/tfrmmainview.h"

#include "daemon/tfrmabout.h"
#include "daemon/tfrmmain.h"
#include "gui/dialogs.h"
#include "gui/resources.h"
#include "gui/tfrmaboutview.h"
#include "gui/tfrmdatutilview.h"
#include "gui/ttrayiconview.h"

#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QScreen>
#include <QScrollBar>
#include <QStandardPaths>
#include <QStatusBar>
#include <QUrl>
#include <QVBoxLayout>

namespace {

QFont TerminalFont() {
    QFont font(QStringLiteral("Terminal"));
    font.setStyleHint(QFont::TypeWriter);
    font.setFamilies({QStringLiteral("Terminal"), QStringLiteral("DejaVu Sans Mono"), QStringLiteral("Monospace")});
    font.setPixelSize(12);
    return font;
}

} // namespace

TfrmMainView::TfrmMainView(TfrmMain& form) : m_form(form) {
    setObjectName(QStringLiteral("frmMain"));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMaximizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setWindowIcon(ResourceIcon("MAINICON"));
    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    m_shape1 = new QFrame(central);
    m_shape1->setObjectName(QStringLiteral("Shape1"));
    m_shape1->setFixedHeight(3);
    m_shape1->setAutoFillBackground(true);
    m_shape1->setPalette(QPalette(QColor(0, 255, 0)));
    m_shape1->setStyleSheet(QStringLiteral("background-color: #00ff00;"));
    m_memLog = new QPlainTextEdit(central);
    m_memLog->setObjectName(QStringLiteral("memLog"));
    m_memLog->setReadOnly(true);
    m_memLog->setFrameShape(QFrame::NoFrame);
    m_memLog->setFont(TerminalFont());
    m_memLog->setStyleSheet(QStringLiteral("QPlainTextEdit { background-color: #000000; color: #c0c0c0; }"));
    layout->addWidget(m_shape1);
    layout->addWidget(m_memLog);
    setCentralWidget(central);
    statusBar()->setObjectName(QStringLiteral("barStatus"));
    statusBar()->setFixedHeight(19);
    statusBar()->setSizeGripEnabled(false);
    BuildMenus();
    setFixedSize(ClientWidth, ClientHeight + menuBar()->sizeHint().height());

    m_tray = std::make_unique<TTrayIconView>(m_form.trayIcon, m_popup);
    m_tray->OnIconChanged = [this](const std::string& name) {
        setWindowIcon(ResourceIcon(name));
        QGuiApplication::setWindowIcon(windowIcon());
    };
    // A double click on the tray icon or "Show Console" brings the console to the front even when
    // it is already shown under other windows (then its state does not change, so Sync would not).
    connect(&m_tray->Icon(), &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason r) {
        if (r == QSystemTrayIcon::DoubleClick) BringToFront();
    });
    connect(Item("mnu"), &QAction::triggered, this, [this] { BringToFront(); });
    m_form.memLog.OnChange = [this] { OnViewThread(this, [this] { SyncLog(); }); };
    m_form.OnChange = [this] { OnViewThread(this, [this] { Sync(); }); };
    m_form.OnAboutCreated = [this](TfrmAbout& about) { OpenAbout(about); };
    m_form.OnHelp = [this](const std::string&, const std::string&) { OpenHelp(); };
    m_form.OnDataUtilities = [this] { ShowDataUtilitiesModal(this); };
    SyncLog();
    Sync();
}

TfrmMainView::~TfrmMainView() {
    m_form.memLog.OnChange = nullptr;
    m_form.OnChange = nullptr;
    m_form.OnAboutCreated = nullptr;
    m_form.OnHelp = nullptr;
    for (auto& about : m_form.frmAbout)
        about->OnDestroy = nullptr; // their windows are children of this one and go with it
}

void TfrmMainView::BuildMenus() {
    QMenu* system = menuBar()->addMenu(QString::fromStdString(m_form.mnuSystem.Caption));
    system->setObjectName(QStringLiteral("mnuSystem"));
    m_items["mnuSystem"] = system->menuAction();
    AddItem(system, "mnuForce", &TfrmMain::mnuForceClick);
    AddItem(system, "mnuDataUtilities", &TfrmMain::mnuDataUtilitiesClick);
    m_items["N1"] = system->addSeparator();
    AddItem(system, "ShutDownModule1", &TfrmMain::ShutDownModule1Click);
    QMenu* about = menuBar()->addMenu(QString::fromStdString(m_form.mnuAbout.Caption));
    about->setObjectName(QStringLiteral("mnuAbout"));
    m_items["mnuAbout"] = about->menuAction();
    AddItem(about, "mnuHelp", &TfrmMain::mnuHelpClick);
    AddItem(about, "mnuAboutNR", &TfrmMain::mnuAboutClick);
    m_popup = new QMenu(this);
    m_popup->setObjectName(QStringLiteral("mnuPopup"));
    AddItem(m_popup, "mnu", &TfrmMain::trayIconDblClick);
    AddItem(m_popup, "mnupopShutDown", &TfrmMain::mnupopShutDownClick);
}

QAction* TfrmMainView::AddItem(QMenu* menu, const char* name, void (TfrmMain::*command)()) {
    const TMenuItem* item = MenuItem(name);
    const std::string caption = item ? item->Caption : std::string();
    QAction* action = menu->addAction(QString::fromStdString(caption));
    action->setObjectName(QString::fromLatin1(name));
    TfrmMain* form = &m_form;
    const std::function<void()> run = [form, command] { (form->*command)(); };
    connect(action, &QAction::triggered, this, [run] { RunCommand(run); });
    m_items[name] = action;
    return action;
}

const TMenuItem* TfrmMainView::MenuItem(const std::string& name) const {
    const std::pair<const char*, const TMenuItem*> items[] = {
        {"mnuSystem", &m_form.mnuSystem},
        {"mnuForce", &m_form.mnuForce},
        {"mnuDataUtilities", &m_form.mnuDataUtilities},
        {"ShutDownModule1", &m_form.ShutDownModule1},
        {"mnuAbout", &m_form.mnuAbout},
        {"mnuHelp", &m_form.mnuHelp},
        {"mnuAboutNR", &m_form.mnuAboutNR},
        {"mnu", &m_form.mnu},
        {"mnupopShutDown", &m_form.mnupopShutDown},
    };
    for (const auto& [n, item] : items)
        if (name == n) return item;
    return nullptr;
}

QAction* TfrmMainView::Item(const std::string& name) const {
    auto it = m_items.find(name);
    return it == m_items.end() ? nullptr : it->second;
}

void TfrmMainView::Sync() {
    setWindowTitle(QString::fromStdString(m_form.Caption));
    statusBar()->showMessage(QString::fromStdString(m_form.barStatus));
    for (auto& [name, action] : m_items)
        if (const TMenuItem* item = MenuItem(name)) action->setEnabled(item->Enabled);
    if (m_form.Visible && (!isVisible() || isMinimized()))
        ShowRestored();
    else if (!m_form.Visible && isVisible())
        hide(); // closing or minimising leaves only the tray icon
}

void TfrmMainView::SyncLog() {
    QString text = QString::fromUtf8(m_form.memLog.Text().c_str());
    text.remove(QLatin1Char('\r'));
    if (text.endsWith(QLatin1Char('\n'))) text.chop(1);
    m_memLog->setPlainText(text);
    m_memLog->moveCursor(QTextCursor::End); // the caret stays at the newest line
    m_memLog->ensureCursorVisible();
}

void TfrmMainView::ShowRestored() {
    if (!m_centred) {
        m_centred = true;
        if (QScreen* screen = QGuiApplication::primaryScreen())
            move(screen->availableGeometry().center() - QPoint(width() / 2, height() / 2));
    }
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
    m_memLog->moveCursor(QTextCursor::End);
    m_memLog->ensureCursorVisible();
}

bool TfrmMainView::event(QEvent* event) {
    // The status bar shows only what ShowStatus gave it: a main window would put each hovered
    // menu item's (empty) status tip there and wipe the scan's status text.
    if (event->type() == QEvent::StatusTip) return true;
    return QMainWindow::event(event);
}

void TfrmMainView::BringToFront() {
    if (m_form.Visible) ShowRestored();
}

void TfrmMainView::closeEvent(QCloseEvent* event) {
    event->ignore(); // the controller decides: hide, or end the program after shutdown
    RunCommand([this] { m_form.FormClose(); });
}

void TfrmMainView::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && isMinimized()) RunCommand([this] { m_form.DoMinimize(); });
}

void TfrmMainView::OpenAbout(TfrmAbout& about) {
    auto* view = new TfrmAboutView(about, this);
    about.OnDestroy = [view] { delete view; };
}

void TfrmMainView::OpenHelp() {
    // The help page travels inside the program; the desktop's default handler shows a copy of it.
    const QString dir = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
    QDir().mkpath(dir);
    const QString path = dir + QStringLiteral("/sentrova-help.html");
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(ResourceData("HELP")) < 0) {
        Dialogs().Error(this, QStringLiteral("Unable to write the help page to %1").arg(path));
        return;
    }
    f.close();
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(path)))
        Dialogs().Error(this, QStringLiteral("No program is set up to show %1").arg(path));
}
