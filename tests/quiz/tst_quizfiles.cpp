#include "QuizFixture.h"
#include "quiz/QuizCatalog.h"
#include "quiz/QuizFile.h"
#include "quiz/QuizFolder.h"
#include "quiz/QuizGrid.h"
#include "quiz/QuizSave.h"

#include <QSettings>
#include <QtTest>

namespace {

QStringList quizNames(const QuizCatalog &catalog)
{
    QStringList result;
    for (const QuizInfo &quiz : catalog.quizzes())
        result.append(quiz.name);
    return result;
}

QStringList titles(const QuizCatalog &catalog)
{
    QStringList result;
    for (const QuizInfo &quiz : catalog.quizzes())
        result.append(quiz.title);
    return result;
}

QuizSave::Request saveRequest(const QString &folder, const QString &title, const QTime &time)
{
    QuizSave::Request request;
    request.folder = folder;
    request.title = title;
    request.questions = QJsonArray{QuizFile::Question{"Q", {"a", "b", "c", "d"}}.toJson()};
    request.time = time;
    return request;
}

} // namespace

class TestQuizFiles : public QObject
{
    Q_OBJECT
private slots:
    void lenientReading_data();
    void lenientReading();
    void questionAsShown_data();
    void questionAsShown();
    void documentIsIndentedWithSortedKeys();
    void writtenQuizReadsBack();
    void failedWriteIsReported();
    void timeSuffix_data();
    void timeSuffix();
    void fileNames_data();
    void fileNames();
    void tileLabel_data();
    void tileLabel();
    void gridShape_data();
    void gridShape();

    void findQuizFile();
    void findQuizFileSurvivesLinkLoop();
    void fileExistsIn();
    void folderResolution_data();
    void folderResolution();
    void folderCreation();

    void loadingWalksSubFoldersInNameOrder();
    void orderingByTitle();
    void pruneDropsAdjacentMissingFiles();
    void importing_data();
    void importing();
    void importingTheSameNameTwiceInOneSecond();
    void deleting();

    void savingNewThenEditedQuiz();
    void savingTwiceInOneSecond();
    void savingRefusesTakenNames();
    void savingMovesSubFolderQuizIntoFolder();
    void blockedRenameKeepsTheWrittenName();
    void savingIntoUnwritablePlace();
};

void TestQuizFiles::lenientReading_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("title");
    QTest::addColumn<int>("questions");
    QTest::newRow("valid") << QuizFixture::json("Physics", {{"q1", "a"}, {"q2"}}) << "Physics" << 2;
    QTest::newRow("not json") << QByteArray("{\"title\": \"x\",") << "" << 0;
    QTest::newRow("empty file") << QByteArray() << "" << 0;
    QTest::newRow("root array") << QByteArray("[{\"title\":\"x\"}]") << "" << 0;
    QTest::newRow("no title") << QByteArray("{\"questions\":[{}]}") << "" << 1;
    QTest::newRow("number title") << QByteArray("{\"title\":5,\"questions\":[]}") << "" << 0;
    QTest::newRow("questions object")
        << QByteArray("{\"title\":\"t\",\"questions\":{\"a\":1}}") << "t" << 0;
    QTest::newRow("no questions") << QByteArray("{\"title\":\"t\"}") << "t" << 0;
}

void TestQuizFiles::lenientReading()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, title);
    QFETCH(int, questions);
    QuizFixture fixture;
    QVERIFY(fixture.write("Physics-14-05-09.json", content));
    const QuizInfo quiz = QuizFile::read(fixture.path("Physics-14-05-09.json"));
    QCOMPARE(quiz.name, QString("Physics-14-05-09"));
    QCOMPARE(quiz.title, title);
    QCOMPARE(quiz.questions.size(), questions);
}

