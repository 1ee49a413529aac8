#include "web/gui/QuestionsWindow.h"

#include "app/QuestionsExport.h"
#include "web/DBStorage.h"
#include "web/QuestionBoard.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>

namespace {

constexpr int kListPointSize = 18;
enum Column { kUpvotes, kState, kName, kQuestion };

QString stateText(const QuestionRecord &record)
{
    if (record.highlighted)
        return QuestionsWindow::tr("ON SCREEN");
    switch (record.state) {
    case QuestionState::Waiting:
        return QuestionsWindow::tr("waiting");
    case QuestionState::Shown:
        return QuestionsWindow::tr("shown");
    case QuestionState::Answered:
        return QuestionsWindow::tr("answered");
    case QuestionState::Hidden:
        break;
    }
    return QuestionsWindow::tr("hidden");
}

} // namespace

QuestionsWindow::QuestionsWindow(QuestionBoard *board, DBStorage *store, QWidget *parent)
    : QWidget(parent), m_board(board), m_store(store)
{
    setWindowTitle(tr("Questions"));
    resize(1000, 700);

    m_approval = new QCheckBox(tr("Approve questions before viewers see them"), this);
    m_approval->setObjectName("chkApproval");
    m_caption = new QCheckBox(tr("Question on screen on the stream too"), this);
    m_caption->setObjectName("chkCaption");
    m_sort = new QComboBox(this);
    m_sort->setObjectName("cmbSort");
    m_sort->addItems({tr("Most upvoted first"), tr("Newest first")});
    m_filter = new QComboBox(this);
    m_filter->setObjectName("cmbFilter");
    m_filter->addItem(tr("All"), -1);
    for (QuestionState state : {QuestionState::Waiting, QuestionState::Shown,
                                QuestionState::Answered, QuestionState::Hidden})
        m_filter->addItem(questionStateName(state), int(state));
    m_summary = new QLabel(this);
    m_summary->setObjectName("lblSummary");

    m_list = new QTreeWidget(this);
    m_list->setObjectName("treeQuestions");
    m_list->setColumnCount(4);
    m_list->setHeaderLabels({tr("Upvotes"), tr("State"), tr("Name"), tr("Question")});
    m_list->setRootIsDecorated(false);
    m_list->setWordWrap(true);
    m_list->setUniformRowHeights(false);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->header()->setStretchLastSection(true);
    QFont large = m_list->font();
    large.setPointSize(kListPointSize);
    m_list->setFont(large);
    m_list->installEventFilter(this);

    const auto button = [this](const char *name, const QString &text, auto slot) {
        auto *pushButton = new QPushButton(text, this);
        pushButton->setObjectName(name);
        pushButton->setFocusPolicy(Qt::NoFocus); // the keys belong to the list
        connect(pushButton, &QPushButton::clicked, this, slot);
        return pushButton;
    };
    auto *top = new QHBoxLayout;
    top->addWidget(m_approval);
    top->addWidget(m_caption);
    top->addStretch();
    top->addWidget(m_sort);
    top->addWidget(m_filter);
    auto *actions = new QHBoxLayout;
    actions->addWidget(
        button("btnHighlight", tr("On screen (Enter)"), [this] { toggleHighlight(); }));
    actions->addWidget(
        button("btnAnswered", tr("Answered (A)"), [this] { onSelected(&QuestionBoard::answer); }));
    actions->addWidget(
        button("btnApprove", tr("Approve (P)"), [this] { onSelected(&QuestionBoard::approve); }));
    actions->addWidget(
        button("btnHide", tr("Hide (H)"), [this] { onSelected(&QuestionBoard::hide); }));
    actions->addWidget(
        button("btnDelete", tr("Delete (Del)"), [this] { onSelected(&QuestionBoard::remove); }));
    actions->addStretch();
    actions->addWidget(button("btnExport", tr("Export to file"),
                              [this] { QuestionsExport::exportToFile(this, m_store); }));
    actions->addWidget(button("btnClear", tr("Clear questions"),
                              [this] { QuestionsExport::clearQuestions(this, m_store); }));
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(m_summary);
    layout->addWidget(m_list, 1);
    layout->addLayout(actions);

    m_approval->setChecked(m_board->approvalRequired());
    connect(m_approval, &QCheckBox::toggled, m_board, &QuestionBoard::setApprovalRequired);
    m_caption->setChecked(m_board->captionOnStream());
    connect(m_caption, &QCheckBox::toggled, m_board, &QuestionBoard::setCaptionOnStream);
    connect(m_sort, qOverload<int>(&QComboBox::currentIndexChanged), this,
            &QuestionsWindow::refresh);
    connect(m_filter, qOverload<int>(&QComboBox::currentIndexChanged), this,
            &QuestionsWindow::refresh);
    connect(m_board, &QuestionBoard::changed, this, &QuestionsWindow::refresh);
    refresh();
}

