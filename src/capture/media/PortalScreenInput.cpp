#include "capture/media/PortalScreenInput.h"

#include "capture/media/ScreenCastPortal.h"
#include "capture/media/ScreenCastToken.h"

#include <QDebug>
#include <QEventLoop>
#include <QRect>
#include <QTimer>
#include <unistd.h>

std::atomic<uint64_t> PortalScreenInput::s_asks{0};

PortalScreenInput::PortalScreenInput(bool embedCursor) : m_embedCursor(embedCursor)
{
    start();
}

PortalScreenInput::~PortalScreenInput()
{
    requestInterruption();
    quit();
    wait();
}

void PortalScreenInput::askAgain()
{
    ++s_asks;
}

bool PortalScreenInput::takeNewer(PackedPicture *picture, QRect *changed)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_stream && m_stream->takeNewer(picture, changed);
}

PipeWireStream::Statistics PortalScreenInput::statistics() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_stream ? m_stream->statistics() : PipeWireStream::Statistics();
}

uint64_t PortalScreenInput::waitChanges(uint64_t seen,
                                        std::chrono::steady_clock::time_point deadline)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait_until(lock, deadline, [&] { return m_changes > seen; });
    return m_changes;
}

void PortalScreenInput::countChange()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_changes;
    }
    m_changed.notify_all();
}

QRect PortalScreenInput::placement() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_placement;
}

QString PortalScreenInput::trouble() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_trouble;
}

void PortalScreenInput::setTrouble(const QString &text)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (text == m_trouble)
            return;
        if (!text.isEmpty())
            qWarning().noquote() << "screen share:" << text;
        m_trouble = text;
    }
    countChange();
}

void PortalScreenInput::pause(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

void PortalScreenInput::run()
{
    while (!isInterruptionRequested()) {
        const uint64_t asks = s_asks;
        if (share()) {
            pause(1000);
            continue;
        }
        while (!isInterruptionRequested() && s_asks == asks)
            pause(1000);
    }
}

bool PortalScreenInput::share()
{
    ScreenCastPortal portal;
    ScreenCastPortal::Stream granted;
    QString error;
    const ScreenCastPortal::Outcome outcome =
        portal.start(ScreenCastToken::load(), m_embedCursor, &granted, &error);
    if (outcome == ScreenCastPortal::Outcome::Interrupted)
        return true;
    if (outcome != ScreenCastPortal::Outcome::Started) {
        setTrouble(error);
        return outcome != ScreenCastPortal::Outcome::Cancelled;
    }
    if (!granted.restoreToken.isEmpty())
        ScreenCastToken::save(granted.restoreToken);

    QEventLoop loop;
    QString ended;
    std::mutex endedMutex;
    PipeWireStream stream;
    QObject::connect(&portal, &ScreenCastPortal::sessionClosed, &loop, &QEventLoop::quit);
    const bool opened = stream.open(
        granted.fd, granted.nodeId,
        [&](const QString &reason) {
            {
                std::lock_guard<std::mutex> lock(endedMutex);
                ended = reason;
            }
            QMetaObject::invokeMethod(&loop, "quit", Qt::QueuedConnection);
        },
        [this] { countChange(); }, &error);
    if (!opened) {
        setTrouble(error);
        return true;
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stream = &stream;
        m_placement = QRect(granted.position, granted.size);
        m_trouble.clear();
    }
    loop.exec();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stream = nullptr;
    }
    if (!isInterruptionRequested()) {
        std::lock_guard<std::mutex> lock(endedMutex);
        setTrouble(ended.isEmpty() ? QStringLiteral("the desktop ended the screen share") : ended);
    }
    return true;
}
