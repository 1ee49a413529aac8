#include "audience/gui/RandomGame.h"

#include "audience/DrawRun.h"
#include "relay/CommandMessages.h"
#include "ui_RandomGame.h"

#include <QSettings>

RandomGame::RandomGame(DrawRun *run, QWidget *parent)
    : QWidget(parent), ui(std::make_unique<Ui::RandomGame>()), m_run(run)
{
    ui->setupUi(this);
    setAttribute(Qt::WA_StyledBackground);
    connect(m_run, &DrawRun::progressed, this,
            [this](const QString &, int proc) { showProgress(proc); });
    connect(m_run, &DrawRun::finished, this,
            [this](const QString &, const QString &, const QString &code) { showFinish(code); });
    // The finish carries the texts as they are then, not as they were at the start.
    for (QLineEdit *edit : {ui->winnerTextLineEdit, ui->notWinnerTextLineEdit}) {
        // What the pages get at most: longer would be cut on its way there.
        edit->setMaxLength(CommandMessages::kMaxTitleChars);
        connect(edit, &QLineEdit::textChanged, this, &RandomGame::passTexts);
    }
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
    if (m_run->isRunning())
        return;
    ui->winCodeLineEdit->setText("wait...");
    m_run->start(ui->winnerTextLineEdit->text(), ui->notWinnerTextLineEdit->text());
    if (m_settings) {
        m_settings->setValue("WIN_TEXT", ui->winnerTextLineEdit->text());
        m_settings->setValue("LOSE_TEXT", ui->notWinnerTextLineEdit->text());
    }
    ui->cmdStart->setEnabled(false);
}

void RandomGame::passTexts()
{
    if (m_run->isRunning())
        m_run->setTexts(ui->winnerTextLineEdit->text(), ui->notWinnerTextLineEdit->text());
}

void RandomGame::showProgress(int proc)
{
    ui->winCodeLineEdit->setText(QString("wait... %1 %").arg(proc));
}

void RandomGame::showFinish(const QString &code)
{
    ui->winCodeLineEdit->setText(code);
    ui->cmdStart->setEnabled(true);
}
