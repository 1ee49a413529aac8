#include "quiz/gui/QuizEditor.h"

#include "quiz/QuizSave.h"
#include "ui_QuizEditor.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QDebug>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMessageBox>
#include <QScrollBar>
#include <QShortcut>
#include <QVBoxLayout>

namespace {

const char *const kFrameStyle = "border: 1px solid #555;background-color: #050F15;"
                                "border-radius:15%;";
const char *const kSelectedFrameStyle = "border: 1px solid #555;border-radius:15%;"
                                        "background-color: #102780;";
constexpr int kFrameHeight = 120;

} // namespace

QuizEditor::QuizEditor(QString folder, QuizFile::TimeOfDaySource timeOfDay, QWidget *parent)
    : QDialog(parent), ui(std::make_unique<Ui::QuizEditor>()), m_folder(std::move(folder)),
      m_timeOfDay(std::move(timeOfDay))
{
    ui->setupUi(this);
    setWindowTitle(tr("Quize editor"));
    ui->mainTitle->setPlaceholderText(tr("Quize name"));
    m_questionsLayout = new QVBoxLayout(ui->scrollAreaWidgetContents);
    m_questionsLayout->setAlignment(Qt::AlignTop);
    m_questionsLayout->setSpacing(10);

    connect(ui->btAdd, &QPushButton::clicked, this, &QuizEditor::addOneQuestion);
    connect(ui->btSave, &QPushButton::clicked, this, &QuizEditor::saveQuize);
    connect(ui->btPlay, &QPushButton::clicked, this, &QuizEditor::playQuiz);
    connect(ui->btDel, &QPushButton::clicked, this, &QuizEditor::deleteQuestions);
    connect(ui->scrollAreaQuizeEd->verticalScrollBar(), &QScrollBar::rangeChanged, this,
            &QuizEditor::changeSlider);
    connect(ui->mainTitle, &QLineEdit::textEdited, this, &QuizEditor::changeText);
    // Works while the Save button is disabled, too.
    auto *save = new QShortcut(QKeySequence(Qt::CTRL + Qt::Key_S), this);
    connect(save, &QShortcut::activated, this, &QuizEditor::saveQuize);
}

QuizEditor::~QuizEditor() = default;

void QuizEditor::loadQuiz(const QuizInfo &quiz)
{
    m_editing = true;
    m_name = quiz.name;
    m_title = quiz.title;
    m_questions = quiz.questions;
    ui->mainTitle->setText(m_title);
    for (const QJsonValue &question : m_questions)
        makeQuestion(QuizFile::Question::fromJson(question));
}

QuizInfo QuizEditor::result() const
{
    return {m_name, m_title, m_questions};
}

void QuizEditor::makeQuestion(const QuizFile::Question &content)
{
    static const char *const kPlaceholders[QuizFile::kOptionCount] = {
        QT_TR_NOOP("oprion_1 (answer)"), QT_TR_NOOP("oprion_2"), QT_TR_NOOP("oprion_3"),
        QT_TR_NOOP("oprion_4")};
    QuestionFrame question;
    question.frame = new QWidget;
    question.frame->setFixedHeight(kFrameHeight);
    question.frame->setStyleSheet(kFrameStyle);
    auto *layout = new QVBoxLayout(question.frame);
    layout->setSpacing(10);

    auto *titleRow = new QHBoxLayout;
    question.title = new QLineEdit(content.title);
    question.title->setPlaceholderText(tr("Question"));
    question.selection = new QCheckBox;
    question.selection->setStyleSheet("border:none;");
    question.selection->setObjectName("checkBox-" + QString::number(m_counter++));
    titleRow->addWidget(question.title);
    titleRow->addWidget(question.selection);
    layout->addLayout(titleRow);

    // Options 1 and 2 down the first column, 3 and 4 down the second.
    auto *grid = new QGridLayout;
    grid->setSpacing(10);
    for (int k = 0; k < QuizFile::kOptionCount; ++k) {
        question.options[k] = new QLineEdit(content.options.value(k));
        question.options[k]->setPlaceholderText(tr(kPlaceholders[k]));
        grid->addWidget(question.options[k], k % 2, k / 2);
    }
    layout->addLayout(grid);

    connect(question.title, &QLineEdit::textEdited, this, &QuizEditor::changeText);
    for (QLineEdit *option : question.options)
        connect(option, &QLineEdit::textEdited, this, &QuizEditor::changeText);
    connect(question.selection, &QCheckBox::stateChanged, this, &QuizEditor::changeCheckBox);
    m_shown.append(question);
    m_questionsLayout->addWidget(question.frame);
}

