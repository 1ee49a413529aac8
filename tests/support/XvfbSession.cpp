#include "support/XvfbSession.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace {
constexpr int readyTimeoutMs = 20000;
}

bool XvfbSession::start(QSize size, QString *error, QSize secondScreen, const QStringList &extra)
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        *error = QStringLiteral("pipe failed");
        return false;
    }
    ChildProcess::Options options;
    options.passFd = fds[1];
    const auto screenSize = [](QSize screen) {
        return QStringLiteral("%1x%2x24").arg(screen.width()).arg(screen.height());
    };
    QStringList arguments{
        QStringLiteral("-displayfd"), QString::number(fds[1]),    QStringLiteral("-screen"),
        QStringLiteral("0"),          screenSize(size),           QStringLiteral("-nolisten"),
        QStringLiteral("tcp"),        QStringLiteral("-noreset"),
    };
    if (!secondScreen.isEmpty())
        arguments << QStringLiteral("-screen") << QStringLiteral("1") << screenSize(secondScreen);
    arguments << extra;
    const bool started = m_process.start(QStringLiteral("Xvfb"), arguments, options, error);
    close(fds[1]);
    QByteArray number;
    if (started) {
        // Xvfb writes the display number and a newline once it is ready.
        pollfd wait{fds[0], POLLIN, 0};
        char c = 0;
        while (!number.endsWith('\n') && poll(&wait, 1, readyTimeoutMs) > 0 &&
               read(fds[0], &c, 1) == 1)
            number.append(c);
    }
    close(fds[0]);
    if (!started)
        return false;
    bool ok = false;
    const int display = number.trimmed().toInt(&ok);
    if (!ok) {
        m_process.stop();
        *error = QStringLiteral("Xvfb did not report a display");
        return false;
    }
    m_display = QStringLiteral(":%1").arg(display);
    return true;
}
