#pragma once

#include "record/Chapter.h"
#include "record/TsProgramMerger.h"

#include <QElapsedTimer>
#include <QFile>
#include <QObject>
#include <memory>
#include <vector>

class QThread;

// Records a session: the whole packets the ingest receives from both writers (the stream the
// viewers get, nothing encoded again) go through a TsProgramMerger to a transport stream that
// grows by append only, each chunk written straight to the kernel, so a crash or kill -9 loses
// nothing already received. A write that fails (the disk is full) stops the recording, never
// the stream. At stop() the file is remuxed on a worker thread (RecordingRemux) and the
// transport stream removed once that succeeded. GUI thread.
class Recorder : public QObject
{
    Q_OBJECT
public:
    enum class State { Idle, Recording, StoppedByError };

    explicit Recorder(QObject *parent = nullptr);
    // Waits for remuxes still running.
    ~Recorder() override;

    // Opens "<stem>.ts"; false with the reason in words when it cannot.
    bool start(const QString &stem, QString *error);
    // Closes the transport stream and remuxes it (unless nothing was written); the result comes
    // as finished() or finishFailed().
    void stop();

    State state() const { return m_state; }
    QString tsPath() const { return m_file.fileName(); }
    qint64 bytesWritten() const { return m_bytes; }
    // Since the first packet written.
    qint64 durationMs() const;
    const ChapterList &chapters() const { return m_chapters; }
    // Remuxes not yet done.
    int pendingRemuxes() const { return int(m_remuxes.size()); }

public slots:
    // Packets of the ingest connection `source`, whole and aligned.
    void take(quintptr source, const QByteArray &packets);
    // A chapter from now on; ignored unless recording.
    void markChapter(const QString &title);

signals:
    void stoppedByError(QString message);
    void remuxProgress(int percent);
    void finished(QString path);
    // The transport stream stays at `keptPath`, which players read as it is.
    void finishFailed(QString message, QString keptPath);

private:
    void startRemux(const QString &tsPath, const ChapterList &chapters);
    void fail(const QString &reason);

    State m_state = State::Idle;
    QFile m_file;
    QString m_stem;
    std::unique_ptr<TsProgramMerger> m_merger;
    QElapsedTimer m_sinceFirstPacket;
    qint64 m_bytes = 0;
    qint64 m_stoppedAtMs = 0;
    ChapterList m_chapters;
    std::vector<std::unique_ptr<QThread>> m_remuxes;
};
