#pragma once

#include <QStringList>
#include <QTimer>
#include <QVector>
#include <QWidget>
#include <array>
#include <memory>

class QLabel;
class QLineEdit;
class QSettings;
class VoteState;

namespace Ui {
class VoteDlg;
}

// The presenter's voting window, the view of the core vote: a header, five options and a
// duration; while a vote runs it refreshes the vote's tally from the active relay twice a second
// and shows counts, shares and the time left. GUI thread only.
class VoteDlg : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kTickMs = 500;
    static constexpr int kOptionCount = 5;

    // The vote is not owned and must outlive the window.
    explicit VoteDlg(VoteState *vote, QWidget *parent = nullptr);
    ~VoteDlg() override;

    // Loads the form from the settings (not owned, must outlive the window), points the
    // "web view" link at baseUrl + "/vote_result.html", and shows the window.
    void showVote(QSettings *settings, const QString &baseUrl);

    // The options of the running (or last) vote: always five entries once a vote has started.
    const QStringList &options() const;
    // The last tally read; ten zeros before the first tick.
    const QVector<qint32> &votes() const;

    // "no clients" for a total of 0, else "votes: V from  T ( P % )".
    static QString resultText(qint32 votes, qint32 total);

signals:
    void voteStart(QString title, QStringList options);
    void voteStop();

public slots:
    void onVoteTimer();
    void on_cmdStart_clicked(bool checked);

private:
    void startVote();
    void stopVote();
    void showResults();
    void clearResults();
    void setEditsEnabled(bool enabled);
    void loadSettings();
    void saveSettings(const QString &title);
    std::array<QLineEdit *, kOptionCount> optionEdits() const;
    std::array<QLabel *, kOptionCount> resultLabels() const;

    VoteState *m_vote;
    std::unique_ptr<Ui::VoteDlg> ui;
    QSettings *m_settings = nullptr;
    QTimer m_timer;
    qint32 m_duration = 0;
    qint32 m_elapsed = 0;
};
