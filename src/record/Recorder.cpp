#include "record/Recorder.h"

#include "record/RecordingRemux.h"

#include <QDebug>
#include <QFileInfo>
#include <QPointer>
#include <QThread>
#include <cerrno>
#include <cstring>
#include <unistd.h>

Recorder::Recorder(QObject *parent) : QObject(parent) {}

Recorder::~Recorder()
{
    for (const std::unique_ptr<QThread> &thread : m_remuxes)
        thread->wait();
}

bool Recorder::start(const QString &stem, QString *error)
{
    if (m_state == State::Recording)
        stop();
    m_file.setFileName(stem + ".ts");
    // Unbuffered: every chunk reaches the kernel at once, so a killed studio leaves it all.
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
        if (error)
            *error = tr("Cannot record to %1: %2").arg(m_file.fileName(), m_file.errorString());
        return false;
    }
    m_stem = stem;
    m_merger = std::make_unique<TsProgramMerger>();
    m_sinceFirstPacket.invalidate();
    m_bytes = 0;
    m_stoppedAtMs = 0;
    m_chapters.clear();
    m_state = State::Recording;
    qDebug() << "recording to" << m_file.fileName();
    return true;
}

qint64 Recorder::durationMs() const
{
    if (m_state != State::Recording)
        return m_stoppedAtMs;
    return m_sinceFirstPacket.isValid() ? m_sinceFirstPacket.elapsed() : 0;
}

void Recorder::take(quintptr source, const QByteArray &packets)
{
    if (m_state != State::Recording)
        return;
    const QByteArray out = m_merger->take(source, packets);
    if (out.isEmpty())
        return;
    if (!m_sinceFirstPacket.isValid())
        m_sinceFirstPacket.start();
    // Straight to the descriptor: QFile loses the reason (errno) of a failed unbuffered write.
    const char *data = out.constData();
    qint64 left = out.size();
    while (left > 0) {
        const ssize_t written = ::write(m_file.handle(), data, size_t(left));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            fail(QString::fromLocal8Bit(std::strerror(written < 0 ? errno : ENOSPC)));
            return;
        }
        m_bytes += written;
        data += written;
        left -= written;
    }
}

void Recorder::markChapter(const QString &title)
{
    if (m_state != State::Recording || title.isEmpty())
        return;
    m_chapters.append({durationMs(), title});
}

void Recorder::fail(const QString &reason)
{
    m_stoppedAtMs = durationMs();
    m_state = State::StoppedByError;
    m_file.close();
    qWarning() << "recording stopped:" << reason;
    emit stoppedByError(tr("Recording stopped: %1. The stream goes on; what was recorded until "
                           "now is kept in %2.")
                            .arg(reason, m_file.fileName()));
}

void Recorder::stop()
{
    if (m_state == State::Idle)
        return;
    if (m_state == State::Recording)
        m_stoppedAtMs = durationMs();
    m_state = State::Idle;
    m_file.close();
    if (m_bytes == 0) {
        QFile::remove(m_file.fileName());
        return;
    }
    startRemux(m_file.fileName(), m_chapters);
}

void Recorder::startRemux(const QString &tsPath, const ChapterList &chapters)
{
    const QString stem = m_stem;
    QPointer<Recorder> self(this);
    std::unique_ptr<QThread> thread(QThread::create([self, tsPath, stem, chapters] {
        const auto progress = [self](int percent) {
            QMetaObject::invokeMethod(
                self, [self, percent] { emit self->remuxProgress(percent); }, Qt::QueuedConnection);
        };
        const RecordingRemux::Result result = RecordingRemux::run(tsPath, stem, chapters, progress);
        // Only a finished file replaces what the recording wrote.
        if (result.ok)
            QFile::remove(tsPath);
        QMetaObject::invokeMethod(
            self,
            [self, result, tsPath] {
                if (result.ok)
                    emit self->finished(result.path);
                else
                    emit self->finishFailed(result.error, tsPath);
            },
            Qt::QueuedConnection);
    }));
    QThread *raw = thread.get();
    connect(raw, &QThread::finished, this, [this, raw] {
        for (auto it = m_remuxes.begin(); it != m_remuxes.end(); ++it)
            if (it->get() == raw) {
                it->release()->deleteLater();
                m_remuxes.erase(it);
                break;
            }
    });
    m_remuxes.push_back(std::move(thread));
    raw->start(QThread::LowPriority);
}
