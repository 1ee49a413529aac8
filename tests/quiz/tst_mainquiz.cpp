#include "EditorProbe.h"
#include "MessageBoxAnswer.h"
#include "QuizFixture.h"
#include "quiz/QuizFolder.h"
#include "quiz/gui/MainQuiz.h"
#include "support/ModalHandler.h"

#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QSettings>
#include <QToolBar>
#include <QtTest>
#include <memory>

namespace {

// A 1920 x 1080 desktop: tiles of 320 x 270.
const QSize kDesktop(1920, 1080);

struct Tile
{
    QWidget *widget;
    int row;
    int column;
    QString label;
};

// Saves with the Save button and closes; an editor that did not save is dismissed without its
// question, so a failing test fails instead of waiting for an answer.
void saveAndClose(QuizEditor *editor)
{
    QPushButton *save = EditorProbe(*editor).button("btSave");
    QTest::mouseClick(save, Qt::LeftButton);
    if (save->isEnabled())
        editor->done(QDialog::Rejected);
    else
        editor->close();
}

} // namespace

class TestMainQuiz : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void formAndEmptyFolder();
    void twoTilesPerRow();
    void narrowWindowShowsNoTiles();
    void tilesOrderedByTitle();
    void labelDropsTheTimeOfDay();
    void playButtonPlaysItsTilesQuiz();
    void importing_data();
    void importing();
    void importingTheSameFileTwiceInOneSecond();
    void cancelledImportChangesNothing();
    void deleting_data();
    void deleting();
    void deletingAMissingFilePrunesEveryMissingOne();
    void creatingAQuiz();
    void editingAQuizRenamesItsFile();
    void folderIsCreatedAndWindowShownThroughItsInterface();

private:
    MainQuiz &open();
    QList<Tile> tiles() const;
    QStringList labels() const;
    QPushButton *tileButton(const QString &label, const QString &text) const;
    void import(const QString &file);

    std::unique_ptr<QuizFixture> m_fixture;
    std::unique_ptr<MainQuiz> m_window;
    // The caption and filter of the last file dialog.
    QString m_fileDialog;
};

void TestMainQuiz::init()
{
    m_fixture = std::make_unique<QuizFixture>();
}

void TestMainQuiz::cleanup()
{
    m_window.reset();
    m_fixture.reset();
}

MainQuiz &TestMainQuiz::open()
{
    m_window = std::make_unique<MainQuiz>(m_fixture->folder(), kDesktop, m_fixture->clock());
    m_window->showWindow();
    [&] {
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    }();
    return *m_window;
}

QList<Tile> TestMainQuiz::tiles() const
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    auto *grid = qobject_cast<QGridLayout *>(
        m_window->findChild<QWidget *>("scrollAreaWidgetContents")->layout());
    QList<Tile> result;
    for (int i = 0; i < grid->count(); ++i) {
        int row = 0, column = 0, rowSpan = 0, columnSpan = 0;
        grid->getItemPosition(i, &row, &column, &rowSpan, &columnSpan);
        QWidget *widget = grid->itemAt(i)->widget();
        result.append({widget, row, column, widget->findChild<QLabel *>()->text()});
    }
    std::sort(result.begin(), result.end(), [](const Tile &a, const Tile &b) {
        return std::make_pair(a.row, a.column) < std::make_pair(b.row, b.column);
    });
    return result;
}

QStringList TestMainQuiz::labels() const
{
    QStringList result;
    for (const Tile &tile : tiles())
        result.append(tile.label);
    return result;
}

QPushButton *TestMainQuiz::tileButton(const QString &label, const QString &text) const
{
    for (const Tile &tile : tiles())
        if (tile.label == label)
            for (QPushButton *button : tile.widget->findChildren<QPushButton *>())
                if (button->text() == text)
                    return button;
    return nullptr;
}

void TestMainQuiz::import(const QString &file)
{
    m_fileDialog.clear();
    whenModalAppears([this, file](QWidget *modal) {
        auto *dialog = qobject_cast<QFileDialog *>(modal);
        if (!dialog) {
            modal->close();
            return;
        }
        m_fileDialog = dialog->windowTitle() + " " + dialog->nameFilters().join(";");
        // Typed as the presenter would: selectFile() leaves the name field alone once it has
        // the focus, which a loaded machine may give it before this runs.
        dialog->findChild<QLineEdit *>("fileNameEdit")->setText(file);
        static_cast<QDialog *>(dialog)->accept();
    });
    m_window->findChild<QAction *>("exportFile")->trigger();
    QCOMPARE(m_fileDialog, QString("Select file Json file (*.json)"));
}

