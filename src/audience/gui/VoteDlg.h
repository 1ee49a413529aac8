#pragma once

#include <QStringList>
#include <QVector>
#include <QWidget>
#include <array>
#include <memory>

class QLabel;
class QLineEdit;
class QSettings;
class VoteRun;

namespace Ui {
class VoteDlg;
}

// The presenter's voting window, the view of the vote run: a header, five options and a
// duration; while the vote runs it shows counts, shares and the time left at each of the run's
// ticks. Closing the window only hides it: the vote runs on. GUI thread only.
class VoteDlg : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kOptionCount = 5;

    // The run is not owned and must outlive the window.
    explicit VoteDlg(VoteRun *run, QWidget *parent = nullptr);
    ~VoteDlg() override;

    // Loads the form from the settings (not owned, must outlive the window), points the
    // "web view" link at baseUrl + "/vote_result.html", and shows the window.
    void showVote(QSettings *settings, const QString &baseUrl);

    // The options of the running (or last) vote: always five entries once a vote has started.
    const QStringList &options() const;
    // The last tally read; ten zeros before the first reading.
    const QVector<qint32> &votes() const;

    // "no clients" for a total of 0, else "votes: V from  T ( P % )".
    static QString resultText(qint32 votes, qint32 total);

public slots:
    void on_cmdStart_clicked(bool checked);

private:
    void startVote();
    void showTick();
    void showStopped();
    void showResults();
    void clearResults();
    void setEditsEnabled(bool enabled);
    void loadSettings();
    void saveSettings(const QString &title);
    std::array<QLineEdit *, kOptionCount> optionEdits() const;
    std::array<QLabel *, kOptionCount> resultLabels() const;

    VoteRun *m_run;
    std::unique_ptr<Ui::VoteDlg> ui;
    QSettings *m_settings = nullptr;
};
