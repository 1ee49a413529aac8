#pragma once

#include "quiz/QuizFile.h"
#include "quiz/QuizInfo.h"

#include <QDialog>
#include <QJsonArray>
#include <QList>
#include <array>
#include <memory>

class QCheckBox;
class QCloseEvent;
class QLineEdit;
class QVBoxLayout;

namespace Ui {
class QuizEditor;
}

// The modal dialog in which the presenter writes one quiz: a title and questions of four
// answer options each, the first one right. It writes the quiz file itself, named after the
// title and the time of the save. GUI thread only.
class QuizEditor : public QDialog
{
    Q_OBJECT
public:
    // Saves into `folder`; the time of day for file names comes from `timeOfDay`.
    explicit QuizEditor(QString folder, QuizFile::TimeOfDaySource timeOfDay = &QTime::currentTime,
                        QWidget *parent = nullptr);
    ~QuizEditor() override;

    // Shows a listed quiz for editing; its file is the one later saves rewrite and rename.
    void loadQuiz(const QuizInfo &quiz);
    // The quiz as its file holds it now: as loaded, or as saved last in this editor (edits
    // that were not saved are not in it). An empty title when there is no such file.
    QuizInfo result() const;
    // Whether the editor was closed with "Play": its saved quiz is to be played live.
    bool playRequested() const { return m_playRequested; }

public slots:
    void addOneQuestion();
    // Ctrl+S and "Save": saves under the title in the title field.
    void saveQuize();
    // "Play": saves unsaved changes, then closes with the quiz to be played.
    void playQuiz();
    // A question's selection box changed: marks its frame and counts the selection.
    void changeCheckBox();
    // Any edit of the title or a question.
    void changeText();
    void deleteQuestions();
    // Follows a question added at the bottom.
    void changeSlider(int min, int max);

protected:
    // Asks to save unsaved changes before closing.
    void closeEvent(QCloseEvent *event) override;
    // Escape closes like the window's close button, so unsaved changes are asked about too.
    void reject() override;

private:
    struct QuestionFrame
    {
        QWidget *frame = nullptr;
        QLineEdit *title = nullptr;
        std::array<QLineEdit *, QuizFile::kOptionCount> options{};
        QCheckBox *selection = nullptr;
    };

    void makeQuestion(const QuizFile::Question &content);
    QJsonArray editedQuestions() const;
    void writeQuiz();
    void markUnsaved();
    void showSelectionCount(int selected);

    std::unique_ptr<Ui::QuizEditor> ui;
    QString m_folder;
    QuizFile::TimeOfDaySource m_timeOfDay;
    bool m_editing = false;
    bool m_saved = true;
    bool m_playRequested = false;
    // Numbers the selection boxes; never reused within one editor.
    int m_counter = 0;
    QVBoxLayout *m_questionsLayout = nullptr;
    QString m_name;
    QString m_title;
    QJsonArray m_questions;
    // The questions shown, in display order.
    QList<QuestionFrame> m_shown;
};
