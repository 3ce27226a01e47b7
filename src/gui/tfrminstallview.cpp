// Setup wizard view: the fields in the order and look of the form, bound to the controller.
#include "gui/tfrminstallview.h"

#include "daemon/tfrminstall.h"
#include "gui/dialogs.h"
#include "platform/errors.h"
#include "platform/progdir.h"

#include <QDialogButtonBox>
#include <QEvent>
#include <QFocusEvent>
#include <QFileSystemModel>
#include <QFrame>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>

#include <algorithm>
#include <climits>

namespace {

QLabel* BoldLabel(const QString& text, const char* colour, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    QFont f = label->font();
    f.setBold(true);
    label->setFont(f);
    label->setStyleSheet(QStringLiteral("color: %1;").arg(QLatin1String(colour)));
    return label;
}

QFrame* RedRule(QWidget* parent) {
    auto* rule = new QFrame(parent);
    rule->setFixedHeight(3);
    rule->setStyleSheet(QStringLiteral("background-color: red;"));
    return rule;
}

/// The text a field showed when the file was loaded.
constexpr const char* ShownProperty = "vktShownText";

QString Joined(const std::vector<const char*>& lines) {
    QStringList parts;
    for (const char* line : lines)
        parts << QString::fromLatin1(line);
    return parts.join(QLatin1Char('\n'));
}

} // namespace

TfrmInstallView::TfrmInstallView(TfrmInstall& wizard, QWidget* parent) : QDialog(parent), m_wizard(wizard) {
    setObjectName(QStringLiteral("frmInstall"));
    setWindowTitle(QString::fromStdString(wizard.Caption));
    QFont small = font(); // the form's 8-point face: its lines fit the fixed client area
    small.setPixelSize(11);
    setFont(small);
    auto* outer = new QVBoxLayout(this);
    auto* top = new QHBoxLayout;
    auto* info = new QFrame(this);
    info->setObjectName(QStringLiteral("pnlinfo"));
    info->setFrameShape(QFrame::Box);
    info->setFixedSize(470, 79);
    info->setStyleSheet(QStringLiteral("QFrame#pnlinfo { background-color: #ffffe1; }"));
    auto* infoLines = new QVBoxLayout(info);
    infoLines->setContentsMargins(6, 3, 6, 3);
    infoLines->setSpacing(0);
    for (int i = 0; i < 4; ++i) {
        QLabel* line = BoldLabel(QString::fromLatin1(InstallInfoLines[i]), i == 0 ? "black" : "green", info);
        QFont f = line->font();
        f.setPixelSize(10);
        line->setFont(f);
        infoLines->addWidget(line);
    }
    top->addWidget(info);
    auto* buttons = new QVBoxLayout;
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("btnOK"));
    ok->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QStringLiteral("btnCancel"));
    for (QPushButton* b : {ok, cancel}) {
        b->setCursor(Qt::PointingHandCursor);
        buttons->addWidget(b);
    }
    buttons->addStretch();
    top->addLayout(buttons);
    outer->addLayout(top);
    auto* grid = new QGridLayout;
    BuildFields(grid);
    outer->addLayout(grid);
    setTabOrder(Control("txtNetPort"), ok);
    setTabOrder(ok, cancel);
    connect(ok, &QPushButton::clicked, this, [this] { RunCommand([this] { btnOKClick(); }); });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    setFixedSize(579, 520);
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - QPoint(width() / 2, height() / 2));
}

void TfrmInstallView::BuildFields(QGridLayout* grid) {
    grid->setVerticalSpacing(2);
    int row = 0;
    QWidget* previous = nullptr;
    for (const TInstallField& f : TfrmInstall::Fields()) {
        grid->addWidget(BoldLabel(QString::fromLatin1(f.Caption), "black", this), row, 0);
        QWidget* control = MakeControl(f);
        grid->addWidget(control, row, 1);
        auto* explanation = new QLabel(Joined(f.Lines), this);
        explanation->setStyleSheet(QStringLiteral("color: navy;"));
        grid->addWidget(explanation, row++, 2);
        for (QWidget* focusable : {Control(f.Name), Control(f.Name == std::string("txtbackdir") ? "btnBrowse" : "")}) {
            if (!focusable) continue;
            if (previous) setTabOrder(previous, focusable);
            previous = focusable;
        }
        if (f.RuleAfter) grid->addWidget(RedRule(this), row++, 0, 1, 3);
    }
}

