#include "support/PulseSession.h"

#include <QFileInfo>
#include <QProcess>
#include <QThread>

namespace {
constexpr int readyTimeoutMs = 20000;
}

bool PulseSession::start(QString *error)
{
    m_runtime = std::make_unique<QTemporaryDir>();
    if (!m_runtime->isValid()) {
        *error = QStringLiteral("no temporary folder");
        return false;
    }
    return launch(error);
}

bool PulseSession::restart(QString *error)
{
    m_process.stop();
    return launch(error);
}

bool PulseSession::launch(QString *error)
{
    const QString dir = m_runtime->path();
    ChildProcess::Options options;
    options.environment = QStringList{
        QStringLiteral("XDG_RUNTIME_DIR=") + dir,
        QStringLiteral("HOME=") + dir,
        QStringLiteral("PULSE_STATE_PATH=") + dir + QStringLiteral("/state"),
        // No session bus: the daemon would otherwise try to launch one.
        QStringLiteral("DBUS_SESSION_BUS_ADDRESS=unix:path=") + dir + QStringLiteral("/no-bus"),
    };
    const QStringList arguments{
        QStringLiteral("-n"),
        QStringLiteral("--daemonize=no"),
        QStringLiteral("--exit-idle-time=-1"),
        QStringLiteral("--disallow-exit"),
        QStringLiteral("--use-pid-file=no"),
        QStringLiteral("--disable-shm"),
        QStringLiteral("-L"),
        QStringLiteral("module-native-protocol-unix"),
        QStringLiteral("-L"),
        QStringLiteral(
            "module-null-sink sink_name=studio sink_properties=device.description=Studio"),
        QStringLiteral("-L"),
        QStringLiteral("module-always-sink"),
    };
    if (!m_process.start(QStringLiteral("pulseaudio"), arguments, options, error))
        return false;
    m_server = QStringLiteral("unix:") + dir + QStringLiteral("/pulse/native");
    // Ready once a client gets the server's answer.
    for (int waited = 0; waited < readyTimeoutMs && m_process.running(); waited += 50) {
        if (QFileInfo::exists(dir + QStringLiteral("/pulse/native"))) {
            QProcess info;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("PULSE_SERVER"), m_server);
            info.setProcessEnvironment(env);
            info.start(QStringLiteral("pactl"), {QStringLiteral("info")});
            if (info.waitForFinished(5000) && info.exitStatus() == QProcess::NormalExit &&
                info.exitCode() == 0)
                return true;
        }
        QThread::msleep(50);
    }
    *error = QStringLiteral("pulseaudio did not come up");
    stop();
    return false;
}

void PulseSession::stop()
{
    m_process.stop();
    m_runtime.reset();
}
