#include "EditorProbe.h"
#include "MessageBoxAnswer.h"
#include "QuizFixture.h"
#include "quiz/QuizFile.h"
#include "quiz/gui/QuizEditor.h"

#include <QApplication>
#include <QGridLayout>
#include <QtTest>
#include <memory>

class TestQuizEditor : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void startsSavedAndEmpty();
    void questionFrameLayout();
    void newQuizIsSavedThenRenamed();
    void oneFilledOptionSavesFour();
    void selectingAndDeletingQuestions();
    void emptyTitleBlocksSaving();
    void closing_data();
    void closing();
    void escapeAsksLikeClosing();
    void moreThanFourOptionsLoadAsFour();
    void savedQuizLoadsBackTheSame();
    void failedWriteIsReportedAndCanBeRetried();
    void discardedEditsAfterASaveKeepTheSavedQuiz();

private:
    QuizEditor &open();
    QuizInfo loadFrom(const QString &relative);

    std::unique_ptr<QuizFixture> m_fixture;
    std::unique_ptr<QuizEditor> m_editor;
    std::unique_ptr<EditorProbe> m_probe;
};

void TestQuizEditor::init()
{
    m_fixture = std::make_unique<QuizFixture>();
    QVERIFY(QDir().mkpath(m_fixture->folder()));
    m_editor = std::make_unique<QuizEditor>(m_fixture->folder(), m_fixture->clock());
    m_probe = std::make_unique<EditorProbe>(*m_editor);
}

void TestQuizEditor::cleanup()
{
    m_probe.reset();
    m_editor.reset();
    m_fixture.reset();
}

QuizEditor &TestQuizEditor::open()
{
    m_editor->show();
    QApplication::setActiveWindow(m_editor.get());
    [&] {
        QVERIFY(QTest::qWaitForWindowActive(m_editor.get()));
    }();
    return *m_editor;
}

QuizInfo TestQuizEditor::loadFrom(const QString &relative)
{
    const QuizInfo quiz = QuizFile::read(m_fixture->path(relative));
    m_editor->loadQuiz(quiz);
    return quiz;
}

void TestQuizEditor::startsSavedAndEmpty()
{
    open();
    QCOMPARE(m_editor->windowTitle(), QString("Quize editor"));
    QCOMPARE(m_probe->title()->placeholderText(), QString("Quize name"));
    QCOMPARE(m_probe->title()->maxLength(), 192);
    QVERIFY(!m_probe->button("btSave")->isEnabled());
    QVERIFY(!m_probe->button("btDel")->isEnabled());
    QVERIFY(m_probe->frames().isEmpty());
    m_editor->close();
    QVERIFY(!m_editor->isVisible());
    QVERIFY(m_editor->result().title.isEmpty());
    QVERIFY(m_fixture->files().isEmpty());
}

void TestQuizEditor::questionFrameLayout()
{
    open();
    m_probe->addQuestion("q");
    QWidget *frame = m_probe->frames().first();
    QCOMPARE(frame->height(), 120);
    QCOMPARE(m_probe->selection(0)->objectName(), QString("checkBox-0"));
    auto *grid = frame->findChild<QGridLayout *>();
    QVERIFY(grid);
    // Options 1 and 2 down the first column, 3 and 4 down the second.
    const QList<QPoint> cells{{0, 0}, {1, 0}, {0, 1}, {1, 1}};
    const QList<QLineEdit *> edits = m_probe->edits(0);
    for (int option = 0; option < 4; ++option) {
        int row = 0, column = 0, rowSpan = 0, columnSpan = 0;
        grid->getItemPosition(grid->indexOf(edits.at(option + 1)), &row, &column, &rowSpan,
                              &columnSpan);
        QCOMPARE(QPoint(row, column), cells.at(option));
    }
    m_probe->addQuestion("r");
    QCOMPARE(m_probe->selection(1)->objectName(), QString("checkBox-1"));
}

