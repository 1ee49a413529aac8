#pragma once

#include "support/ChildProcess.h"

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <memory>
#include <stdexcept>
#include <string>

// The real lumacast-cloud of the build, on loopback, started and ended by the test.
class CloudService
{
public:
    static QString program()
    {
        return qEnvironmentVariable("LUMACAST_BINARY_DIR") + "/bin/lumacast-cloud";
    }

    // Port 0: one the system picks. Throws when the service does not come up.
    // `logPath`: where its log (standard error) goes; empty: the test's own.
    explicit CloudService(quint16 port = 0, const QStringList &extraArguments = {},
                          const QString &logPath = QString())
    {
        start(port, extraArguments, logPath);
    }

    void start(quint16 port, const QStringList &extraArguments = {},
               const QString &logPath = QString())
    {
        m_process = std::make_unique<ChildProcess>();
        ChildProcess::Options options;
        options.pipes = true;
        options.quiet = false;
        options.stderrPath = logPath;
        QString error;
        const QStringList arguments =
            QStringList{"--listen", "127.0.0.1", "--port", QString::number(port)} + extraArguments;
        if (!m_process->start(program(), arguments, options, &error))
            throw std::runtime_error(error.toStdString());
        const std::string line = m_process->readLine(10000);
        const auto colon = line.rfind(':');
        m_port = quint16(std::stoi(line.substr(colon + 1)));
    }
    // Ends the service at once: its connections die the way a crashed server's do.
    void kill() { m_process->stop(0); }

    quint16 port() const { return m_port; }
    QString server() const { return QString("127.0.0.1:%1").arg(m_port); }

private:
    std::unique_ptr<ChildProcess> m_process;
    quint16 m_port = 0;
};
