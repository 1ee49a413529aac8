#pragma once

#include "support/ChildProcess.h"

#include <QString>
#include <QTemporaryDir>
#include <memory>

// A private PulseAudio daemon for one test, with a null sink named "studio" (described as
// "Studio"), whose monitor source "studio.monitor" ("Monitor of Studio") gives back what is
// played into it. Runs in the foreground from a runtime folder of its own, which also works as
// root.
class PulseSession
{
public:
    ~PulseSession() { stop(); }

    // False with `error` filled when the daemon does not come up.
    bool start(QString *error);
    void stop();
    // Ends the daemon (its clients lose their connection) and starts it again on the same
    // server address.
    bool restart(QString *error);

    // For PULSE_SERVER: "unix:<runtime folder>/pulse/native".
    QString server() const { return m_server; }

private:
    bool launch(QString *error);

    std::unique_ptr<QTemporaryDir> m_runtime;
    ChildProcess m_process;
    QString m_server;
};
