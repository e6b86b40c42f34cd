#pragma once
#include "messagesink.h"

#include <QString>
#include <functional>

class QWidget;

// Shows a modal box owned by the active window and returns the button pressed.
// An empty title means the application title ("Velmaric").
int MsgBox(const QString &text, int style = vbOKOnly, const QString &title = {});

// Tests install a handler that records each call and answers it instead of a real box.
using MsgBoxHandler = std::function<int(const QString &text, int style, const QString &title)>;
void setMsgBoxHandler(MsgBoxHandler handler);
QString applicationTitle();
