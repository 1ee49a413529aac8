#include "audience/DrawRun.h"

DrawRun::DrawRun(AudienceLink::Source link, QObject *parent)
    : QObject(parent), m_link(std::move(link))
{
    connect(&m_timer, &QTimer::timeout, this, &DrawRun::tick);
}

void DrawRun::start(const QString &winText, const QString &loseText)
{
    if (isRunning())
        return;
    setTexts(winText, loseText);
    m_round.start();
    m_timer.start(RandomGameRound::kTickMs);
}

void DrawRun::setTexts(const QString &winText, const QString &loseText)
{
    m_winText = winText;
    m_loseText = loseText;
}

void DrawRun::tick()
{
    const RandomGameRound::Step step = m_round.advance();
    switch (step.kind) {
    case RandomGameRound::Step::Kind::Idle:
        return;
    case RandomGameRound::Step::Kind::Progress:
        m_link()->onRandomGameTick(step.clr, step.proc);
        emit progressed(step.clr, step.proc);
        return;
    case RandomGameRound::Step::Kind::Finish:
        m_timer.stop();
        m_link()->onRandomGameFinish(m_loseText, m_winText, step.code);
        emit finished(m_loseText, m_winText, step.code);
        return;
    }
}