void TestQuizFiles::questionAsShown_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QStringList>("options");
    QTest::newRow("complete") << QByteArray(R"({"title":"Q","options":["a","b","c","d"]})") << "Q"
                              << QStringList{"a", "b", "c", "d"};
    QTest::newRow("six options") << QByteArray(
                                        R"({"title":"Q","options":["a","b","c","d","e","f"]})")
                                 << "Q" << QStringList{"a", "b", "c", "d"};
    QTest::newRow("one option") << QByteArray(R"({"title":"Q","options":["a"]})") << "Q"
                                << QStringList{"a", "", "", ""};
    QTest::newRow("not strings") << QByteArray(R"({"title":7,"options":[1,"b",null,{}]})") << ""
                                 << QStringList{"", "b", "", ""};
    QTest::newRow("options not an array")
        << QByteArray(R"({"options":"abcd"})") << "" << QStringList{"", "", "", ""};
    QTest::newRow("not an object") << QByteArray(R"("text")") << "" << QStringList{"", "", "", ""};
}

void TestQuizFiles::questionAsShown()
{
    QFETCH(QByteArray, json);
    QFETCH(QString, title);
    QFETCH(QStringList, options);
    const QJsonValue value = QJsonDocument::fromJson("[" + json + "]").array().first();
    const QuizFile::Question question = QuizFile::Question::fromJson(value);
    QCOMPARE(question.title, title);
    QCOMPARE(question.options, options);
}

void TestQuizFiles::documentIsIndentedWithSortedKeys()
{
    const QuizFile::Question question{" Q1 ", {" right ", "", "x", ""}};
    const QByteArray expected = "{\n"
                                "    \"questions\": [\n"
                                "        {\n"
                                "            \"options\": [\n"
                                "                \"right\",\n"
                                "                \"\",\n"
                                "                \"x\",\n"
                                "                \"\"\n"
                                "            ],\n"
                                "            \"title\": \"Q1\"\n"
                                "        }\n"
                                "    ],\n"
                                "    \"title\": \"Phüsik\"\n"
                                "}\n";
    QCOMPARE(QuizFile::document("Phüsik", QJsonArray{question.toJson()}), expected);
}

void TestQuizFiles::writtenQuizReadsBack()
{
    QuizFixture fixture;
    QVERIFY(QDir().mkpath(fixture.folder()));
    const QJsonArray questions{QuizFile::Question{"2+2?", {"4", "3", "5", "22"}}.toJson(),
                               QuizFile::Question{"Capital?", {"Paris", "", "", ""}}.toJson()};
    QString error;
    QVERIFY(QuizFile::write(fixture.path("Quiz-01-02-03.json"),
                            QuizFile::document("Quiz", questions), &error));
    const QuizInfo quiz = QuizFile::read(fixture.path("Quiz-01-02-03.json"));
    QCOMPARE(quiz.name, QString("Quiz-01-02-03"));
    QCOMPARE(quiz.title, QString("Quiz"));
    QCOMPARE(quiz.questions, questions);
}

void TestQuizFiles::failedWriteIsReported()
{
    QuizFixture fixture;
    // A folder in the file's place cannot be replaced by the file.
    QVERIFY(QDir().mkpath(fixture.path("Quiz-01-02-03.json")));
    QString error;
    QVERIFY(!QuizFile::write(fixture.path("Quiz-01-02-03.json"), "{}", &error));
    QVERIFY2(error.startsWith(fixture.path("Quiz-01-02-03.json") + ": "), qPrintable(error));
}

void TestQuizFiles::timeSuffix_data()
{
    QTest::addColumn<QTime>("time");
    QTest::addColumn<QString>("suffix");
    QTest::newRow("morning") << QTime(9, 5, 3) << "-09-05-03";
    QTest::newRow("afternoon") << QTime(14, 5, 9) << "-14-05-09";
    QTest::newRow("midnight") << QTime(0, 0, 0) << "-00-00-00";
    QTest::newRow("last second") << QTime(23, 59, 59, 999) << "-23-59-59";
}

void TestQuizFiles::timeSuffix()
{
    QFETCH(QTime, time);
    QFETCH(QString, suffix);
    QCOMPARE(QuizFile::timeSuffix(time), suffix);
}

