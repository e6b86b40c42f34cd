#pragma once
#include <QString>
#include <functional>

class QWidget;

// Styles and results as the message-box numbers the windows use.
enum MsgBoxStyle { vbOKOnly = 0, vbYesNoCancel = 3, vbYesNo = 4, vbExclamation = 48, vbInformation = 64 };
enum MsgBoxResult { vbOK = 1, vbCancel = 2, vbYes = 6, vbNo = 7 };

// Shows a modal box owned by the active window and returns the button pressed.
// An empty title means the application title ("Velmaric").
int MsgBox(const QString &text, int style = vbOKOnly, const QString &title = {});

// Tests install a handler that records each call and answers it instead of a real box.
using MsgBoxHandler = std::function<int(const QString &text, int style, const QString &title)>;
void setMsgBoxHandler(MsgBoxHandler handler);
QString applicationTitle();
