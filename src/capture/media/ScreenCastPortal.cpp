#include "capture/media/ScreenCastPortal.h"

#include <QAtomicInteger>
#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusServiceWatcher>
#include <QDBusUnixFileDescriptor>
#include <QEventLoop>
#include <QThread>
#include <unistd.h>

namespace {

const QString service = QStringLiteral("org.freedesktop.portal.Desktop");
const QString objectPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString screenCast = QStringLiteral("org.freedesktop.portal.ScreenCast");
const QString requestInterface = QStringLiteral("org.freedesktop.portal.Request");
const QString sessionInterface = QStringLiteral("org.freedesktop.portal.Session");

constexpr uint sourceMonitor = 1, sourceWindow = 2;
constexpr uint cursorHidden = 1, cursorEmbedded = 2;
constexpr uint persistUntilRevoked = 2;

QString connectionName()
{
    // A connection of its own per session: QtDBus connections belong to one thread for signals.
    static QAtomicInteger<int> count;
    return QStringLiteral("lumacast-screencast-%1").arg(count.fetchAndAddRelaxed(1));
}

QDBusConnection sessionBus()
{
    // By the address the environment names now: libdbus keeps the first one it saw for the
    // process, and a desktop session may be restarted under a running studio.
    const QString address = qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS");
    return address.isEmpty()
               ? QDBusConnection::connectToBus(QDBusConnection::SessionBus, connectionName())
               : QDBusConnection::connectToBus(address, connectionName());
}

QPoint pairOf(const QVariant &value)
{
    int a = 0, b = 0;
    const QDBusArgument arg = value.value<QDBusArgument>();
    if (arg.currentType() != QDBusArgument::StructureType)
        return {};
    arg.beginStructure();
    arg >> a >> b;
    arg.endStructure();
    return {a, b};
}

bool firstStream(const QVariantMap &results, ScreenCastPortal::Stream *stream)
{
    const QDBusArgument arg = results.value(QStringLiteral("streams")).value<QDBusArgument>();
    if (arg.currentType() != QDBusArgument::ArrayType)
        return false;
    bool found = false;
    arg.beginArray();
    while (!arg.atEnd()) {
        uint node = 0;
        QVariantMap props;
        arg.beginStructure();
        arg >> node >> props;
        arg.endStructure();
        if (found)
            continue;
        found = true;
        stream->nodeId = node;
        stream->position = pairOf(props.value(QStringLiteral("position")));
        const QPoint size = pairOf(props.value(QStringLiteral("size")));
        stream->size = QSize(size.x(), size.y());
    }
    arg.endArray();
    return found;
}

} // namespace

ScreenCastPortal::ScreenCastPortal(QObject *parent) : QObject(parent), m_bus(sessionBus()) {}

ScreenCastPortal::~ScreenCastPortal()
{
    close();
    const QString name = m_bus.name();
    m_bus = QDBusConnection(QString());
    QDBusConnection::disconnectFromBus(name);
}

uint ScreenCastPortal::property(const QString &name)
{
    QDBusMessage call = QDBusMessage::createMethodCall(
        service, objectPath, QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("Get"));
    call << screenCast << name;
    const QDBusMessage reply = m_bus.call(call);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return 0;
    return reply.arguments().first().value<QDBusVariant>().variant().toUInt();
}

ScreenCastPortal::Outcome ScreenCastPortal::request(const QString &method,
                                                    const QList<QVariant> &leading,
                                                    QVariantMap options, QVariantMap *results,
                                                    QString *error)
{
    // The answer comes as a signal on a path made from our name and a token of ours; listen
    // before asking, so that a quick answer is not missed.
    const QString token = QStringLiteral("lumacast%1").arg(++m_tokenCount);
    QString sender = m_bus.baseService().mid(1);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    const QString path = objectPath + QStringLiteral("/request/") + sender + '/' + token;
    options.insert(QStringLiteral("handle_token"), token);
    m_answered = false;
    m_bus.connect(service, path, requestInterface, QStringLiteral("Response"), this,
                  SLOT(onResponse(uint, QVariantMap)));
    QDBusMessage call = QDBusMessage::createMethodCall(service, objectPath, screenCast, method);
    QList<QVariant> arguments = leading;
    arguments << options;
    call.setArguments(arguments);
    const QDBusMessage reply = m_bus.call(call);
    Outcome outcome = Outcome::Started;
    if (reply.type() == QDBusMessage::ErrorMessage) {
        *error = QStringLiteral("the desktop's screen-cast portal refused %1: %2")
                     .arg(method, reply.errorMessage());
        outcome = Outcome::Failed;
    } else {
        QEventLoop loop;
        m_loop = &loop;
        // A portal that goes away meanwhile never answers.
        bool portalGone = false;
        QDBusServiceWatcher watcher(service, m_bus, QDBusServiceWatcher::WatchForUnregistration);
        connect(&watcher, &QDBusServiceWatcher::serviceUnregistered, &loop, [&] {
            portalGone = true;
            loop.quit();
        });
        // QThread::quit() on this thread makes exec() return at once from then on.
        if (!m_answered)
            loop.exec();
        m_loop = nullptr;
        if (!m_answered && portalGone) {
            *error = QStringLiteral("the desktop's screen-cast portal ended during %1").arg(method);
            outcome = Outcome::Failed;
        } else if (!m_answered) {
            outcome = Outcome::Interrupted;
        } else if (m_response == 1) {
            *error = QStringLiteral("screen sharing was cancelled in the desktop's picker");
            outcome = Outcome::Cancelled;
        } else if (m_response != 0) {
            *error = QStringLiteral("the desktop's screen-cast portal failed %1").arg(method);
            outcome = Outcome::Failed;
        }
        *results = m_results;
    }
    m_bus.disconnect(service, path, requestInterface, QStringLiteral("Response"), this,
                     SLOT(onResponse(uint, QVariantMap)));
    return outcome;
}