void TestQuizFiles::fileNames_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<bool>("isQuiz");
    QTest::addColumn<QString>("quizName");
    QTest::newRow("json") << "Physics-14-05-09.json" << true << "Physics-14-05-09";
    QTest::newRow("capitals") << "notes.JSON" << true << "notes";
    QTest::newRow("mixed") << "a.Json" << true << "a";
    QTest::newRow("two dots") << "a.b.json" << true << "a.b";
    QTest::newRow("backup") << "a.json.bak" << false << "a.json";
    QTest::newRow("no suffix") << "json" << false << "json";
}

void TestQuizFiles::fileNames()
{
    QFETCH(QString, fileName);
    QFETCH(bool, isQuiz);
    QFETCH(QString, quizName);
    QuizFixture fixture;
    QVERIFY(fixture.write(fileName, "{}"));
    QCOMPARE(QuizFile::isQuizFile(QFileInfo(fixture.path(fileName))), isQuiz);
    QCOMPARE(QuizFile::quizName(fileName), quizName);
}

void TestQuizFiles::tileLabel_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("label");
    QTest::newRow("saved quiz") << "Physics-14-05-09"
                                << "Physics";
    QTest::newRow("dash in title") << "Quiz-2-part-14-05-09"
                                   << "Quiz-2-part";
    QTest::newRow("one dash") << "a-b"
                              << "a";
    QTest::newRow("no dash") << "notes"
                             << "notes";
    QTest::newRow("leading dash") << "-x"
                                  << "";
    QTest::newRow("empty") << ""
                           << "";
}

void TestQuizFiles::tileLabel()
{
    QFETCH(QString, name);
    QFETCH(QString, label);
    QCOMPARE(QuizGrid::tileLabel(name), label);
}

void TestQuizFiles::gridShape_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("tileWidth");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("rows");
    QTest::addColumn<int>("columns");
    QTest::addColumn<bool>("showsTiles");
    QTest::newRow("first window, three quizzes") << 764 << 320 << 3 << 2 << 2 << true;
    QTest::newRow("first window, two quizzes") << 764 << 320 << 2 << 1 << 2 << true;
    QTest::newRow("no quizzes") << 764 << 320 << 0 << 0 << 2 << false;
    QTest::newRow("narrower than a tile") << 319 << 320 << 3 << 1 << 0 << false;
    QTest::newRow("exactly one tile") << 320 << 320 << 3 << 3 << 1 << true;
    QTest::newRow("wide window") << 1920 << 320 << 7 << 2 << 6 << true;
}

void TestQuizFiles::gridShape()
{
    QFETCH(int, width);
    QFETCH(int, tileWidth);
    QFETCH(int, count);
    const QuizGrid::Shape shape = QuizGrid::shape(width, tileWidth, count);
    QTEST(shape.rows, "rows");
    QTEST(shape.columns, "columns");
    QTEST(shape.showsTiles(), "showsTiles");
}

void TestQuizFiles::findQuizFile()
{
    QuizFixture fixture;
    QVERIFY(fixture.write("A/deep/Quiz-01-00-00.json", "{}"));
    QVERIFY(fixture.write("B/quiz-01-00-00.JSON", "{}"));
    QVERIFY(fixture.write("Other-01-00-00.json", "{}"));
    QVERIFY(fixture.write("Notes-01-00-00.txt", "{}"));
    QVERIFY(QDir().mkpath(fixture.path("Dir-01-00-00.json")));
    const QString folder = fixture.folder();
    // Depth first in name order: "A" is walked before "B".
    QCOMPARE(QuizFile::findQuizFile(folder, "QUIZ-01-00-00.json"),
             fixture.path("A/deep/Quiz-01-00-00.json"));
    QCOMPARE(QuizFile::findQuizFile(folder, "other-01-00-00.JSON"),
             fixture.path("Other-01-00-00.json"));
    QVERIFY(QuizFile::findQuizFile(folder, "Notes-01-00-00.txt").isNull());
    QVERIFY(QuizFile::findQuizFile(folder, "Dir-01-00-00.json").isNull());
    QVERIFY(QuizFile::findQuizFile(folder, "Missing.json").isNull());
    QVERIFY(QuizFile::findQuizFile(fixture.path("nowhere"), "Other-01-00-00.json").isNull());
}