void TestMainQuiz::formAndEmptyFolder()
{
    open();
    QCOMPARE(m_window->windowTitle(), QString("Quizes"));
    QCOMPARE(m_window->size(), QSize(764, 470));
    auto *toolBar = m_window->findChild<QToolBar *>("toolBar");
    QVERIFY(!toolBar->isMovable());
    QCOMPARE(m_window->toolBarArea(toolBar), Qt::TopToolBarArea);
    QCOMPARE(m_window->findChild<QAction *>("createQuiz")->toolTip(), QString("Create Quiz"));
    QCOMPARE(m_window->findChild<QAction *>("exportFile")->toolTip(), QString("Export file"));
    QVERIFY(tiles().isEmpty());
}

void TestMainQuiz::twoTilesPerRow()
{
    for (const char *title : {"a", "b", "c"})
        QVERIFY(m_fixture->writeQuiz(QString(title) + "-10-00-00.json", title));
    open();
    const QList<Tile> shown = tiles();
    QCOMPARE(shown.size(), 3);
    QCOMPARE(QPoint(shown.at(0).row, shown.at(0).column), QPoint(0, 0));
    QCOMPARE(QPoint(shown.at(1).row, shown.at(1).column), QPoint(0, 1));
    QCOMPARE(QPoint(shown.at(2).row, shown.at(2).column), QPoint(1, 0));
    QCOMPARE(shown.at(0).widget->size(), QSize(320, 270));
    // Tiles are numbered from the end of the list.
    QCOMPARE(shown.at(0).widget->objectName(), QString("widget-2"));
    QCOMPARE(shown.at(2).widget->objectName(), QString("widget-0"));
}

void TestMainQuiz::narrowWindowShowsNoTiles()
{
    QVERIFY(m_fixture->writeQuiz("a-10-00-00.json", "a"));
    open();
    QCOMPARE(tiles().size(), 1);
    m_window->resize(300, 470);
    QTRY_VERIFY(tiles().isEmpty());
    m_window->resize(1000, 470);
    QTRY_COMPARE(labels(), QStringList{"a"});
}

void TestMainQuiz::tilesOrderedByTitle()
{
    QVERIFY(m_fixture->writeQuiz("first-10-00-00.json", "b"));
    QVERIFY(m_fixture->writeQuiz("second-10-00-00.json", "A"));
    QVERIFY(m_fixture->writeQuiz("third-10-00-00.json", "a"));
    QVERIFY(m_fixture->writeQuiz("sub/fourth-10-00-00.json", "A"));
    open();
    m_window->resize(1300, 470);
    QTRY_COMPARE(tiles().last().row, 0);
    QCOMPARE(labels(), (QStringList{"second", "fourth", "third", "first"}));
}

void TestMainQuiz::playButtonPlaysItsTilesQuiz()
{
    QVERIFY(m_fixture->writeQuiz("one-10-00-00.json", "One", {{"Q?", "a", "b", "c", "d"}}));
    QVERIFY(m_fixture->writeQuiz("two-10-00-00.json", "Two"));
    open();
    QStringList played;
    m_window->setPlayHandler([&](const QuizInfo &quiz) { played << quiz.title; });
    QPushButton *play = tileButton("two", "Play");
    QVERIFY(play);
    play->click();
    tileButton("one", "Play")->click();
    QCOMPARE(played, (QStringList{"Two", "One"}));

    // The editor's Play saves what was typed and plays that.
    whenModalAppears([](QWidget *modal) {
        auto *editor = qobject_cast<QuizEditor *>(modal);
        QVERIFY(editor);
        EditorProbe probe(*editor);
        probe.type(probe.title(), "Three");
        probe.addQuestion("q", {"a"});
        QTest::mouseClick(probe.button("btPlay"), Qt::LeftButton);
        if (editor->isVisible())
            editor->done(QDialog::Rejected);
    });
    m_window->findChild<QAction *>("createQuiz")->trigger();
    QCOMPARE(played, (QStringList{"Two", "One", "Three"}));
    QCOMPARE(labels(), (QStringList{"one", "Three", "two"}));
}