void ScreenCastPortal::onResponse(uint response, const QVariantMap &results)
{
    m_answered = true;
    m_response = response;
    m_results = results;
    if (m_loop)
        m_loop->quit();
}

void ScreenCastPortal::onSessionClosed(const QVariantMap &details)
{
    Q_UNUSED(details)
    m_session.clear();
    emit sessionClosed();
}

ScreenCastPortal::Outcome ScreenCastPortal::start(const QString &restoreToken, bool embedCursor,
                                                  Stream *stream, QString *error)
{
    if (!m_bus.isConnected()) {
        *error = QStringLiteral("no D-Bus session bus, so no screen-cast portal");
        return Outcome::Unavailable;
    }
    if (!m_bus.interface()->isServiceRegistered(service).value() &&
        !m_bus.interface()->startService(service).isValid()) {
        *error = QStringLiteral("the desktop has no screen-cast portal (xdg-desktop-portal)");
        return Outcome::Unavailable;
    }
    const uint types = property(QStringLiteral("AvailableSourceTypes"));
    if (!(types & sourceMonitor)) {
        *error = QStringLiteral("the desktop's portal offers no screen casting");
        return Outcome::Unavailable;
    }
    QVariantMap results;
    Outcome outcome = request(
        QStringLiteral("CreateSession"), {},
        {{QStringLiteral("session_handle_token"), QStringLiteral("lumacast%1").arg(getpid())}},
        &results, error);
    if (outcome != Outcome::Started)
        return outcome;
    m_session = results.value(QStringLiteral("session_handle")).toString();
    m_bus.connect(service, m_session, sessionInterface, QStringLiteral("Closed"), this,
                  SLOT(onSessionClosed(QVariantMap)));

    const uint cursors = property(QStringLiteral("AvailableCursorModes"));
    const uint cursor = embedCursor ? cursorEmbedded : cursorHidden;
    QVariantMap select{{QStringLiteral("types"), types & (sourceMonitor | sourceWindow)},
                       {QStringLiteral("multiple"), false},
                       {QStringLiteral("persist_mode"), persistUntilRevoked}};
    if (cursors & cursor)
        select.insert(QStringLiteral("cursor_mode"), cursor);
    if (!restoreToken.isEmpty())
        select.insert(QStringLiteral("restore_token"), restoreToken);
    const QVariant session = QVariant::fromValue(QDBusObjectPath(m_session));
    outcome = request(QStringLiteral("SelectSources"), {session}, select, &results, error);
    if (outcome != Outcome::Started)
        return outcome;
    outcome = request(QStringLiteral("Start"), {session, QString()}, {}, &results, error);
    if (outcome != Outcome::Started)
        return outcome;
    if (!firstStream(results, stream)) {
        *error = QStringLiteral("the desktop's screen-cast portal gave no stream");
        return Outcome::Failed;
    }
    stream->restoreToken = results.value(QStringLiteral("restore_token")).toString();

    QDBusMessage open = QDBusMessage::createMethodCall(service, objectPath, screenCast,
                                                       QStringLiteral("OpenPipeWireRemote"));
    open << session << QVariantMap();
    const QDBusMessage reply = m_bus.call(open);
    const QDBusUnixFileDescriptor fd = reply.arguments().value(0).value<QDBusUnixFileDescriptor>();
    if (reply.type() != QDBusMessage::ReplyMessage || !fd.isValid()) {
        *error = QStringLiteral("the desktop's screen-cast portal gave no PipeWire connection: %1")
                     .arg(reply.errorMessage());
        return Outcome::Failed;
    }
    // The descriptor object closes its own copy.
    stream->fd = dup(fd.fileDescriptor());
    return Outcome::Started;
}

void ScreenCastPortal::close()
{
    if (m_session.isEmpty() || !m_bus.isConnected())
        return;
    m_bus.disconnect(service, m_session, sessionInterface, QStringLiteral("Closed"), this,
                     SLOT(onSessionClosed(QVariantMap)));
    m_bus.call(QDBusMessage::createMethodCall(service, m_session, sessionInterface,
                                              QStringLiteral("Close")),
               QDBus::NoBlock);
    m_session.clear();
}