void TestQuizFiles::findQuizFileSurvivesLinkLoop()
{
    QuizFixture fixture;
    QVERIFY(fixture.write("sub/Quiz.json", "{}"));
    QVERIFY(QFile::link(fixture.folder(), fixture.path("sub/back")));
    QVERIFY(QuizFile::findQuizFile(fixture.folder(), "Missing.json").isNull());
    QuizCatalog catalog(fixture.folder());
    catalog.load();
    QCOMPARE(quizNames(catalog), QStringList{"Quiz"});
}

void TestQuizFiles::fileExistsIn()
{
    QuizFixture fixture;
    QVERIFY(fixture.write("Quiz.json", "{}"));
    QVERIFY(fixture.write("sub/Deep.json", "{}"));
    QVERIFY(QFile::link(fixture.path("Quiz.json"), fixture.path("Link.json")));
    QVERIFY(QDir().mkpath(fixture.path("Folder.json")));
    const QString folder = fixture.folder();
    QVERIFY(QuizFile::fileExistsIn(folder, "Quiz.json"));
    QVERIFY(!QuizFile::fileExistsIn(folder, "quiz.json"));
    QVERIFY(!QuizFile::fileExistsIn(folder, "Deep.json"));
    QVERIFY(!QuizFile::fileExistsIn(folder, "Link.json"));
    QVERIFY(!QuizFile::fileExistsIn(folder, "Folder.json"));
}

void TestQuizFiles::folderResolution_data()
{
    QTest::addColumn<QVariant>("setting");
    QTest::addColumn<QString>("folder");
    QTest::newRow("not set") << QVariant() << "HOME/Documents/Lumacast PRO Quizzes";
    QTest::newRow("empty") << QVariant("  ") << "HOME/Documents/Lumacast PRO Quizzes";
    QTest::newRow("absolute") << QVariant("/srv/quizzes/") << "/srv/quizzes";
    QTest::newRow("relative") << QVariant("../Shared/Quizzes") << "HOME/Shared/Quizzes";
}

