#pragma once

#include "web/QuestionRecord.h"

#include <QWidget>

class DBStorage;
class QCheckBox;
class QComboBox;
class QLabel;
class QTreeWidget;
class QuestionBoard;

// The presenter's Questions window, the view of the question board: the live list with its
// upvotes and states, sorted and filtered, in type large enough to read on stage, and the
// moderation. Keyboard: arrows move, Enter puts the question on screen (again: takes it off),
// A marks it answered, P approves, H hides, Delete deletes. Export and clear as in the main
// window's questions menu. Neither pointer is owned; both outlive the window.
class QuestionsWindow : public QWidget
{
    Q_OBJECT
public:
    enum class Sort { MostUpvoted, Newest };

    QuestionsWindow(QuestionBoard *board, DBStorage *store, QWidget *parent = nullptr);

    // The id of the selected question, 0 when none.
    qint64 selectedId() const;
    void select(qint64 id);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void refresh();
    bool passesFilter(const QuestionRecord &record) const;
    void onSelected(void (QuestionBoard::*action)(qint64));
    void toggleHighlight();

    QuestionBoard *m_board;
    DBStorage *m_store;
    QCheckBox *m_approval;
    QCheckBox *m_caption;
    QComboBox *m_sort;
    QComboBox *m_filter;
    QLabel *m_summary;
    QTreeWidget *m_list;
};
