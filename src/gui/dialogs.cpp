// Message boxes with the application title as caption.
#include "gui/dialogs.h"

#include "platform/msgloop.h"

#include <QMessageBox>
#include <QMetaObject>
#include <QThread>

namespace {
const QString Title = QStringLiteral("Sentrova VKT");
} // namespace

TDialogs& Dialogs() {
    static TDialogs dialogs{
        [](QWidget* parent, const QString& text) { QMessageBox::information(parent, Title, text); },
        [](QWidget* parent, const QString& text) { QMessageBox::critical(parent, Title, text); },
        [](QWidget* parent, const QString& text) {
            return QMessageBox::question(parent, Title, text, QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
        },
    };
    return dialogs;
}

void RunCommand(const std::function<void()>& command) {
    try {
        command();
    } catch (...) {
        ReportLoopException(); // a Qt slot must never let an exception through
    }
}

void OnViewThread(QObject* view, const std::function<void()>& update) {
    if (QThread::currentThread() == view->thread())
        update();
    else
        QMetaObject::invokeMethod(
            view, [update] { RunCommand(update); }, Qt::QueuedConnection);
}