void TestQuizFiles::folderResolution()
{
    QFETCH(QVariant, setting);
    QFETCH(QString, folder);
    QTemporaryDir home;
    const QByteArray previousHome = qgetenv("HOME");
    const QByteArray previousConfig = qgetenv("XDG_CONFIG_HOME");
    qputenv("HOME", home.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", (home.path() + "/config").toUtf8());
    QSettings settings(home.filePath("settings.ini"), QSettings::IniFormat);
    if (setting.isValid())
        settings.setValue(QuizFolder::kSettingsKey, setting);
    // The working directory of a studio started from a desktop menu.
    const QString previousDir = QDir::currentPath();
    QDir::setCurrent("/");
    const QString resolved = QuizFolder::resolve(settings);
    QDir::setCurrent(previousDir);
    qputenv("HOME", previousHome);
    qputenv("XDG_CONFIG_HOME", previousConfig);
    QCOMPARE(resolved, folder.replace("HOME", home.path()));
}

void TestQuizFiles::folderCreation()
{
    QuizFixture fixture;
    QVERIFY(QuizFolder::ensureExists(fixture.path("a/b/c")));
    QVERIFY(QFileInfo(fixture.path("a/b/c")).isDir());
    QVERIFY(fixture.write("plain", "x"));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^QUIZ: cannot create"));
    QVERIFY(!QuizFolder::ensureExists(fixture.path("plain/quizzes")));
}

void TestQuizFiles::loadingWalksSubFoldersInNameOrder()
{
    QuizFixture fixture;
    QVERIFY(fixture.writeQuiz("a-01-00-00.json", "A"));
    QVERIFY(fixture.writeQuiz("m/inner-01-00-00.Json", "Inner", {{"q", "1", "2", "3", "4"}}));
    QVERIFY(fixture.write("z-01-00-00.json", "not json at all"));
    QVERIFY(fixture.write("readme.txt", "{}"));
    QuizCatalog catalog(fixture.folder());
    catalog.load();
    QCOMPARE(quizNames(catalog), (QStringList{"a-01-00-00", "inner-01-00-00", "z-01-00-00"}));
    QCOMPARE(titles(catalog), (QStringList{"A", "Inner", ""}));
    QCOMPARE(catalog.at(1).questions.size(), 1);
}

void TestQuizFiles::orderingByTitle()
{
    QuizFixture fixture;
    QVERIFY(fixture.writeQuiz("1.json", "b"));
    QVERIFY(fixture.writeQuiz("2.json", "A"));
    QVERIFY(fixture.writeQuiz("3.json", "a"));
    QVERIFY(fixture.writeQuiz("4.json", "A"));
    QuizCatalog catalog(fixture.folder());
    catalog.load();
    catalog.sortByTitle();
    QCOMPARE(titles(catalog), (QStringList{"A", "A", "a", "b"}));
    QCOMPARE(quizNames(catalog), (QStringList{"2", "4", "3", "1"}));
}

void TestQuizFiles::pruneDropsAdjacentMissingFiles()
{
    QuizFixture fixture;
    for (const char *name : {"a", "b", "c", "d"})
        QVERIFY(fixture.writeQuiz(QString(name) + "-01-00-00.json", name));
    QuizCatalog catalog(fixture.folder());
    catalog.load();
    QVERIFY(QFile::remove(fixture.path("b-01-00-00.json")));
    QVERIFY(QFile::remove(fixture.path("c-01-00-00.json")));
    catalog.prune();
    QCOMPARE(titles(catalog), (QStringList{"a", "d"}));
}

void TestQuizFiles::importing_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("created");
    QTest::addColumn<QString>("name");
    const int imported = int(QuizCatalog::ImportResult::Imported);
    const int notJson = int(QuizCatalog::ImportResult::NotJson);
    QTest::newRow("quiz.json") << "quiz.json" << imported << "quiz-09-05-03.json"
                               << "quiz-09-05-03";
    QTest::newRow("two dots") << "my.quiz.json" << imported << "my.quiz-09-05-03.json"
                              << "my.quiz-09-05-03";
    QTest::newRow("capital suffix") << "notes.JSON" << notJson << ""
                                    << "";
    QTest::newRow("no suffix") << "quiz" << notJson << ""
                               << "";
    QTest::newRow("dot in folder only") << "v1.0/quiz" << notJson << ""
                                        << "";
}

void TestQuizFiles::importing()
{
    QFETCH(QString, source);
    QFETCH(int, result);
    QFETCH(QString, created);
    QFETCH(QString, name);
    QuizFixture fixture;
    QVERIFY(QDir().mkpath(fixture.folder()));
    const QByteArray content = QuizFixture::json("Imported", {{"q", "1", "2", "3", "4"}});
    const QString sourcePath = fixture.outside() + "/desk/" + source;
    QVERIFY(QuizFixture::writeAt(sourcePath, content));
    QuizCatalog catalog(fixture.folder());
    QCOMPARE(int(catalog.importFile(sourcePath, QTime(9, 5, 3))), result);
    if (created.isEmpty()) {
        QVERIFY(fixture.files().isEmpty());
        QCOMPARE(catalog.size(), 0);
        return;
    }
    QCOMPARE(fixture.files(), QStringList{created});
    QCOMPARE(QuizFixture::read(fixture.path(created)), content);
    QCOMPARE(quizNames(catalog), QStringList{name});
    QCOMPARE(titles(catalog), QStringList{"Imported"});
}

