#pragma once

#include <QWidget>
#include <memory>

class DrawRun;
class QSettings;

namespace Ui {
class RandomGame;
}

// The presenter's random winner window, the view of the draw run: the texts the winner and the
// other viewers will see, and "Start Game", which starts one round; it shows the progress and
// then the check code that the relay hands to the one winner. Closing the window only hides it:
// the round runs on to its finish. GUI thread only.
class RandomGame : public QWidget
{
    Q_OBJECT
public:
    // The run is not owned and must outlive the window.
    explicit RandomGame(DrawRun *run, QWidget *parent = nullptr);
    ~RandomGame() override;

    // Loads both texts from the settings (not owned, must outlive the window) and shows the
    // window on top.
    void showGame(QSettings *settings);

public slots:
    void on_cmdStart_clicked();

private:
    void passTexts();
    void showProgress(int proc);
    void showFinish(const QString &code);

    std::unique_ptr<Ui::RandomGame> ui;
    DrawRun *m_run;
    QSettings *m_settings = nullptr;
};
