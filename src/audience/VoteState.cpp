#include "audience/VoteState.h"

VoteState::VoteState() : m_tally(kTallySize, 0) {}

void VoteState::start(const QStringList &options)
{
    m_options = options;
    m_tally = Tally(kTallySize, 0);
    m_running = true;
}

void VoteState::stop()
{
    // Answers that arrived since the last periodic reading must still count.
    if (m_running)
        refresh();
    m_running = false;
}

void VoteState::setTallySource(TallySource source)
{
    m_source = std::move(source);
}

void VoteState::refresh()
{
    if (m_source)
        m_tally = fitted(m_source());
}

VoteState::Tally VoteState::fitted(Tally tally)
{
    tally.resize(kTallySize);
    return tally;
}
