#pragma once

#include "audience/RandomGameRound.h"

#include <QTimer>
#include <QWidget>
#include <memory>

class QSettings;

namespace Ui {
class RandomGame;
}

// The presenter's random winner window: the texts the winner and the other viewers will see,
// and "Start Game", which runs one round of ticks towards the relays and ends with the check
// code that the relay hands to the one winner. A round cannot be cancelled; closing the window
// only hides it. GUI thread only.
class RandomGame : public QWidget
{
    Q_OBJECT
public:
    explicit RandomGame(QWidget *parent = nullptr);
    ~RandomGame() override;

    // Loads both texts from the settings (not owned, must outlive the window) and shows the
    // window on top.
    void showGame(QSettings *settings);
    bool isRunning() const { return m_round.isRunning(); }
    // The colour table of the current (or last) round; empty before the first.
    const QVector<QColor> &colours() const { return m_round.colours(); }

signals:
    void randomGameTick(QString clr, int proc);
    void randomGameFinish(QString lose_txt, QString win_txt, QString win_code);

public slots:
    void on_cmdStart_clicked();
    // One tick of the game clock.
    void onGameTimer();

private:
    void startGame();

    std::unique_ptr<Ui::RandomGame> ui;
    QTimer m_timer;
    RandomGameRound m_round;
    QSettings *m_settings = nullptr;
};