void TestQuizFiles::importingTheSameNameTwiceInOneSecond()
{
    QuizFixture fixture;
    QVERIFY(QDir().mkpath(fixture.folder()));
    const QString source = fixture.outside() + "/quiz.json";
    QVERIFY(QuizFixture::writeAt(source, QuizFixture::json("Q")));
    QuizCatalog catalog(fixture.folder());
    QCOMPARE(catalog.importFile(source, QTime(9, 5, 3)), QuizCatalog::ImportResult::Imported);
    QCOMPARE(catalog.importFile(source, QTime(9, 5, 3)), QuizCatalog::ImportResult::NameExists);
    QCOMPARE(catalog.size(), 1);

    // A folder that cannot exist (a file is in its way) takes no copy.
    QVERIFY(QuizFixture::writeAt(fixture.outside() + "/plain", "x"));
    QuizCatalog blocked(fixture.outside() + "/plain/quizzes");
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^QUIZ: cannot copy"));
    QCOMPARE(blocked.importFile(source, QTime(9, 5, 4)), QuizCatalog::ImportResult::CopyFailed);
    QCOMPARE(blocked.size(), 0);
}

void TestQuizFiles::deleting()
{
    QuizFixture fixture;
    QVERIFY(fixture.writeQuiz("a-01-00-00.json", "a"));
    QVERIFY(fixture.writeQuiz("sub/b-01-00-00.json", "b"));
    QVERIFY(fixture.writeQuiz("c-01-00-00.json", "c"));
    QuizCatalog catalog(fixture.folder());
    catalog.load();
    QCOMPARE(titles(catalog), (QStringList{"a", "c", "b"}));
    QCOMPARE(catalog.remove(2), QuizCatalog::DeleteResult::Deleted);
    QVERIFY(!QFile::exists(fixture.path("sub/b-01-00-00.json")));
    QCOMPARE(titles(catalog), (QStringList{"a", "c"}));
    QVERIFY(QFile::remove(fixture.path("c-01-00-00.json")));
    QCOMPARE(catalog.remove(1), QuizCatalog::DeleteResult::NotFound);
    QCOMPARE(titles(catalog), (QStringList{"a", "c"}));
}

void TestQuizFiles::savingNewThenEditedQuiz()
{
    QuizFixture fixture;
    QVERIFY(QDir().mkpath(fixture.folder()));
    QuizSave::Request request = saveRequest(fixture.folder(), "Physics", QTime(14, 5, 9));
    QuizSave::Result result = QuizSave::save(request);
    QCOMPARE(result.outcome, QuizSave::Outcome::Saved);
    QCOMPARE(result.name, QString("Physics-14-05-09"));
    QCOMPARE(fixture.files(), QStringList{"Physics-14-05-09.json"});
    QCOMPARE(QuizFixture::read(fixture.path("Physics-14-05-09.json")),
             QuizFile::document("Physics", request.questions));

    request.editing = true;
    request.name = result.name;
    request.title = "Physics 2";
    request.time = QTime(14, 6, 0);
    result = QuizSave::save(request);
    QCOMPARE(result.outcome, QuizSave::Outcome::Saved);
    QCOMPARE(result.name, QString("Physics 2-14-06-00"));
    QCOMPARE(fixture.files(), QStringList{"Physics 2-14-06-00.json"});
    QCOMPARE(QuizFixture::readJson(fixture.path("Physics 2-14-06-00.json")).value("title"),
             QJsonValue("Physics 2"));
}

void TestQuizFiles::savingTwiceInOneSecond()
{
    QuizFixture fixture;
    QVERIFY(QDir().mkpath(fixture.folder()));
    QuizSave::Request request = saveRequest(fixture.folder(), "Physics", QTime(14, 5, 9));
    QCOMPARE(QuizSave::save(request).outcome, QuizSave::Outcome::Saved);
    request.editing = true;
    request.name = "Physics-14-05-09";
    request.questions = QJsonArray();
    const QuizSave::Result again = QuizSave::save(request);
    QCOMPARE(again.outcome, QuizSave::Outcome::Saved);
    QCOMPARE(again.name, QString("Physics-14-05-09"));
    QCOMPARE(QuizFixture::readJson(fixture.path("Physics-14-05-09.json")).value("questions"),
             QJsonValue(QJsonArray()));
}

