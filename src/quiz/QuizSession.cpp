#include "quiz/QuizSession.h"

#include "quiz/QuizMessages.h"

namespace {

QVector<QuizFile::Question> questionsOf(const QuizInfo &quiz)
{
    QVector<QuizFile::Question> questions;
    for (const QJsonValue &value : quiz.questions)
        questions << QuizFile::Question::fromJson(value);
    return questions;
}

} // namespace

QuizSession::QuizSession(const QuizInfo &quiz, int questionSeconds, QuizPlay::Shuffle shuffle,
                         QObject *parent)
    : QObject(parent), m_title(quiz.title.isEmpty() ? quiz.name : quiz.title),
      m_play(questionsOf(quiz), qint64(questionSeconds) * 1000, std::move(shuffle))
{
    m_clock.start();
    m_deadline.setSingleShot(true);
    m_deadline.setTimerType(Qt::PreciseTimer);
    connect(&m_deadline, &QTimer::timeout, this, &QuizSession::closeQuestion);
}

int QuizSession::playableQuestions(const QuizInfo &quiz)
{
    return QuizPlay(questionsOf(quiz), 1).questionCount();
}

QuizSession::Step QuizSession::nextStep() const
{
    switch (m_play.phase()) {
    case QuizPlay::Phase::NotStarted:
        return m_play.questionCount() > 0 ? Step::AskFirst : Step::Done;
    case QuizPlay::Phase::Asking:
        return Step::CloseQuestion;
    case QuizPlay::Phase::Revealed:
        return m_play.hasNextQuestion() ? Step::AskNext : Step::ShowResults;
    case QuizPlay::Phase::Finished:
        break;
    }
    return Step::Done;
}

void QuizSession::advance()
{
    switch (nextStep()) {
    case Step::AskFirst:
    case Step::AskNext: {
        const QuizPlay::AskedQuestion asked = m_play.askNext(m_clock.elapsed());
        m_deadline.start(int(asked.durationMs));
        emit command(QuizMessages::question(asked, asked.durationMs));
        break;
    }
    case Step::CloseQuestion:
        closeQuestion();
        return;
    case Step::ShowResults:
        m_play.finish();
        emit command(QuizMessages::leaderboard(m_play.leaderboard(), true));
        break;
    case Step::Done:
        return;
    }
    emit changed();
}

void QuizSession::onViewerMessage(const QString &viewer, const QJsonObject &message)
{
    if (!QuizMessages::isAnswer(message))
        return;
    const QuizMessages::Answer answer = QuizMessages::answer(message);
    if (m_play.answer(viewer, answer.nickname, answer.number, answer.option, m_clock.elapsed()))
        emit changed();
}

void QuizSession::closeQuestion()
{
    if (m_play.phase() != QuizPlay::Phase::Asking)
        return;
    m_deadline.stop();
    const int right = m_play.closeQuestion();
    emit command(QuizMessages::questionEnd(m_play.currentNumber(), right, m_play.answerCounts()));
    emit command(QuizMessages::leaderboard(m_play.leaderboard(), false));
    emit changed();
}
