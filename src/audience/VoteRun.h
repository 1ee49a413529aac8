#pragma once

#include "audience/AudienceLink.h"

#include <QObject>
#include <QStringList>
#include <QTimer>

class VoteState;

// A vote while it runs: announces it to the viewers, reads their tally into the vote twice a
// second, counts the time down and ends the vote when the time is up or the presenter breaks it
// off. The voting window drives and shows it; the HTTP routes read the vote. GUI thread only.
class VoteRun : public QObject
{
    Q_OBJECT
public:
    static constexpr int kTickMs = 500;

    // `vote` is not owned and must outlive the run.
    VoteRun(VoteState *vote, AudienceLink::Source link, QObject *parent = nullptr);

    // Sends the vote to the viewers and starts the clock; a running vote ends first.
    void start(const QString &title, const QStringList &options, int durationSeconds);
    // Ends a running vote: the tally is read one last time, so an answer that came after the
    // last tick still counts, then the viewers are told.
    void stop();
    bool isRunning() const { return m_timer.isActive(); }
    // Whole seconds left, truncated; meaningful while running.
    int secondsLeft() const { return int((m_durationMs - m_elapsedMs) / 1000.0); }
    const VoteState &vote() const { return *m_vote; }

public slots:
    // One step of the clock. The tick at which the time is exactly up still reads the tally, so
    // a vote of D seconds reads it 2 x D times and ends half a second after.
    void tick();

signals:
    void started(QString title, QStringList options);
    // The tally was read and the time counted.
    void ticked();
    void stopped();

private:
    VoteState *m_vote;
    AudienceLink::Source m_link;
    QTimer m_timer;
    qint32 m_durationMs = 0;
    qint32 m_elapsedMs = 0;
};
