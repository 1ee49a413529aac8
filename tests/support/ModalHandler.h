#pragma once

#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <functional>

// Handles the next modal window once it is up: modal dialogs and message boxes run their own
// event loop, so a test answers them from a timer.
inline void whenModalAppears(std::function<void(QWidget *)> act)
{
    auto *poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, poll, [poll, act] {
        if (QWidget *modal = QApplication::activeModalWidget()) {
            poll->stop();
            poll->deleteLater();
            act(modal);
        }
    });
    poll->start(10);
}
