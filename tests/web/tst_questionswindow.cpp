#include "support/QuestionStoreDir.h"
#include "web/DBStorage.h"
#include "web/QuestionBoard.h"
#include "web/gui/QuestionsWindow.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPushButton>
#include <QSignalSpy>
#include <QTreeWidget>
#include <QtTest>

// The Questions window driving the question board: approval, approve, highlight, answer and
// hide from the keyboard and the buttons, with the filter and the sort.
class TestQuestionsWindow : public QObject
{
    Q_OBJECT
private slots:
    void keyboardAndButtonsModerate();
};

namespace {

QByteArray payload(const QString &name, const QString &msg)
{
    return QJsonDocument(QJsonObject{{"name", name}, {"msg", msg}}).toJson(QJsonDocument::Compact);
}

QStringList column(QTreeWidget *list, int column)
{
    QStringList texts;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        texts.append(list->topLevelItem(i)->text(column));
    return texts;
}

} // namespace

void TestQuestionsWindow::keyboardAndButtonsModerate()
{
    QuestionStoreDir dir;
    DBStorage store;
    QuestionBoard board(&store);
    QTRY_VERIFY(store.isOpen());
    QuestionsWindow window(&board, &store);
    window.show();
    auto *list = window.findChild<QTreeWidget *>("treeQuestions");
    auto *approval = window.findChild<QCheckBox *>("chkApproval");
    QVERIFY(list && approval);

    approval->click();
    QTRY_VERIFY(store.approvalRequired());
    store.postQuestion(payload("Ann", "<b>first</b>"));
    store.postQuestion(payload("Bo", "second"));
    QTRY_COMPARE(list->topLevelItemCount(), 2);
    QCOMPARE(column(list, 1), QStringList({"waiting", "waiting"}));
    // Markup stays text.
    QVERIFY(column(list, 3).contains("<b>first</b>"));

    window.select(1);
    QTest::keyClick(list, Qt::Key_P);
    QTRY_COMPARE(board.question(1).state, QuestionState::Shown);
    QTest::keyClick(list, Qt::Key_Return);
    QTRY_VERIFY(board.question(1).highlighted);
    // The question on screen leads the list.
    QTRY_COMPARE(column(list, 1).first(), QString("ON SCREEN"));
    QCOMPARE(window.selectedId(), 1);
    QTest::keyClick(list, Qt::Key_A);
    QTRY_COMPARE(board.question(1).state, QuestionState::Answered);
    QVERIFY(!board.question(1).highlighted);

    window.select(2);
    window.findChild<QPushButton *>("btnHide")->click();
    QTRY_COMPARE(board.question(2).state, QuestionState::Hidden);

    auto *filter = window.findChild<QComboBox *>("cmbFilter");
    filter->setCurrentIndex(filter->findText("hidden"));
    QTRY_COMPARE(column(list, 3), QStringList({"second"}));
    filter->setCurrentIndex(filter->findText("answered"));
    QTRY_COMPARE(column(list, 3), QStringList({"<b>first</b>"}));

    // Arrows move, Enter puts the selected one on screen, again takes it off.
    filter->setCurrentIndex(0);
    store.postQuestion(payload("Cy", "third"));
    QTRY_COMPARE(list->topLevelItemCount(), 3);
    window.select(2);
    window.findChild<QPushButton *>("btnApprove")->click(); // hidden stays hidden
    window.findChild<QComboBox *>("cmbSort")->setCurrentIndex(int(QuestionsWindow::Sort::Newest));
    QCOMPARE(column(list, 3).first(), QString("third"));
    window.select(3);
    QTest::keyClick(list, Qt::Key_Down);
    QCOMPARE(window.selectedId(), 2);
    QTest::keyClick(list, Qt::Key_Up);
    QTest::keyClick(list, Qt::Key_Enter);
    QTRY_VERIFY(board.question(3).highlighted);
    // The check box puts the question on screen on the stream as well.
    QSignalSpy captions(&board, &QuestionBoard::captionChanged);
    window.findChild<QCheckBox *>("chkCaption")->click();
    QVERIFY(board.captionOnStream());
    QCOMPARE(captions.size(), 1);
    QVERIFY(captions.first().at(0).toString().startsWith("third"));
    QTest::keyClick(list, Qt::Key_Enter);
    QTRY_VERIFY(!board.question(3).highlighted);
    QCOMPARE(board.question(2).state, QuestionState::Hidden);
}

QTEST_MAIN(TestQuestionsWindow)
#include "tst_questionswindow.moc"
