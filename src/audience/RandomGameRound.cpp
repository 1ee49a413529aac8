#include "audience/RandomGameRound.h"

#include <QRandomGenerator>
#include <cmath>

void RandomGameRound::start()
{
    m_colours = colourTable();
    m_elapsed = 0;
    m_running = true;
}

RandomGameRound::Step RandomGameRound::advance()
{
    Step step;
    if (!m_running)
        return step;
    m_elapsed += kTickMs;
    if (m_elapsed <= kDurationMs) {
        step.kind = Step::Kind::Progress;
        step.proc = int(float(m_elapsed * 100.0 / kDurationMs));
        step.clr = m_colours.at(step.proc - 1).name();
        return step;
    }
    step.kind = Step::Kind::Finish;
    step.code = drawCheckCode();
    m_running = false;
    return step;
}

QVector<QColor> RandomGameRound::colourTable()
{
    constexpr float kGoldenRatioConjugate = 0.618034f;
    QVector<QColor> colours;
    colours.reserve(kColourCount);
    float hue = 0.0f;
    for (int i = 0; i < kColourCount; ++i) {
        colours.append(QColor::fromHslF(hue, 1.0, 0.5, 1.0));
        hue = std::fmod(hue + kGoldenRatioConjugate, 1.0f);
    }
    return colours;
}

QString RandomGameRound::drawCheckCode()
{
    QRandomGenerator *random = QRandomGenerator::system();
    const int first = 100 + int(random->bounded(900));
    const int second = 100 + int(random->bounded(900));
    return QString("%1-%2").arg(first).arg(second);
}
