#include "audience/VoteRun.h"

#include "audience/VoteState.h"

VoteRun::VoteRun(VoteState *vote, AudienceLink::Source link, QObject *parent)
    : QObject(parent), m_vote(vote), m_link(std::move(link))
{
    connect(&m_timer, &QTimer::timeout, this, &VoteRun::tick);
}

void VoteRun::start(const QString &title, const QStringList &options, int durationSeconds)
{
    stop();
    m_durationMs = durationSeconds * 1000;
    m_elapsedMs = 0;
    m_vote->start(options);
    m_link()->onVoteStart(title, options);
    m_timer.start(kTickMs);
    emit started(title, options);
}

void VoteRun::stop()
{
    if (!isRunning())
        return;
    m_timer.stop();
    m_vote->stop();
    m_link()->onVoteStop();
    emit stopped();
}

void VoteRun::tick()
{
    if (!isRunning())
        return;
    m_elapsedMs += kTickMs;
    if (m_elapsedMs > m_durationMs) {
        stop();
        return;
    }
    m_vote->refresh();
    emit ticked();
}
