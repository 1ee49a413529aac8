#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <memory>

// The next message box a test expects: what it said, and the button the test pressed.
struct MessageBoxAnswer
{
    QString title;
    QString text;
    bool seen = false;
};

// Presses `button` on the next message box that comes up; other modal windows (a file dialog
// before the box) are left to their own handlers.
inline std::shared_ptr<MessageBoxAnswer> answerNextBox(QMessageBox::StandardButton button)
{
    auto answer = std::make_shared<MessageBoxAnswer>();
    auto *poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, poll, [poll, answer, button] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        poll->stop();
        poll->deleteLater();
        answer->seen = true;
        answer->title = box->windowTitle();
        answer->text = box->text();
        box->button(button)->click();
    });
    poll->start(10);
    return answer;
}