void TestQuizEditor::newQuizIsSavedThenRenamed()
{
    open();
    m_probe->type(m_probe->title(), " Physics ");
    QVERIFY(m_probe->button("btSave")->isEnabled());
    m_probe->addQuestion(" Speed of light? ", {" c ", "2c", "0", "c/2"});
    QCOMPARE(m_probe->edits(0).first(), QApplication::focusWidget());

    m_fixture->now = QTime(14, 5, 9);
    m_probe->pressCtrlS();
    QCOMPARE(m_fixture->files(), QStringList{"Physics-14-05-09.json"});
    const QJsonObject saved = QuizFixture::readJson(m_fixture->path("Physics-14-05-09.json"));
    QCOMPARE(saved.value("title"), QJsonValue("Physics"));
    const QJsonObject question = saved.value("questions").toArray().first().toObject();
    QCOMPARE(question.value("title"), QJsonValue("Speed of light?"));
    QCOMPARE(question.value("options").toArray(), (QJsonArray{"c", "2c", "0", "c/2"}));
    QVERIFY(!m_probe->button("btSave")->isEnabled());
    QCOMPARE(m_editor->result().name, QString("Physics-14-05-09"));

    // Ctrl+S saves while the Save button is disabled.
    m_fixture->now = QTime(14, 6, 0);
    m_probe->pressCtrlS();
    QCOMPARE(m_fixture->files(), QStringList{"Physics-14-06-00.json"});
    const QuizInfo result = m_editor->result();
    QCOMPARE(result.name, QString("Physics-14-06-00"));
    QCOMPARE(result.title, QString("Physics"));
    QCOMPARE(result.questions, saved.value("questions").toArray());
}

void TestQuizEditor::oneFilledOptionSavesFour()
{
    open();
    m_probe->type(m_probe->title(), "Geo");
    m_probe->addQuestion("Capital of France?", {"Paris"});
    m_probe->addQuestion("");
    m_fixture->now = QTime(8, 0, 1);
    QTest::mouseClick(m_probe->button("btSave"), Qt::LeftButton);
    const QJsonArray questions =
        QuizFixture::readJson(m_fixture->path("Geo-08-00-01.json")).value("questions").toArray();
    QCOMPARE(questions.size(), 2);
    QCOMPARE(questions.at(0).toObject().value("options").toArray(),
             (QJsonArray{"Paris", "", "", ""}));
    QCOMPARE(questions.at(1).toObject(),
             (QJsonObject{{"title", ""}, {"options", QJsonArray{"", "", "", ""}}}));
}

void TestQuizEditor::selectingAndDeletingQuestions()
{
    open();
    m_probe->type(m_probe->title(), "Five");
    for (const char *question : {"q0", "q1", "q2", "q3", "q4"})
        m_probe->addQuestion(question, {QString(question) + "-answer"});
    QPushButton *del = m_probe->button("btDel");

    m_probe->selection(1)->setChecked(true);
    m_probe->selection(3)->setChecked(true);
    QCOMPARE(del->text(), QString("Delete Selected (2)"));
    QVERIFY(del->isEnabled());
    QCOMPARE(del->sizePolicy().horizontalPolicy(), QSizePolicy::MinimumExpanding);
    QVERIFY(m_probe->frames().at(1)->styleSheet().contains("#102780"));
    QVERIFY(!m_probe->frames().at(0)->styleSheet().contains("#102780"));

    QTest::mouseClick(del, Qt::LeftButton);
    QCOMPARE(m_probe->questionTitles(), (QStringList{"q0", "q2", "q4"}));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    const auto scrollContents = m_probe->frames().first()->parentWidget();
    QCOMPARE(scrollContents->findChildren<QCheckBox *>().size(), 3);
    QCOMPARE(scrollContents->findChildren<QLineEdit *>().size(), 15);
    QCOMPARE(del->text(), QString("Delete Selected"));
    QVERIFY(!del->isEnabled());
    QCOMPARE(del->sizePolicy().horizontalPolicy(), QSizePolicy::Minimum);

    // A later selection marks the frame of the question that was selected.
    m_probe->selection(2)->setChecked(true);
    QVERIFY(m_probe->frames().at(2)->styleSheet().contains("#102780"));
    QVERIFY(!m_probe->frames().at(1)->styleSheet().contains("#102780"));
    QCOMPARE(del->text(), QString("Delete Selected (1)"));
    m_probe->selection(2)->setChecked(false);
    QVERIFY(!m_probe->frames().at(2)->styleSheet().contains("#102780"));
    QCOMPARE(del->text(), QString("Delete Selected"));

    m_probe->selection(0)->setChecked(true);
    QTest::mouseClick(del, Qt::LeftButton);
    QCOMPARE(m_probe->questionTitles(), (QStringList{"q2", "q4"}));

    m_fixture->now = QTime(10, 0, 0);
    m_probe->pressCtrlS();
    const QJsonArray saved =
        QuizFixture::readJson(m_fixture->path("Five-10-00-00.json")).value("questions").toArray();
    QCOMPARE(saved.size(), 2);
    QCOMPARE(saved.at(1).toObject().value("options").toArray().first(), QJsonValue("q4-answer"));
}

