#pragma once

#include <QStringList>
#include <QTimer>
#include <QVector>
#include <QWidget>
#include <array>
#include <functional>
#include <memory>

class QLabel;
class QLineEdit;
class QSettings;

namespace Ui {
class VoteDlg;
}

// The presenter's voting window: a header, five options and a duration; while a vote runs it
// polls the active relay's tally twice a second and shows counts, shares and the time left.
// GUI thread only.
class VoteDlg : public QWidget
{
    Q_OBJECT
public:
    // Returns the active relay's tally: entry 0 the viewers the vote was sent to, entry k the
    // votes for option k. Called on the GUI thread at every tick of a running vote.
    using TallySource = std::function<QVector<qint32>()>;

    static constexpr int kTickMs = 500;
    static constexpr int kOptionCount = 5;

    explicit VoteDlg(QWidget *parent = nullptr);
    ~VoteDlg() override;

    // Loads the form from the settings (not owned, must outlive the window), points the
    // "web view" link at baseUrl + "/vote_result.html", and shows the window. The tally source
    // reads the relay of the current mode: the local relay server or the cloud relay client.
    void showVote(QSettings *settings, TallySource tally, const QString &baseUrl);

    // The options of the running (or last) vote: always five entries once a vote has started.
    const QStringList &options() const { return m_options; }
    // The last tally read; ten zeros before the first tick.
    const QVector<qint32> &votes() const { return m_votes; }

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
    void clearResults();
    void setEditsEnabled(bool enabled);
    void loadSettings();
    void saveSettings(const QString &title);
    std::array<QLineEdit *, kOptionCount> optionEdits() const;
    std::array<QLabel *, kOptionCount> resultLabels() const;

    QStringList m_options;
    QVector<qint32> m_votes;
    std::unique_ptr<Ui::VoteDlg> ui;
    QSettings *m_settings = nullptr;
    TallySource m_tally;
    QTimer m_timer;
    qint32 m_duration = 0;
    qint32 m_elapsed = 0;
};