void QuizEditor::addOneQuestion()
{
    makeQuestion(QuizFile::Question::fromJson(QJsonValue()));
    markUnsaved();
    m_shown.last().title->setFocus();
}

void QuizEditor::markUnsaved()
{
    m_saved = false;
    ui->btSave->setEnabled(true);
}

void QuizEditor::changeText()
{
    if (m_saved)
        markUnsaved();
}

void QuizEditor::changeSlider(int /*min*/, int max)
{
    ui->scrollAreaQuizeEd->verticalScrollBar()->setSliderPosition(max);
}

void QuizEditor::changeCheckBox()
{
    int selected = 0;
    for (const QuestionFrame &question : m_shown) {
        if (question.selection == sender())
            question.frame->setStyleSheet(question.selection->isChecked() ? kSelectedFrameStyle
                                                                          : kFrameStyle);
        if (question.selection->isChecked())
            ++selected;
    }
    showSelectionCount(selected);
}

void QuizEditor::showSelectionCount(int selected)
{
    if (selected == 0) {
        ui->btDel->setEnabled(false);
        ui->btDel->setText(tr("Delete Selected"));
        ui->btDel->setSizePolicy(QSizePolicy::Minimum, QSizePolicy::Fixed);
        return;
    }
    ui->btDel->setEnabled(true);
    ui->btDel->setSizePolicy(QSizePolicy::MinimumExpanding, QSizePolicy::Fixed);
    ui->btDel->setText(tr("Delete Selected (%1)").arg(selected));
}

void QuizEditor::deleteQuestions()
{
    for (int position = m_shown.size() - 1; position >= 0; --position) {
        const QuestionFrame &question = m_shown.at(position);
        if (!question.selection->isChecked())
            continue;
        m_questionsLayout->removeWidget(question.frame);
        // The click that got here may still be on its way through this frame's widgets.
        question.frame->hide();
        question.frame->deleteLater();
        m_shown.removeAt(position);
    }
    m_questionsLayout->update();
    showSelectionCount(0);
    markUnsaved();
}

QJsonArray QuizEditor::editedQuestions() const
{
    QJsonArray questions;
    for (const QuestionFrame &question : m_shown) {
        QuizFile::Question content;
        content.title = question.title->text();
        for (const QLineEdit *option : question.options)
            content.options.append(option->text());
        questions.append(content.toJson());
    }
    return questions;
}

void QuizEditor::saveQuize()
{
    if (ui->mainTitle->text().trimmed().isEmpty()) {
        QMessageBox::warning(this, "Warning", tr("Please, enter Quize name."));
        return;
    }
    writeQuiz();
    ui->btSave->setEnabled(!m_saved);
}

void QuizEditor::playQuiz()
{
    if (!m_saved)
        saveQuize();
    if (!m_saved || result().title.isEmpty())
        return;
    m_playRequested = true;
    accept();
}

void QuizEditor::writeQuiz()
{
    QuizSave::Request request;
    request.folder = m_folder;
    request.editing = m_editing;
    request.name = m_name;
    request.title = ui->mainTitle->text().trimmed();
    request.questions = editedQuestions();
    request.time = m_timeOfDay();
    const QuizSave::Result saved = QuizSave::save(request);
    switch (saved.outcome) {
    case QuizSave::Outcome::NameExists:
        QMessageBox::warning(this, "Warning",
                             tr("The file name already exists.\nPlease change name."));
        return;
    case QuizSave::Outcome::WriteFailed:
        qWarning().noquote() << "QUIZ: cannot save" << saved.errorText;
        QMessageBox::critical(this, "Error", "Error open file.");
        return;
    case QuizSave::Outcome::Saved:
        break;
    }
    m_name = saved.name;
    m_title = request.title;
    m_questions = request.questions;
    m_saved = true;
    m_editing = true;
}

void QuizEditor::closeEvent(QCloseEvent *event)
{
    if (m_saved) {
        event->accept();
        return;
    }
    const auto answer = QMessageBox::warning(
        this, "Warning", tr("Save changes?"),
        QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, QMessageBox::Yes);
    if (answer == QMessageBox::No) {
        event->accept();
        return;
    }
    if (answer == QMessageBox::Yes)
        saveQuize();
    // An empty title or a failed save keeps the dialog open with the edits.
    if (answer == QMessageBox::Yes && m_saved)
        event->accept();
    else
        event->ignore();
}

void QuizEditor::reject()
{
    close();
}
