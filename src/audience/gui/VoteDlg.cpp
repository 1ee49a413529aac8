#include "audience/gui/VoteDlg.h"

#include "audience/VoteRun.h"
#include "audience/VoteState.h"
#include "relay/CommandMessages.h"
#include "ui_VoteDlg.h"

#include <QSettings>

namespace {

QString optionKey(int option)
{
    return QString("VOTE_OPTION_%1").arg(option);
}

} // namespace

VoteDlg::VoteDlg(VoteRun *run, QWidget *parent)
    : QWidget(parent), m_run(run), ui(std::make_unique<Ui::VoteDlg>())
{
    ui->setupUi(this);
    setAttribute(Qt::WA_StyledBackground);
    setWindowTitle(tr("Vote"));
    // What the pages get at most: longer would be cut on its way there.
    ui->headerLineEdit->setMaxLength(CommandMessages::kMaxTitleChars);
    for (QLineEdit *edit : optionEdits())
        edit->setMaxLength(CommandMessages::kMaxOptionChars);
    connect(m_run, &VoteRun::ticked, this, &VoteDlg::showTick);
    connect(m_run, &VoteRun::stopped, this, &VoteDlg::showStopped);
    clearResults();
    ui->cmdStart->setText(tr("Start Vote"));
}

VoteDlg::~VoteDlg() = default;

const QStringList &VoteDlg::options() const
{
    return m_run->vote().options();
}

const QVector<qint32> &VoteDlg::votes() const
{
    return m_run->vote().tally();
}

void VoteDlg::showVote(QSettings *settings, const QString &baseUrl)
{
    m_settings = settings;
    loadSettings();
    ui->lblURL->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::LinksAccessibleByMouse |
                                        Qt::LinksAccessibleByKeyboard);
    ui->lblURL->setOpenExternalLinks(true);
    ui->lblURL->setCursor(Qt::PointingHandCursor);
    ui->lblURL->setText(
        QString("<a style='color:white;' href='%1/vote_result.html'>web view</a>").arg(baseUrl));
    raise();
    show();
}

QString VoteDlg::resultText(qint32 votes, qint32 total)
{
    if (total == 0)
        return tr("no clients");
    const float percent = float(qint64(votes) * 100) / float(total);
    return "votes: " + QString::number(votes) + " from  " + QString::number(total) + " ( " +
           QString::number(double(percent), 'g', 6) + " % )";
}

void VoteDlg::on_cmdStart_clicked(bool checked)
{
    if (checked)
        startVote();
    else
        m_run->stop();
}

void VoteDlg::startVote()
{
    clearResults();
    QStringList options;
    for (QLineEdit *edit : optionEdits())
        options.append(edit->text().trimmed());
    setEditsEnabled(false);
    const QString title = ui->headerLineEdit->text().trimmed();
    m_run->start(title, options, ui->spbDuration->value());
    saveSettings(title);
    ui->cmdStart->setText(tr("Break"));
}

void VoteDlg::showTick()
{
    showResults();
    ui->lblStat->setText(tr("time left: ") + QString::number(m_run->secondsLeft()));
}

void VoteDlg::showStopped()
{
    showResults();
    ui->lblStat->clear();
    setEditsEnabled(true);
    ui->cmdStart->setText(tr("Start Vote"));
    ui->cmdStart->setChecked(false);
}

void VoteDlg::showResults()
{
    const VoteState::Tally &tally = m_run->vote().tally();
    const qint32 total = tally.value(0);
    const auto labels = resultLabels();
    for (int k = 1; k <= kOptionCount; ++k)
        labels[k - 1]->setText(resultText(tally.value(k), total));
}

void VoteDlg::clearResults()
{
    for (QLabel *label : resultLabels())
        label->clear();
    ui->lblStat->clear();
}

void VoteDlg::setEditsEnabled(bool enabled)
{
    ui->headerLineEdit->setEnabled(enabled);
    for (QLineEdit *edit : optionEdits())
        edit->setEnabled(enabled);
}

void VoteDlg::loadSettings()
{
    if (!m_settings)
        return;
    ui->headerLineEdit->setText(
        m_settings->value("VOTE_TITLE", tr("Select one option")).toString());
    const auto edits = optionEdits();
    for (int k = 1; k <= kOptionCount; ++k)
        edits[k - 1]->setText(m_settings->value(optionKey(k)).toString());
    ui->spbDuration->setValue(m_settings->value("VOTE_DUR", 60).toInt());
}

void VoteDlg::saveSettings(const QString &title)
{
    if (!m_settings)
        return;
    m_settings->setValue("VOTE_TITLE", title);
    for (int k = 1; k <= kOptionCount; ++k)
        m_settings->setValue(optionKey(k), options().at(k - 1));
    m_settings->setValue("VOTE_DUR", ui->spbDuration->value());
}

std::array<QLineEdit *, VoteDlg::kOptionCount> VoteDlg::optionEdits() const
{
    return {ui->option1LineEdit, ui->option2LineEdit, ui->option3LineEdit, ui->option4LineEdit,
            ui->option5LineEdit};
}

std::array<QLabel *, VoteDlg::kOptionCount> VoteDlg::resultLabels() const
{
    return {ui->lblOption1, ui->lblOption2, ui->lblOption3, ui->lblOption4, ui->lblOption5};
}
