#pragma once

#include "support/ChildProcess.h"

#include <QSize>
#include <QString>
#include <QStringList>

// A private X server (Xvfb) for one test. Xvfb picks a free display number itself and reports
// it once it accepts clients, so parallel tests never collide and no polling is needed.
class XvfbSession
{
public:
    ~XvfbSession() { stop(); }

    // Starts the server with one screen of `size` (24-bit), and a second X screen of
    // `secondScreen` unless that is empty; `extra` goes to Xvfb as well ("-extension DAMAGE"
    // leaves one out). False with `error` filled on failure.
    bool start(QSize size, QString *error, QSize secondScreen = QSize(),
               const QStringList &extra = QStringList());
    void stop() { m_process.stop(); }

    // ":N", for DISPLAY.
    QString display() const { return m_display; }
    pid_t pid() const { return m_process.pid(); }

private:
    ChildProcess m_process;
    QString m_display;
};