QWidget* TfrmInstallView::MakeControl(const TInstallField& f) {
    const std::string name = f.Name;
    QWidget* control = nullptr;
    if (TSpinEdit* spin = m_wizard.SpinField(name)) {
        auto* box = new QSpinBox(this);
        const bool limited = spin->MinValue != 0 || spin->MaxValue != 0;
        box->setRange(limited ? spin->MinValue : INT_MIN, limited ? spin->MaxValue : INT_MAX);
        control = box;
    } else if (name == "txtbackdir") {
        auto* holder = new QWidget(this);
        auto* row = new QHBoxLayout(holder);
        row->setContentsMargins(0, 0, 0, 0);
        auto* edit = new QLineEdit(holder);
        edit->setObjectName(QStringLiteral("txtbackdir"));
        edit->setReadOnly(true);
        edit->setStyleSheet(QStringLiteral("background-color: palette(button);"));
        auto* browse = new QToolButton(holder);
        browse->setObjectName(QStringLiteral("btnBrowse"));
        browse->setText(QStringLiteral(" ..."));
        QFont bold = browse->font();
        bold.setBold(true);
        browse->setFont(bold);
        row->addWidget(edit);
        row->addWidget(browse);
        connect(browse, &QToolButton::clicked, this, [this] { RunCommand([this] { btnBrowseClick(); }); });
        m_controls[name] = edit;
        m_controls["btnBrowse"] = browse;
        return holder;
    } else {
        auto* edit = new QLineEdit(this);
        if (f.MaxLength > 0) edit->setMaxLength(f.MaxLength);
        if (name == "txtDaemon") edit->setStyleSheet(QStringLiteral("color: navy; font-weight: bold;"));
        if (name == "txtNetPort") edit->installEventFilter(this);
        control = edit;
    }
    control->setObjectName(QString::fromLatin1(f.Name));
    if (*f.ToolTip) control->setToolTip(QString::fromLatin1(f.ToolTip));
    m_controls[name] = control;
    return control;
}

QWidget* TfrmInstallView::Control(const std::string& name) const {
    auto it = m_controls.find(name);
    return it == m_controls.end() ? nullptr : it->second;
}

void TfrmInstallView::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (m_loaded) return;
    m_loaded = true;
    RunCommand([this] {
        m_wizard.FormShow();
        Load();
    });
}

void TfrmInstallView::Load() {
    for (const TInstallField& f : TfrmInstall::Fields()) {
        if (TSpinEdit* spin = m_wizard.SpinField(f.Name))
            static_cast<QSpinBox*>(Control(f.Name))->setValue(spin->Value());
        else
            LoadText(static_cast<QLineEdit*>(Control(f.Name)), f.MaxLength, *m_wizard.TextField(f.Name));
    }
}

void TfrmInstallView::LoadText(QLineEdit* edit, int maxLength, const std::string& value) {
    // The length limit is for typing: a longer value from the file is shown and written back whole
    // (a line edit cuts its text to its limit, which would shorten a server name on OK).
    const QString text = QString::fromStdString(value);
    if (maxLength > 0) edit->setMaxLength(std::max(maxLength, static_cast<int>(text.size())));
    edit->setText(text);
    edit->setProperty(ShownProperty, text);
}

void TfrmInstallView::Store() {
    for (const TInstallField& f : TfrmInstall::Fields()) {
        if (TSpinEdit* spin = m_wizard.SpinField(f.Name))
            spin->SetValue(static_cast<QSpinBox*>(Control(f.Name))->value());
        else
            StoreText(static_cast<QLineEdit*>(Control(f.Name)), *m_wizard.TextField(f.Name));
    }
}

