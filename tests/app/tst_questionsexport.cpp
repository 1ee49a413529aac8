#include "app/QuestionsExport.h"
#include "support/ModalHandler.h"
#include "support/QuestionStoreDir.h"
#include "web/DBStorage.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QtTest>
#include <functional>

namespace {

const QString kHead =
    "<!DOCTYPE html><html><head><style>table, td, th {border: 1px solid black;} table "
    "{border-collapse: collapse; width: 100%;} th {height: 50px;} th, td {padding: "
    "15px;}</style></head><body><table> <tr>  "
    "<th>id</th><th>name</th><th>question</th><th>state</th><th>upvotes</th>  "
    "</tr>";
const QString kTail = "</table></body></html>";

QuestionRecord record(int id, const QString &name, const QString &question)
{
    QuestionRecord made;
    made.id = id;
    made.name = name;
    made.question = question;
    return made;
}

QByteArray readFile(const QString &fileName)
{
    QFile file(fileName);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

} // namespace

class TestQuestionsExport : public QObject
{
    Q_OBJECT
private slots:
    void htmlSuffix_data();
    void htmlSuffix();
    void document_data();
    void document();
    void savedFileHoldsTheStoredQuestions();
    void failedWriteIsReported();
    void acceptingTheProposedNameWritesTableOnTheDesktop();
    void clearing_data();
    void clearing();
    void failedDeleteIsReported();
};

void TestQuestionsExport::htmlSuffix_data()
{
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<QString>("written");
    QTest::newRow("no dot") << "/d/table"
                            << "/d/table.html";
    QTest::newRow("html") << "/d/table.html"
                          << "/d/table.html";
    QTest::newRow("capitals") << "/d/table.HTML"
                              << "/d/table.HTML.html";
    QTest::newRow("htm") << "/d/table.htm"
                         << "/d/table.htm.html";
    QTest::newRow("dot in folder only") << "/d.v2/table"
                                        << "/d.v2/table.html";
    QTest::newRow("html inside") << "/d/table.html.bak"
                                 << "/d/table.html.bak.html";
}

void TestQuestionsExport::htmlSuffix()
{
    QFETCH(QString, chosen);
    QFETCH(QString, written);
    QCOMPARE(QuestionsExport::withHtmlSuffix(chosen), written);
}

void TestQuestionsExport::document_data()
{
    QTest::addColumn<QuestionRecords>("records");
    QTest::addColumn<QString>("rows");
    QTest::newRow("empty store") << QuestionRecords() << "";
    QTest::newRow("plain")
        << QuestionRecords{record(1, "Ann", "Hello world")}
        << "<tr>  <td>1</td><td>Ann</td><td>Hello world</td><td>shown</td><td>0</td>  </tr>";
    QTest::newRow("escaped") << QuestionRecords{record(7, "<Bo>", "a < b & \"c\"")}
                             << "<tr>  <td>7</td><td>&lt;Bo&gt;</td><td>a &lt; b &amp; "
                                "&quot;c&quot;</td><td>shown</td><td>0</td>  </tr>";
    QTest::newRow("placeholder in a value")
        << QuestionRecords{record(2, "%1 and %2", "still here")}
        << "<tr>  <td>2</td><td>%1 and %2</td><td>still here</td><td>shown</td><td>0</td>  </tr>";
    QuestionRecord answered = record(4, "Cy", "done");
    answered.state = QuestionState::Answered;
    answered.upvotes = 12;
    QuestionRecord onScreen = record(5, "Di", "now");
    onScreen.highlighted = true;
    QTest::newRow("states")
        << QuestionRecords{answered, onScreen}
        << "<tr>  <td>4</td><td>Cy</td><td>done</td><td>answered</td><td>12</td>"
           "  </tr><tr>  <td>5</td><td>Di</td><td>now</td><td>shown, on "
           "screen</td><td>0</td>  </tr>";
    QTest::newRow("two rows")
        << QuestionRecords{record(1, "A", "x"), record(3, "B", "y")}
        << "<tr>  <td>1</td><td>A</td><td>x</td><td>shown</td><td>0</td>  </tr><tr>  "
           "<td>3</td><td>B</td><td>y</td><td>shown</td><td>0</td>  </tr>";
}

void TestQuestionsExport::document()
{
    QFETCH(QuestionRecords, records);
    QFETCH(QString, rows);
    QCOMPARE(QuestionsExport::buildHtml(records), kHead + rows + kTail);
}

void TestQuestionsExport::savedFileHoldsTheStoredQuestions()
{
    QuestionStoreDir storeDir;
    DBStorage store;
    QTRY_VERIFY(store.isOpen());
    store.postQuestion(R"({"name":"Ann","msg":"Fish & chips < 5?"})");
    store.postQuestion(R"({"name":"Zoë","msg":"Ça va?"})");
    QTRY_COMPARE(store.selectQuestions().size(), 2);

    QTemporaryDir out;
    const QString chosen = out.filePath("questions.HTML");
    QFile stale(chosen + ".html");
    QVERIFY(stale.open(QIODevice::WriteOnly));
    stale.write(QByteArray(10000, 'x'));
    stale.close();
    QVERIFY(QuestionsExport::saveToFile(nullptr, &store, chosen));
    QVERIFY(!QFile::exists(chosen));
    QCOMPARE(QString::fromUtf8(readFile(chosen + ".html")),
             kHead +
                 "<tr>  <td>1</td><td>Ann</td><td>Fish &amp; chips &lt; "
                 "5?</td><td>shown</td><td>0</td>  </tr>"
                 "<tr>  <td>2</td><td>Zoë</td><td>Ça va?</td><td>shown</td><td>0</td>  </tr>" +
                 kTail);
}

void TestQuestionsExport::failedWriteIsReported()
{
    QuestionStoreDir storeDir;
    DBStorage store;
    QTRY_VERIFY(store.isOpen());
    QTemporaryDir out;
    const QString target = out.filePath("missing-folder/table.html");
    QString shown;
    whenModalAppears([&shown](QWidget *modal) {
        auto *box = qobject_cast<QMessageBox *>(modal);
        if (!box)
            return;
        shown = box->windowTitle() + "|" + box->text();
        box->button(QMessageBox::Ok)->click();
    });
    QVERIFY(!QuestionsExport::saveToFile(nullptr, &store, target));
    QVERIFY(shown.startsWith("Error|"));
    QVERIFY(shown.contains(target));
    QVERIFY(!QFile::exists(target));
}

void TestQuestionsExport::acceptingTheProposedNameWritesTableOnTheDesktop()
{
    QuestionStoreDir storeDir;
    DBStorage store;
    QTRY_VERIFY(store.isOpen());
    QTemporaryDir home;
    const QByteArray previousHome = qgetenv("HOME");
    qputenv("HOME", home.path().toUtf8());
    // Without a desktop folder the documents folder, without that the home.
    QCOMPARE(QuestionsExport::proposedFileName(), home.path() + "/table");
    QVERIFY(QDir(home.path()).mkpath("Documents"));
    QCOMPARE(QuestionsExport::proposedFileName(), home.path() + "/Documents/table");
    QVERIFY(QDir(home.path()).mkpath("Desktop"));
    QCOMPARE(QuestionsExport::proposedFileName(), home.path() + "/Desktop/table");

    whenModalAppears([](QWidget *modal) {
        if (auto *dialog = qobject_cast<QFileDialog *>(modal))
            static_cast<QDialog *>(dialog)->accept();
    });
    const QString written = QuestionsExport::exportToFile(nullptr, &store);
    qputenv("HOME", previousHome);
    QCOMPARE(written, home.path() + "/Desktop/table.html");
    QCOMPARE(QString::fromUtf8(readFile(home.path() + "/Desktop/table.html")), kHead + kTail);
}

void TestQuestionsExport::clearing_data()
{
    QTest::addColumn<int>("answer");
    QTest::addColumn<int>("left");
    QTest::newRow("Yes") << int(QMessageBox::Yes) << 0;
    QTest::newRow("No") << int(QMessageBox::No) << 2;
    QTest::newRow("Escape") << -1 << 2;
    // Enter pressed by habit takes the default button, which must be No.
    QTest::newRow("Enter") << -2 << 2;
}

void TestQuestionsExport::clearing()
{
    QFETCH(int, answer);
    QFETCH(int, left);
    QuestionStoreDir storeDir;
    DBStorage store;
    QTRY_VERIFY(store.isOpen());
    store.postQuestion(R"({"name":"Ann","msg":"one"})");
    store.postQuestion(R"({"name":"Bo","msg":"two"})");
    QTRY_COMPARE(store.selectQuestions().size(), 2);

    QString asked;
    whenModalAppears([&asked, answer](QWidget *modal) {
        auto *box = qobject_cast<QMessageBox *>(modal);
        if (!box)
            return;
        asked = box->windowTitle() + "|" + box->text();
        if (answer == -2)
            QTest::keyClick(box, Qt::Key_Return);
        else if (answer < 0)
            QTest::keyClick(box, Qt::Key_Escape);
        else
            box->button(QMessageBox::StandardButton(answer))->click();
    });
    QuestionsExport::clearQuestions(nullptr, &store);
    QCOMPARE(asked, QString("Deleted All|Are you sure?"));
    QCOMPARE(store.selectQuestions().size(), left);
    QVERIFY(QApplication::activeModalWidget() == nullptr);
}

void TestQuestionsExport::failedDeleteIsReported()
{
    QuestionStoreDir storeDir;
    QVERIFY(storeDir.blockDataDir());
    DBStorage store;
    QStringList shown;
    std::function<void(QWidget *)> answer = [&shown, &answer](QWidget *modal) {
        auto *box = qobject_cast<QMessageBox *>(modal);
        if (!box)
            return;
        shown << box->windowTitle() + "|" + box->text();
        if (box->button(QMessageBox::Yes)) {
            // The error box follows the confirmation.
            whenModalAppears(answer);
            box->button(QMessageBox::Yes)->click();
        } else {
            box->button(QMessageBox::Ok)->click();
        }
    };
    whenModalAppears(answer);
    QuestionsExport::clearQuestions(nullptr, &store);
    QCOMPARE(shown, QStringList({"Deleted All|Are you sure?", "Error|Delete error."}));
}

QTEST_MAIN(TestQuestionsExport)
#include "tst_questionsexport.moc"