void TestQuizEditor::emptyTitleBlocksSaving()
{
    open();
    m_probe->type(m_probe->title(), "   ");
    m_probe->addQuestion("q");
    auto box = answerNextBox(QMessageBox::Ok);
    m_probe->pressCtrlS();
    QVERIFY(box->seen);
    QCOMPARE(box->title, QString("Warning"));
    QCOMPARE(box->text, QString("Please, enter Quize name."));
    QVERIFY(m_fixture->files().isEmpty());
    QVERIFY(m_probe->button("btSave")->isEnabled());
}

void TestQuizEditor::closing_data()
{
    QTest::addColumn<int>("answer");
    QTest::addColumn<bool>("staysOpen");
    QTest::addColumn<QString>("fileTitle");
    QTest::newRow("no") << int(QMessageBox::No) << false << "Old";
    QTest::newRow("cancel") << int(QMessageBox::Cancel) << true << "Old";
    QTest::newRow("yes") << int(QMessageBox::Yes) << false << "New";
}

void TestQuizEditor::closing()
{
    QFETCH(int, answer);
    QFETCH(bool, staysOpen);
    QFETCH(QString, fileTitle);
    QVERIFY(m_fixture->writeQuiz("Old-09-00-00.json", "Old", {{"q", "a", "b", "c", "d"}}));
    const QuizInfo loaded = loadFrom("Old-09-00-00.json");
    open();
    QVERIFY(!m_probe->button("btSave")->isEnabled());
    m_probe->type(m_probe->title(), "New");
    m_fixture->now = QTime(9, 30, 0);

    auto box = answerNextBox(QMessageBox::StandardButton(answer));
    m_editor->close();
    QVERIFY(box->seen);
    QCOMPARE(box->title, QString("Warning"));
    QCOMPARE(box->text, QString("Save changes?"));
    QCOMPARE(m_editor->isVisible(), staysOpen);
    QCOMPARE(m_probe->title()->text(), QString("New"));
    const QStringList files = m_fixture->files();
    QCOMPARE(files.size(), 1);
    QCOMPARE(QuizFixture::readJson(m_fixture->path(files.first())).value("title"),
             QJsonValue(fileTitle));
    if (answer == QMessageBox::Yes) {
        QCOMPARE(files.first(), QString("New-09-30-00.json"));
        QCOMPARE(m_editor->result().name, QString("New-09-30-00"));
    } else {
        QCOMPARE(m_editor->result().name, loaded.name);
        QCOMPARE(m_editor->result().title, loaded.title);
    }
}

void TestQuizEditor::escapeAsksLikeClosing()
{
    open();
    m_probe->addQuestion("unsaved");
    auto box = answerNextBox(QMessageBox::Cancel);
    QTest::keyClick(m_editor.get(), Qt::Key_Escape);
    QVERIFY(box->seen);
    QVERIFY(m_editor->isVisible());
    QCOMPARE(m_probe->questionTitles(), QStringList{"unsaved"});
}

