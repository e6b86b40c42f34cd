#pragma once
#include "messagebox.h"

#include <QList>
#include <QStringList>

// Stands in for every message box while it lives: records each call and answers it, so no test
// ever waits on a real modal box. A box that asks (Yes/No, Yes/No/Cancel) gets `answer`; a box
// with OK alone gets OK, as a real one would.
class MsgBoxRecorder {
public:
    struct Box {
        int style;
        QString text;
        QString title;
    };

    MsgBoxRecorder() { reset(); }
    ~MsgBoxRecorder() { setMsgBoxHandler({}); }
    MsgBoxRecorder(const MsgBoxRecorder &) = delete;
    MsgBoxRecorder &operator=(const MsgBoxRecorder &) = delete;

    // Forgets what was shown, answers No again, and takes the boxes back from any handler a
    // test installed in between.
    void reset()
    {
        boxes.clear();
        answer = vbNo;
        setMsgBoxHandler([this](const QString &text, int style, const QString &title) {
            boxes.append({style, text, title});
            return (style & 7) == vbOKOnly ? int(vbOK) : answer;
        });
    }

    // "<style> <text>", with " [<title>]" after it where the title is not the application's.
    QStringList lines() const
    {
        QStringList out;
        for (const Box &b : boxes)
            out << QString::number(b.style) + u' ' + b.text +
                       (b.title == applicationTitle() ? QString() : " [" + b.title + u']');
        return out;
    }
    QStringList texts() const
    {
        QStringList out;
        for (const Box &b : boxes)
            out << b.text;
        return out;
    }
    // The lines shown since the last take or reset.
    QStringList take()
    {
        const QStringList out = lines();
        boxes.clear();
        return out;
    }

    QList<Box> boxes;
    int answer = vbNo;
};
