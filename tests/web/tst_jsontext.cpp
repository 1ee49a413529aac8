#include "web/JsonText.h"
#include "web/SharedRoutes.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

// The list bodies are written without QJsonDocument, so they are checked here against it: any
// text must come out exactly as QJsonDocument::toJson() writes it.
class TestJsonText : public QObject
{
    Q_OBJECT
private slots:
    void matchesQJsonDocument_data();
    void matchesQJsonDocument();
    void listsMatchQJsonDocument_data();
    void listsMatchQJsonDocument();
};

namespace {

void addTexts()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("empty") << QString();
    QTest::newRow("plain") << QString("Hello world");
    QTest::newRow("quote and backslash") << QString("say \"hi\" \\ bye");
    QTest::newRow("named escapes") << QString("a\bb\fc\nd\re\tf");
    QTest::newRow("other control characters") << QString::fromUtf16(u"\u0001\u001f\u0000x", 4);
    QTest::newRow("delete and slash") << QString::fromUtf16(u"\u007f/</script>");
    QTest::newRow("two-byte UTF-8") << QString("Zoë Ça");
    QTest::newRow("three-byte UTF-8") << QString::fromUtf16(u"日本 \u20ac \uffff");
    QTest::newRow("surrogate pair") << QString::fromUtf16(u"smile \U0001F600 end");
    QTest::newRow("lone high surrogate") << QString::fromUtf16(u"a\xd83d"
                                                               "b",
                                                               3);
    QTest::newRow("lone low surrogate at end") << QString::fromUtf16(u"a\xde00", 2);
    QTest::newRow("percent and plus") << QString("100%25 + %1");
}

} // namespace

void TestJsonText::matchesQJsonDocument_data()
{
    addTexts();
}

void TestJsonText::matchesQJsonDocument()
{
    QFETCH(QString, text);
    // "[\n    <value>\n]\n" is how QJsonDocument writes a one-string array.
    const QByteArray reference = QJsonDocument(QJsonArray{text}).toJson();
    QCOMPARE(JsonText::quoted(text), reference.mid(6, reference.size() - 9));
}

void TestJsonText::listsMatchQJsonDocument_data()
{
    addTexts();
}

void TestJsonText::listsMatchQJsonDocument()
{
    QFETCH(QString, text);
    const auto recordOf = [](qint64 id, const QString &name, const QString &question) {
        QuestionRecord made;
        made.id = id;
        made.name = name;
        made.question = question;
        return made;
    };
    const QuestionRecords records{recordOf(1, text, "q"), recordOf(42, "n", text),
                                  recordOf(9000000000LL, text, text)};
    const QString addr = "::ffff:127.0.0.1";
    QJsonArray flat;
    QJsonArray raw;
    for (const QuestionRecord &record : records) {
        flat.append(QJsonObject{{"addr", addr},
                                {"id", record.id},
                                {"name", record.name},
                                {"question", record.question}});
        const QJsonObject payload{{"msg", record.question}, {"name", record.name}};
        raw.append(QJsonObject{{"addr", addr},
                               {"id", record.id},
                               {"raw", QString::fromUtf8(QJsonDocument(payload).toJson())}});
    }
    QCOMPARE(SharedRoutes::feedbackListFlat(records, addr), QJsonDocument(flat).toJson());
    QCOMPARE(SharedRoutes::feedbackList(records, addr), QJsonDocument(raw).toJson());
    QCOMPARE(SharedRoutes::feedbackListFlat({}, addr), QJsonDocument(QJsonArray()).toJson());
}

QTEST_GUILESS_MAIN(TestJsonText)
#include "tst_jsontext.moc"