void TestQuizEditor::moreThanFourOptionsLoadAsFour()
{
    QVERIFY(m_fixture->write("Many-09-00-00.json",
                             R"({"title":"Many","questions":[{"title":"q",)"
                             R"("options":["1","2","3","4","5","6"]},{"options":["x"]}]})"));
    loadFrom("Many-09-00-00.json");
    open();
    QCOMPARE(m_probe->title()->text(), QString("Many"));
    QCOMPARE(m_probe->frames().size(), 2);
    QStringList shown;
    for (const QLineEdit *edit : m_probe->edits(0))
        shown.append(edit->text());
    QCOMPARE(shown, (QStringList{"q", "1", "2", "3", "4"}));
    QCOMPARE(m_probe->edits(1).at(1)->text(), QString("x"));

    m_fixture->now = QTime(9, 1, 0);
    m_probe->pressCtrlS();
    QCOMPARE(m_fixture->files(), QStringList{"Many-09-01-00.json"});
    const QJsonArray saved =
        QuizFixture::readJson(m_fixture->path("Many-09-01-00.json")).value("questions").toArray();
    QCOMPARE(saved.at(0).toObject().value("options").toArray(), (QJsonArray{"1", "2", "3", "4"}));
    QCOMPARE(saved.at(1).toObject().value("options").toArray(), (QJsonArray{"x", "", "", ""}));
}

void TestQuizEditor::savedQuizLoadsBackTheSame()
{
    open();
    m_probe->type(m_probe->title(), "Round trip");
    m_probe->addQuestion("First?", {"yes", "no", "maybe", "never"});
    m_probe->addQuestion("Second?", {"ä", "", "\"quoted\"", ""});
    m_fixture->now = QTime(16, 20, 0);
    m_probe->pressCtrlS();
    const QuizInfo saved = m_editor->result();

    const QuizInfo read = QuizFile::read(m_fixture->path("Round trip-16-20-00.json"));
    QCOMPARE(read.name, saved.name);
    QCOMPARE(read.title, saved.title);
    QCOMPARE(read.questions, saved.questions);

    QuizEditor again(m_fixture->folder(), m_fixture->clock());
    again.loadQuiz(read);
    EditorProbe probe(again);
    QCOMPARE(probe.title()->text(), QString("Round trip"));
    QCOMPARE(probe.questionTitles(), (QStringList{"First?", "Second?"}));
    QCOMPARE(probe.edits(1).at(1)->text(), QString("ä"));
    QCOMPARE(probe.edits(1).at(3)->text(), QString("\"quoted\""));
    QCOMPARE(again.result().questions, read.questions);
}

void TestQuizEditor::failedWriteIsReportedAndCanBeRetried()
{
    // A folder where the file should go: the write cannot succeed.
    QVERIFY(QDir().mkpath(m_fixture->path("Blocked-11-00-00.json")));
    open();
    m_probe->type(m_probe->title(), "Blocked");
    m_fixture->now = QTime(11, 0, 0);
    auto box = answerNextBox(QMessageBox::Ok);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^QUIZ: cannot save"));
    m_probe->pressCtrlS();
    QVERIFY(box->seen);
    QCOMPARE(box->title, QString("Error"));
    QCOMPARE(box->text, QString("Error open file."));
    QVERIFY(m_probe->button("btSave")->isEnabled());
    QVERIFY(m_editor->result().title.isEmpty());

    m_fixture->now = QTime(11, 0, 1);
    m_probe->pressCtrlS();
    QVERIFY(!m_probe->button("btSave")->isEnabled());
    QCOMPARE(m_editor->result().name, QString("Blocked-11-00-01"));
}

void TestQuizEditor::discardedEditsAfterASaveKeepTheSavedQuiz()
{
    open();
    m_probe->type(m_probe->title(), "Kept");
    m_fixture->now = QTime(12, 0, 0);
    m_probe->pressCtrlS();
    m_probe->addQuestion("discarded");
    auto box = answerNextBox(QMessageBox::No);
    m_editor->close();
    QVERIFY(box->seen);
    // The list must learn of the file the first save wrote.
    const QuizInfo result = m_editor->result();
    QCOMPARE(result.name, QString("Kept-12-00-00"));
    QCOMPARE(result.title, QString("Kept"));
    QCOMPARE(result.questions, QJsonArray());
}

QTEST_MAIN(TestQuizEditor)
#include "tst_quizeditor.moc"
