// The message boxes the views show, behind one replaceable hook (tests answer them).
#pragma once

#include <QString>

#include <functional>

class QWidget;

struct TDialogs {
    /// An information box with OK.
    std::function<void(QWidget* parent, const QString& text)> Info;
    /// An error box with OK.
    std::function<void(QWidget* parent, const QString& text)> Error;
    /// A confirmation with Yes and No; true for Yes.
    std::function<bool(QWidget* parent, const QString& text)> YesNo;
};

/// The application's message boxes (QMessageBox unless replaced).
TDialogs& Dialogs();
/// Runs a command of a view; an exception it throws is reported like one escaping a loop job.
void RunCommand(const std::function<void()>& command);
class QObject;
/// Runs `update` of a view at once on the view's thread, or queued to it from any other thread
/// (dropped if the view is gone by then): widgets are touched on their own thread only.
void OnViewThread(QObject* view, const std::function<void()>& update);
