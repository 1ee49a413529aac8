#include "quiz/gui/QuizPlayWindow.h"

#include "ui_QuizPlayWindow.h"

#include <QSettings>

namespace {

// Often enough that the seconds shown never lag by a whole second.
constexpr int kCountdownRefreshMs = 250;

QString stepText(QuizSession::Step step)
{
    switch (step) {
    case QuizSession::Step::AskFirst:
        return QObject::tr("Start quiz");
    case QuizSession::Step::CloseQuestion:
        return QObject::tr("End question");
    case QuizSession::Step::AskNext:
        return QObject::tr("Next question");
    case QuizSession::Step::ShowResults:
        return QObject::tr("Show results");
    case QuizSession::Step::Done:
        break;
    }
    return QObject::tr("Finished");
}

} // namespace

QuizPlayWindow::QuizPlayWindow(const QuizInfo &quiz, QSettings *settings, Starter start,
                               QWidget *parent)
    : QWidget(parent), ui(std::make_unique<Ui::QuizPlayWindow>()), m_settings(settings),
      m_start(std::move(start)), m_questionCount(QuizSession::playableQuestions(quiz))
{
    ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    ui->lblQuizTitle->setText(quiz.title.isEmpty() ? quiz.name : quiz.title);
    ui->spbSeconds->setValue(
        settings->value(QuizSession::kQuestionSecondsKey, QuizSession::kDefaultQuestionSeconds)
            .toInt());
    m_countdown.setInterval(kCountdownRefreshMs);
    connect(&m_countdown, &QTimer::timeout, this, &QuizPlayWindow::refresh);
    refresh();
}

QuizPlayWindow::~QuizPlayWindow()
{
    // Whoever ends the quiz when this window goes must not reach it half destroyed.
    if (m_session)
        disconnect(m_session, nullptr, this, nullptr);
}

void QuizPlayWindow::on_btnNext_clicked()
{
    if (!m_started) {
        m_started = true;
        m_settings->setValue(QuizSession::kQuestionSecondsKey, ui->spbSeconds->value());
        m_session = m_start(ui->spbSeconds->value());
        connect(m_session, &QuizSession::changed, this, &QuizPlayWindow::refresh);
        // A quiz played in its place ends this one: nothing is left to move on.
        connect(m_session, &QObject::destroyed, this, &QuizPlayWindow::close);
    }
    if (m_session)
        m_session->advance();
}

void QuizPlayWindow::refresh()
{
    const QuizSession::Step step =
        m_session ? m_session->nextStep()
                  : (m_questionCount > 0 ? QuizSession::Step::AskFirst : QuizSession::Step::Done);
    ui->btnNext->setText(stepText(step));
    ui->btnNext->setEnabled(step != QuizSession::Step::Done);
    ui->spbSeconds->setEnabled(!m_session);
    if (!m_session) {
        ui->lblQuestion->setText(
            tr("%n question(s). Viewers see each one on their page.", "", m_questionCount));
        return;
    }
    const QuizPlay &play = m_session->play();
    const bool asking = play.phase() == QuizPlay::Phase::Asking;
    asking ? m_countdown.start() : m_countdown.stop();
    const QuizPlay::AskedQuestion &asked = play.askedQuestion();
    if (asked.number > 0)
        ui->lblQuestion->setText(
            tr("Question %1 of %2: %3").arg(asked.number).arg(asked.count).arg(asked.title));
    ui->lblTimeLeft->setText(asking
                                 ? tr("Time left: %1 s").arg((m_session->timeLeftMs() + 999) / 1000)
                                 : tr("Time is up"));
    ui->lblAnswered->setText(tr("Answered: %1").arg(play.answeredCount()));
    showOptions();
    showLeaderboard();
}

void QuizPlayWindow::showOptions()
{
    const QuizPlay &play = m_session->play();
    const QStringList &options = play.askedQuestion().options;
    const QVector<int> counts = play.answerCounts();
    ui->lstOptions->clear();
    for (int i = 0; i < options.size(); ++i) {
        const bool right = play.rightOption() == i + 1;
        ui->lstOptions->addItem(QString("%1%2. %3  (%4)")
                                    .arg(right ? QString::fromUtf8("\u2714 ") : QString())
                                    .arg(i + 1)
                                    .arg(options[i])
                                    .arg(counts.value(i)));
    }
}

void QuizPlayWindow::showLeaderboard()
{
    ui->lstLeaderboard->clear();
    int place = 0;
    for (const QuizPlay::Standing &standing : m_session->play().leaderboard())
        ui->lstLeaderboard->addItem(
            tr("%1. %2: %3 points").arg(++place).arg(standing.nickname).arg(standing.score));
}
