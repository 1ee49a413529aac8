#include "audience/gui/VoteDlg.h"

#include "audience/VoteState.h"
#include "ui_VoteDlg.h"

#include <QSettings>

namespace {

QString optionKey(int option)
{
    return QString("VOTE_OPTION_%1").arg(option);
}

} // namespace

VoteDlg::VoteDlg(VoteState *vote, QWidget *parent)
    : QWidget(parent), m_vote(vote), ui(std::make_unique<Ui::VoteDlg>())
{
    ui->setupUi(this);
    setAttribute(Qt::WA_StyledBackground);
    setWindowTitle(tr("Vote"));
    connect(&m_timer, &QTimer::timeout, this, &VoteDlg::onVoteTimer);
    clearResults();
    ui->cmdStart->setText(tr("Start Vote"));
}

VoteDlg::~VoteDlg() = default;

const QStringList &VoteDlg::options() const
{
    return m_vote->options();
}

const QVector<qint32> &VoteDlg::votes() const
{
    return m_vote->tally();
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
        stopVote();
}

void VoteDlg::onVoteTimer()
{
    m_elapsed += kTickMs;
    if (m_elapsed > m_duration) {
        stopVote();
        return;
    }
    m_vote->refresh();
    showResults();
    const int secondsLeft = int((m_duration - m_elapsed) / 1000.0);
    ui->lblStat->setText(tr("time left: ") + QString::number(secondsLeft));
}

void VoteDlg::startVote()
{
    clearResults();
    m_duration = ui->spbDuration->value() * 1000;
    QStringList options;
    for (QLineEdit *edit : optionEdits())
        options.append(edit->text().trimmed());
    m_vote->start(options);
    setEditsEnabled(false);
    const QString title = ui->headerLineEdit->text().trimmed();
    emit voteStart(title, options);
    saveSettings(title);
    m_elapsed = 0;
    m_timer.start(kTickMs);
    ui->cmdStart->setText(tr("Break"));
}

void VoteDlg::stopVote()
{
    m_timer.stop();
    m_vote->stop();
    showResults();
    emit voteStop();
    ui->lblStat->clear();
    setEditsEnabled(true);
    ui->cmdStart->setText(tr("Start Vote"));
    ui->cmdStart->setChecked(false);
}

void VoteDlg::showResults()
{
    const VoteState::Tally &tally = m_vote->tally();
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