void TestMainQuiz::labelDropsTheTimeOfDay()
{
    QVERIFY(m_fixture->writeQuiz("a-b.json", "x"));
    QVERIFY(m_fixture->writeQuiz("Physics-14-05-09.json", "y"));
    QVERIFY(m_fixture->write("broken-10-00-00.json", "{not json"));
    open();
    QCOMPARE(labels(), (QStringList{"broken", "a", "Physics"}));
}

void TestMainQuiz::importing_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("boxText");
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QStringList>("labels");
    QTest::newRow("quiz.json") << "quiz.json"
                               << "" << QStringList{"Existing-08-00-00.json", "quiz-09-05-03.json"}
                               << QStringList{"Existing", "quiz"};
    QTest::newRow("notes.JSON") << "notes.JSON"
                                << "Not Json file!" << QStringList{"Existing-08-00-00.json"}
                                << QStringList{"Existing"};
}

void TestMainQuiz::importing()
{
    QFETCH(QString, file);
    QFETCH(QString, boxText);
    QFETCH(QStringList, files);
    QFETCH(QStringList, labels);
    QVERIFY(m_fixture->writeQuiz("Existing-08-00-00.json", "Existing"));
    const QString source = m_fixture->outside() + "/Desktop/" + file;
    QVERIFY(QuizFixture::writeAt(source, QuizFixture::json("Imported")));
    open();
    m_fixture->now = QTime(9, 5, 3);
    auto box = std::make_shared<MessageBoxAnswer>();
    if (!boxText.isEmpty())
        box = answerNextBox(QMessageBox::Ok);
    import(source);
    QCOMPARE(box->text, boxText);
    if (box->seen)
        QCOMPARE(box->title, QString("Error"));
    QCOMPARE(m_fixture->files(), files);
    QCOMPARE(this->labels(), labels);
}

void TestMainQuiz::importingTheSameFileTwiceInOneSecond()
{
    const QString source = m_fixture->outside() + "/quiz.json";
    QVERIFY(QuizFixture::writeAt(source, QuizFixture::json("Q")));
    open();
    import(source);
    auto box = answerNextBox(QMessageBox::Ok);
    import(source);
    QCOMPARE(box->title, QString("Warning"));
    QCOMPARE(box->text, QString("The file name already exists."));
    QCOMPARE(labels(), QStringList{"quiz"});
}

void TestMainQuiz::cancelledImportChangesNothing()
{
    open();
    whenModalAppears([](QWidget *modal) { static_cast<QDialog *>(modal)->reject(); });
    m_window->findChild<QAction *>("exportFile")->trigger();
    QVERIFY(m_fixture->files().isEmpty());
    QVERIFY(tiles().isEmpty());
}

void TestMainQuiz::deleting_data()
{
    QTest::addColumn<int>("answer");
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QStringList>("labels");
    QTest::newRow("no") << int(QMessageBox::No)
                        << QStringList{"a-10-00-00.json", "b-10-00-00.json", "c-10-00-00.json"}
                        << QStringList{"a", "b", "c"};
    QTest::newRow("yes") << int(QMessageBox::Yes)
                         << QStringList{"a-10-00-00.json", "c-10-00-00.json"}
                         << QStringList{"a", "c"};
}

void TestMainQuiz::deleting()
{
    QFETCH(int, answer);
    QFETCH(QStringList, files);
    QFETCH(QStringList, labels);
    for (const char *title : {"a", "b", "c"})
        QVERIFY(m_fixture->writeQuiz(QString(title) + "-10-00-00.json", title));
    open();
    auto box = answerNextBox(QMessageBox::StandardButton(answer));
    QTest::mouseClick(tileButton("b", "Delite"), Qt::LeftButton);
    QCOMPARE(box->title, QString("Warning"));
    QCOMPARE(box->text, QString("Are you sure?"));
    QCOMPARE(m_fixture->files(), files);
    QCOMPARE(this->labels(), labels);
    // The numbers of the rebuilt tiles still find their quizzes.
    auto again = answerNextBox(QMessageBox::Yes);
    QTest::mouseClick(tileButton("c", "Delite"), Qt::LeftButton);
    QVERIFY(!m_fixture->files().contains("c-10-00-00.json"));
    QVERIFY(!this->labels().contains("c"));
}