qint64 QuestionsWindow::selectedId() const
{
    const QTreeWidgetItem *item = m_list->currentItem();
    return item ? item->data(kUpvotes, Qt::UserRole).toLongLong() : 0;
}

void QuestionsWindow::select(qint64 id)
{
    for (int i = 0; i < m_list->topLevelItemCount(); ++i) {
        QTreeWidgetItem *item = m_list->topLevelItem(i);
        if (item->data(kUpvotes, Qt::UserRole).toLongLong() == id) {
            m_list->setCurrentItem(item);
            return;
        }
    }
}

bool QuestionsWindow::passesFilter(const QuestionRecord &record) const
{
    const int wanted = m_filter->currentData().toInt();
    return wanted < 0 || int(record.state) == wanted;
}

void QuestionsWindow::refresh()
{
    const qint64 selected = selectedId();
    QVector<QuestionRecord> rows;
    int waiting = 0;
    for (const QuestionRecord &record : m_board->questions()) {
        waiting += record.state == QuestionState::Waiting;
        if (passesFilter(record))
            rows.append(record);
    }
    const bool newest = m_sort->currentIndex() == int(Sort::Newest);
    std::stable_sort(rows.begin(), rows.end(), [newest](const auto &a, const auto &b) {
        if (a.highlighted != b.highlighted)
            return a.highlighted;
        if (!newest && a.upvotes != b.upvotes)
            return a.upvotes > b.upvotes;
        return a.id > b.id;
    });
    m_list->clear();
    for (const QuestionRecord &record : qAsConst(rows)) {
        // Plain item texts: nothing a viewer typed is read as markup.
        auto *item = new QTreeWidgetItem(
            {QString::number(record.upvotes), stateText(record), record.name, record.question});
        item->setData(kUpvotes, Qt::UserRole, record.id);
        item->setTextAlignment(kUpvotes, Qt::AlignCenter);
        if (record.highlighted)
            for (int column = 0; column < m_list->columnCount(); ++column)
                item->setBackground(column, QColor(0xf0, 0xb4, 0x29, 90));
        m_list->addTopLevelItem(item);
    }
    m_list->resizeColumnToContents(kUpvotes);
    m_list->resizeColumnToContents(kState);
    m_summary->setText(
        tr("%1 questions, %2 waiting for approval").arg(m_board->questions().size()).arg(waiting));
    if (selected)
        select(selected);
    if (!m_list->currentItem() && m_list->topLevelItemCount() > 0)
        m_list->setCurrentItem(m_list->topLevelItem(0));
}

void QuestionsWindow::onSelected(void (QuestionBoard::*action)(qint64))
{
    if (const qint64 id = selectedId())
        (m_board->*action)(id);
}

void QuestionsWindow::toggleHighlight()
{
    const qint64 id = selectedId();
    if (!id)
        return;
    m_board->highlight(m_board->question(id).highlighted ? 0 : id);
}

bool QuestionsWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != m_list || event->type() != QEvent::KeyPress)
        return QWidget::eventFilter(watched, event);
    switch (static_cast<QKeyEvent *>(event)->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        toggleHighlight();
        return true;
    case Qt::Key_A:
        onSelected(&QuestionBoard::answer);
        return true;
    case Qt::Key_P:
        onSelected(&QuestionBoard::approve);
        return true;
    case Qt::Key_H:
        onSelected(&QuestionBoard::hide);
        return true;
    case Qt::Key_Delete:
        onSelected(&QuestionBoard::remove);
        return true;
    default:
        return QWidget::eventFilter(watched, event);
    }
}
