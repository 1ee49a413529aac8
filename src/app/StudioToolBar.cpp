#include "app/StudioToolBar.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QToolBar>
#include <QToolButton>

namespace StudioToolBar {

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("MainWindow", text);
}

QToolButton *toolButton(QWidget *parent, const char *icon, const std::function<void()> &handler)
{
    auto *button = new QToolButton(parent);
    button->setIcon(QIcon(icon));
    button->setIconSize(QSize(50, 50));
    button->setCursor(Qt::PointingHandCursor);
    QObject::connect(button, &QToolButton::clicked, button, [handler] { handler(); });
    return button;
}

QWidget *spacer(QWidget *parent)
{
    auto *spacer = new QWidget(parent);
    spacer->setMinimumHeight(30);
    return spacer;
}

} // namespace

Controls build(QToolBar *bar, const Handlers &handlers, bool record)
{
    QWidget *parent = bar->parentWidget();
    bar->setIconSize(QSize(50, 50));
    bar->setStyleSheet("QToolButton {color:white;}");

    Controls controls;
    controls.start = toolButton(parent, ":START", handlers.start);
    controls.start->setObjectName("cmdStart");
    controls.start->setToolTip(tr("Start"));
    bar->addWidget(controls.start);
    controls.record = new QCheckBox(tr("Record"), parent);
    controls.record->setObjectName("chkRecord");
    controls.record->setStyleSheet("QCheckBox {color:white;}");
    controls.record->setChecked(record);
    bar->addWidget(controls.record);
    bar->addWidget(spacer(parent));

    const auto addTool = [&](const char *icon, const QString &text,
                             const std::function<void()> &handler) {
        QToolButton *button = toolButton(parent, icon, handler);
        button->setText(text);
        button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        bar->addWidget(button);
    };
    addTool(":ZQR", tr("Zoom QR"), handlers.zoomQR);
    addTool(":RND", tr("Random Winner"), handlers.randomWinner);
    addTool(":VOTE", tr("Voting"), handlers.vote);
    bar->addWidget(spacer(parent));
    addTool(":QUIZ", tr("Quizzes"), handlers.quizzes);
    addTool(":QUESTIONS", tr("Questions"), handlers.questions);
    return controls;
}

} // namespace StudioToolBar