void TestMainQuiz::deletingAMissingFilePrunesEveryMissingOne()
{
    for (const char *title : {"a", "b", "c", "d"})
        QVERIFY(m_fixture->writeQuiz(QString(title) + "-10-00-00.json", title));
    open();
    QVERIFY(QFile::remove(m_fixture->path("b-10-00-00.json")));
    QVERIFY(QFile::remove(m_fixture->path("c-10-00-00.json")));
    auto box = answerNextBox(QMessageBox::Ok);
    QTest::mouseClick(tileButton("c", "Delite"), Qt::LeftButton);
    QCOMPARE(box->title, QString("Warning"));
    QCOMPARE(box->text, QString("File not found!"));
    QCOMPARE(labels(), (QStringList{"a", "d"}));
    QCOMPARE(m_window->quizzes().size(), 2);
}

void TestMainQuiz::creatingAQuiz()
{
    QVERIFY(m_fixture->writeQuiz("Zoology-10-00-00.json", "Zoology"));
    open();
    m_fixture->now = QTime(14, 5, 9);
    whenModalAppears([](QWidget *modal) {
        auto *editor = qobject_cast<QuizEditor *>(modal);
        QVERIFY(editor);
        EditorProbe probe(*editor);
        probe.type(probe.title(), " Physics ");
        probe.addQuestion("q", {"a"});
        saveAndClose(editor);
    });
    m_window->findChild<QAction *>("createQuiz")->trigger();
    QCOMPARE(m_fixture->files(), (QStringList{"Physics-14-05-09.json", "Zoology-10-00-00.json"}));
    QCOMPARE(labels(), (QStringList{"Physics", "Zoology"}));
    QCOMPARE(m_window->quizzes().at(0).title, QString("Physics"));

    // An editor closed untouched adds nothing.
    whenModalAppears([](QWidget *modal) { modal->close(); });
    m_window->findChild<QAction *>("createQuiz")->trigger();
    QCOMPARE(labels(), (QStringList{"Physics", "Zoology"}));
}

void TestMainQuiz::editingAQuizRenamesItsFile()
{
    QVERIFY(m_fixture->writeQuiz("Bio-10-00-00.json", "Bio", {{"q", "a", "b", "c", "d"}}));
    QVERIFY(m_fixture->writeQuiz("Chem-10-00-00.json", "Chem"));
    open();
    m_fixture->now = QTime(11, 0, 0);
    QString shownTitle;
    whenModalAppears([&shownTitle](QWidget *modal) {
        auto *editor = qobject_cast<QuizEditor *>(modal);
        QVERIFY(editor);
        EditorProbe probe(*editor);
        shownTitle = probe.title()->text();
        probe.type(probe.title(), "Anatomy");
        saveAndClose(editor);
    });
    QTest::mouseClick(tileButton("Bio", "Edit"), Qt::LeftButton);
    QCOMPARE(shownTitle, QString("Bio"));
    QCOMPARE(m_fixture->files(), (QStringList{"Anatomy-11-00-00.json", "Chem-10-00-00.json"}));
    QCOMPARE(labels(), (QStringList{"Anatomy", "Chem"}));
    QCOMPARE(m_window->quizzes().at(0).questions.size(), 1);
}

void TestMainQuiz::folderIsCreatedAndWindowShownThroughItsInterface()
{
    const QString folder = m_fixture->outside() + "/not/yet/there";
    QSettings settings(m_fixture->outside() + "/settings.ini", QSettings::IniFormat);
    settings.setValue(QuizFolder::kSettingsKey, folder);
    std::unique_ptr<ISquiz> squiz = createSquiz(settings);
    QVERIFY(QFileInfo(folder).isDir());
    auto *window = dynamic_cast<QWidget *>(squiz.get());
    QVERIFY(window && !window->isVisible());
    squiz->showWindow();
    QVERIFY(window->isVisible());
    squiz->hideWindow();
    QVERIFY(!window->isVisible());
}

QTEST_MAIN(TestMainQuiz)
#include "tst_mainquiz.moc"
