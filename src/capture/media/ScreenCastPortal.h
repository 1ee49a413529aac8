#pragma once

#include <QDBusConnection>
#include <QEventLoop>
#include <QObject>
#include <QPoint>
#include <QSize>
#include <QString>
#include <QVariantMap>

// One screen-cast session of the desktop portal (org.freedesktop.portal.ScreenCast): creates
// the session, lets the portal choose a monitor or a window (its own picker, unless a restore
// token from an earlier session stands for the same choice), starts it and opens the PipeWire
// connection. Blocking calls that run their own event loop: for a thread of its own, on which
// the object must also be used. QThread::quit() on that thread abandons a call.
class ScreenCastPortal : public QObject
{
    Q_OBJECT
public:
    enum class Outcome { Started, Unavailable, Cancelled, Failed, Interrupted };

    struct Stream
    {
        int fd = -1; // the caller owns it
        uint32_t nodeId = 0;
        QPoint position; // of a monitor, in the desktop's logical coordinates
        QSize size;      // logical size; empty when the portal does not say
        QString restoreToken;
    };

    explicit ScreenCastPortal(QObject *parent = nullptr);
    ~ScreenCastPortal() override;

    // Runs CreateSession, SelectSources, Start and OpenPipeWireRemote. `restoreToken` may be
    // empty. On Started `stream` is filled; otherwise `error` says why in words.
    Outcome start(const QString &restoreToken, bool embedCursor, Stream *stream, QString *error);
    // Ends the session, if one was created.
    void close();

signals:
    // The desktop ended the session (a monitor went, the screen locked, the presenter stopped
    // sharing in the desktop's own controls).
    void sessionClosed();

private slots:
    void onResponse(uint response, const QVariantMap &results);
    void onSessionClosed(const QVariantMap &details);

private:
    Outcome request(const QString &method, const QList<QVariant> &leading, QVariantMap options,
                    QVariantMap *results, QString *error);
    uint property(const QString &name);

    QDBusConnection m_bus;
    QEventLoop *m_loop = nullptr;
    QString m_session;
    uint m_tokenCount = 0;
    bool m_answered = false;
    uint m_response = 0;
    QVariantMap m_results;
};
