#include "audience/gui/RandomGame.h"

#include "ui_RandomGame.h"

#include <QSettings>

RandomGame::RandomGame(QWidget *parent) : QWidget(parent), ui(std::make_unique<Ui::RandomGame>())
{
    ui->setupUi(this);
    setAttribute(Qt::WA_StyledBackground);
    connect(&m_timer, &QTimer::timeout, this, &RandomGame::onGameTimer);
}

RandomGame::~RandomGame() = default;

void RandomGame::showGame(QSettings *settings)
{
    m_settings = settings;
    ui->winnerTextLineEdit->setText(m_settings->value("WIN_TEXT", tr("You WON !!!")).toString());
    ui->notWinnerTextLineEdit->setText(
        m_settings->value("LOSE_TEXT", tr("Sorry, don't be sad.")).toString());
    raise();
    show();
}

void RandomGame::on_cmdStart_clicked()
{
    if (!m_round.isRunning())
        startGame();
}

void RandomGame::startGame()
{
    ui->winCodeLineEdit->setText("wait...");
    m_round.start();
    m_timer.start(RandomGameRound::kTickMs);
    if (m_settings) {
        m_settings->setValue("WIN_TEXT", ui->winnerTextLineEdit->text());
        m_settings->setValue("LOSE_TEXT", ui->notWinnerTextLineEdit->text());
    }
    ui->cmdStart->setEnabled(false);
}

void RandomGame::onGameTimer()
{
    const RandomGameRound::Step step = m_round.advance();
    switch (step.kind) {
    case RandomGameRound::Step::Kind::Idle:
        return;
    case RandomGameRound::Step::Kind::Progress:
        emit randomGameTick(step.clr, step.proc);
        ui->winCodeLineEdit->setText(QString("wait... %1 %").arg(step.proc));
        return;
    case RandomGameRound::Step::Kind::Finish:
        ui->winCodeLineEdit->setText(step.code);
        m_timer.stop();
        emit randomGameFinish(ui->notWinnerTextLineEdit->text(), ui->winnerTextLineEdit->text(),
                              step.code);
        ui->cmdStart->setEnabled(true);
        return;
    }
}
