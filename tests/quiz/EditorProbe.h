#pragma once

#include "quiz/gui/QuizEditor.h"

#include <QApplication>
#include <QCheckBox>
#include <QLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QtTest>

// Reads and drives a quiz editor the way the presenter does: through its widgets.
class EditorProbe
{
public:
    explicit EditorProbe(QuizEditor &editor) : m_editor(editor) {}

    QLineEdit *title() const { return m_editor.findChild<QLineEdit *>("mainTitle"); }
    QPushButton *button(const char *name) const { return m_editor.findChild<QPushButton *>(name); }

    // The question frames the layout holds, top to bottom.
    QList<QWidget *> frames() const
    {
        QList<QWidget *> result;
        QLayout *layout =
            m_editor.findChild<QScrollArea *>("scrollAreaQuizeEd")->widget()->layout();
        for (int i = 0; i < layout->count(); ++i)
            if (QWidget *frame = layout->itemAt(i)->widget())
                result.append(frame);
        return result;
    }
    // The question edit followed by the four option edits of the n-th question, found by
    // their placeholders.
    QList<QLineEdit *> edits(int question) const
    {
        static const QStringList kOrder{"Question", "oprion_1 (answer)", "oprion_2", "oprion_3",
                                        "oprion_4"};
        QList<QLineEdit *> result;
        const auto all = frames().at(question)->findChildren<QLineEdit *>();
        for (const QString &placeholder : kOrder)
            for (QLineEdit *edit : all)
                if (edit->placeholderText() == placeholder)
                    result.append(edit);
        return result;
    }
    QCheckBox *selection(int question) const
    {
        return frames().at(question)->findChild<QCheckBox *>();
    }
    QStringList questionTitles() const
    {
        QStringList result;
        for (int i = 0; i < frames().size(); ++i)
            result.append(edits(i).first()->text());
        return result;
    }

    // Types into a line edit, so the editor sees the edit as the presenter's.
    static void type(QLineEdit *edit, const QString &text)
    {
        edit->selectAll();
        // One key event per character, carrying its text (also beyond ASCII).
        for (const QChar c : text)
            QTest::sendKeyEvent(QTest::Click, edit, Qt::Key_unknown, QString(c), Qt::NoModifier);
    }
    void addQuestion(const QString &question, const QStringList &options = {})
    {
        QTest::mouseClick(button("btAdd"), Qt::LeftButton);
        const QList<QLineEdit *> added = edits(frames().size() - 1);
        type(added.at(0), question);
        for (int k = 0; k < options.size(); ++k)
            type(added.at(k + 1), options.at(k));
    }
    // A shortcut reaches only the active window; a message box may have taken that role.
    void pressCtrlS()
    {
        QApplication::setActiveWindow(&m_editor);
        QTest::keyClick(&m_editor, Qt::Key_S, Qt::ControlModifier);
    }

private:
    QuizEditor &m_editor;
};