void TfrmInstallView::StoreText(const QLineEdit* edit, std::string& value) {
    // A field shown as loaded keeps the bytes read from the file: text that is not UTF-8 (a password
    // written in the Windows code page) would come back with replacement characters.
    if (edit->text() != edit->property(ShownProperty).toString()) value = edit->text().toStdString();
}

bool TfrmInstallView::eventFilter(QObject* watched, QEvent* event) {
    // The check runs when the focus moves from the field to another control of the dialog, not on
    // Enter (which presses OK) and not when the dialog itself loses activation: that happens when
    // it closes or another window comes up, and the check would pop up over whatever is next.
    if (event->type() == QEvent::FocusOut && watched == Control("txtNetPort")) {
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
            RunCommand([this] { txtNetPortExit(); });
    }
    return QDialog::eventFilter(watched, event);
}

void TfrmInstallView::txtNetPortExit() {
    auto* edit = static_cast<QLineEdit*>(Control("txtNetPort"));
    m_wizard.txtNetPort = edit->text().toStdString();
    const std::string message = m_wizard.txtNetPortExit();
    if (message.empty()) return;
    edit->setText(QString::fromStdString(m_wizard.txtNetPort));
    Dialogs().Info(this, QString::fromStdString(message));
}

void TfrmInstallView::btnOKClick() {
    Store();
    try {
        m_wizard.btnOKClick();
    } catch (const EInOutError& e) {
        Dialogs().Error(this, QString::fromStdString(e.Message())); // nothing written; the wizard stays
        return;
    }
    accept();
}

void TfrmInstallView::btnBrowseClick() {
    TSelectDirectoryDialog chooser(m_wizard, QString::fromStdString(ProgramDir()), this);
    if (chooser.exec() == QDialog::Accepted)
        static_cast<QLineEdit*>(Control("txtbackdir"))->setText(QString::fromStdString(m_wizard.txtbackdir));
}

TSelectDirectoryDialog::TSelectDirectoryDialog(TfrmInstall& wizard, const QString& start, QWidget* parent)
    : QDialog(parent), m_wizard(wizard), m_path(new QLineEdit(start, this)) {
    setWindowTitle(QStringLiteral("Select Directory"));
    auto* layout = new QVBoxLayout(this);
    auto* caption = new QLabel(QStringLiteral("Directory &Name:"), this);
    caption->setBuddy(m_path);
    m_path->setObjectName(QStringLiteral("DirectoryName"));
    auto* model = new QFileSystemModel(this);
    model->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot);
    model->setRootPath(QStringLiteral("/"));
    auto* tree = new QTreeView(this);
    tree->setModel(model);
    for (int column = 1; column < model->columnCount(); ++column)
        tree->hideColumn(column);
    tree->setCurrentIndex(model->index(start));
    connect(tree, &QTreeView::clicked, this,
            [this, model](const QModelIndex& index) { m_path->setText(model->filePath(index)); });
    auto* box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(box, &QDialogButtonBox::accepted, this, &TSelectDirectoryDialog::accept);
    connect(box, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(caption);
    layout->addWidget(m_path);
    layout->addWidget(tree);
    layout->addWidget(box);
    resize(420, 360);
}

void TSelectDirectoryDialog::accept() {
    std::string error;
    const auto confirm = [this](const std::string& question) {
        return Dialogs().YesNo(this, QString::fromStdString(question));
    };
    switch (m_wizard.ChooseDirectory(m_path->text().toStdString(), confirm, error)) {
    case TfrmInstall::TDirChoice::Accepted:
        QDialog::accept();
        break;
    case TfrmInstall::TDirChoice::StayOpen:
        break;
    case TfrmInstall::TDirChoice::Failed:
        Dialogs().Error(this, QString::fromStdString(error));
        break;
    }
}