void TestQuizFiles::savingRefusesTakenNames()
{
    QuizFixture fixture;
    QVERIFY(fixture.write("sub/physics-14-05-09.JSON", "other"));
    QVERIFY(fixture.write("Chemistry-14-05-09.json", "chemistry"));
    QVERIFY(fixture.write("Old-10-00-00.json", "old"));
    // A new quiz whose name another file has, ignoring case, anywhere under the folder.
    QCOMPARE(QuizSave::save(saveRequest(fixture.folder(), "Physics", QTime(14, 5, 9))).outcome,
             QuizSave::Outcome::NameExists);
    // An edited quiz whose new name another file in its folder has.
    QuizSave::Request edit = saveRequest(fixture.folder(), "Chemistry", QTime(14, 5, 9));
    edit.editing = true;
    edit.name = "Old-10-00-00";
    QCOMPARE(QuizSave::save(edit).outcome, QuizSave::Outcome::NameExists);
    QCOMPARE(QuizFixture::read(fixture.path("sub/physics-14-05-09.JSON")), QByteArray("other"));
    QCOMPARE(QuizFixture::read(fixture.path("Chemistry-14-05-09.json")), QByteArray("chemistry"));
    QCOMPARE(QuizFixture::read(fixture.path("Old-10-00-00.json")), QByteArray("old"));
}

void TestQuizFiles::savingMovesSubFolderQuizIntoFolder()
{
    QuizFixture fixture;
    QVERIFY(fixture.write("sub/Bio-10-00-00.json", "old"));
    QuizSave::Request edit = saveRequest(fixture.folder(), "Bio", QTime(11, 0, 0));
    edit.editing = true;
    edit.name = "Bio-10-00-00";
    const QuizSave::Result result = QuizSave::save(edit);
    QCOMPARE(result.outcome, QuizSave::Outcome::Saved);
    QCOMPARE(result.name, QString("Bio-11-00-00"));
    QVERIFY(!QFile::exists(fixture.path("sub/Bio-10-00-00.json")));
    QCOMPARE(QuizFixture::readJson(fixture.path("Bio-11-00-00.json")).value("title"),
             QJsonValue("Bio"));
}

void TestQuizFiles::blockedRenameKeepsTheWrittenName()
{
    QuizFixture fixture;
    QVERIFY(fixture.write("sub/Bio-10-00-00.json", "old"));
    QVERIFY(fixture.write("Bio-11-00-00.json", "another quiz"));
    QuizSave::Request edit = saveRequest(fixture.folder(), "Bio", QTime(11, 0, 0));
    edit.editing = true;
    edit.name = "Bio-10-00-00";
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^QUIZ: cannot rename"));
    const QuizSave::Result result = QuizSave::save(edit);
    // The quiz stays findable under the name its file kept.
    QCOMPARE(result.outcome, QuizSave::Outcome::Saved);
    QCOMPARE(result.name, QString("Bio-10-00-00"));
    QCOMPARE(QuizFixture::readJson(fixture.path("sub/Bio-10-00-00.json")).value("title"),
             QJsonValue("Bio"));
    QCOMPARE(QuizFixture::read(fixture.path("Bio-11-00-00.json")), QByteArray("another quiz"));
}

void TestQuizFiles::savingIntoUnwritablePlace()
{
    QuizFixture fixture;
    QVERIFY(QDir().mkpath(fixture.path("Physics-14-05-09.json")));
    const QuizSave::Result result =
        QuizSave::save(saveRequest(fixture.folder(), "Physics", QTime(14, 5, 9)));
    QCOMPARE(result.outcome, QuizSave::Outcome::WriteFailed);
    QVERIFY(!result.errorText.isEmpty());
}

QTEST_GUILESS_MAIN(TestQuizFiles)
#include "tst_quizfiles.moc"
