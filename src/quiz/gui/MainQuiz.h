#pragma once

#include "quiz/QuizCatalog.h"
#include "quiz/QuizFile.h"
#include "quiz/gui/ISquiz.h"

#include <QMainWindow>
#include <QSize>
#include <memory>

class QGridLayout;
class QResizeEvent;

namespace Ui {
class MainQuiz;
}

// The quiz list window: one tile per quiz file, ordered by title, as many per row as fit;
// creates and edits quizzes in the quiz editor, deletes and imports quiz files. The list is read
// from the folder once, at construction. GUI thread only.
class MainQuiz : public QMainWindow, public ISquiz
{
    Q_OBJECT
public:
    // Makes sure `folder` exists and lists the quizzes in it. Tiles are a sixth of the
    // desktop's width and a quarter of its height. Quiz names take their time of day from
    // `timeOfDay`.
    MainQuiz(const QString &folder, const QSize &desktopSize,
             QuizFile::TimeOfDaySource timeOfDay = &QTime::currentTime, QWidget *parent = nullptr);
    ~MainQuiz() override;

    void showWindow() override;
    void hideWindow() override;
    void setPlayHandler(PlayHandler play) override { m_play = std::move(play); }

    // The listed quizzes, in the order of their tiles after the last grid build.
    const QuizCatalog &quizzes() const { return m_quizzes; }

public slots:
    // A "Delite" button: deletes its tile's quiz file after a confirmation.
    void deleteOneQuiz();
    // "Create Quiz", or an "Edit" button: runs the quiz editor and lists what it saved.
    void showEditor();
    // A "Play" button: plays its tile's quiz live with the audience.
    void playOneQuiz();
    // Copies a JSON file the presenter picks into the quiz folder and lists it.
    void on_exportFile_triggered();

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    // The list position of the clicked tile's quiz, -1 when the sender is not a tile button.
    int clickedPosition() const;
    QWidget *makeTile(const QuizInfo &quiz, int number);
    void buildGrid();
    void pruneAndRebuild();

    std::unique_ptr<Ui::MainQuiz> ui;
    QuizFile::TimeOfDaySource m_timeOfDay;
    int m_rows = 0;
    int m_columns = 0;
    int m_tileWidth = 0;
    int m_tileHeight = 0;
    QuizCatalog m_quizzes;
    int m_count = 0;
    QGridLayout *m_grid = nullptr;
    PlayHandler m_play;
};
