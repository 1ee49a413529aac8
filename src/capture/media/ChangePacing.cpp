#include "capture/media/ChangePacing.h"

#include <algorithm>

void ChangePacing::setRate(double rate)
{
    if (rate > 0)
        m_period =
            std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / rate));
}

void ChangePacing::changed(Time at, bool large)
{
    m_coarse = m_coarse || large;
    if (!m_changePending) {
        m_changePending = true;
        m_changeAt = at;
    }
}

ChangePacing::Time ChangePacing::due() const
{
    if (m_changePending)
        return std::max(m_changeAt + m_settings.coalesce, m_nextPicture);
    if (m_settledLeft > 0)
        return m_lastPicture + (m_settledFirst ? m_settings.settle : m_period);
    if (m_settings.keepAlive > Clock::duration::zero())
        return m_lastPicture + m_settings.keepAlive;
    return Time::max();
}

ChangePacing::Action ChangePacing::take(Time now)
{
    if (now < due())
        return Action::None;
    Action action = Action::KeepAlive;
    if (m_changePending) {
        action = Action::Picture;
        m_changePending = false;
        m_settledLeft = m_coarse ? std::max(1, m_settings.refinements) : 1;
        m_settledFirst = true;
    } else if (m_settledLeft > 0) {
        action = Action::SettledPicture;
        m_settledFirst = false;
        m_coarse = --m_settledLeft > 0 && m_coarse;
    }
    // In motion the pictures keep to a grid of one period, so one that came late (the screen
    // reported its change late) does not push all that follow later and cost the rate; after a
    // still spell the grid starts anew.
    const bool inMotion = now - m_nextPicture < m_period;
    m_nextPicture =
        inMotion ? std::max(m_nextPicture + m_period, now + m_period / 2) : now + m_period;
    m_lastPicture = now;
    return action;
}
