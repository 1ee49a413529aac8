#include "quiz/gui/MainQuiz.h"

#include "quiz/QuizFolder.h"
#include "quiz/QuizGrid.h"
#include "quiz/gui/QuizEditor.h"
#include "ui_MainQuiz.h"

#include <QFileDialog>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QStandardPaths>
#include <QVBoxLayout>

std::unique_ptr<ISquiz> createSquiz(const QSettings &settings)
{
    return std::make_unique<MainQuiz>(QuizFolder::resolve(settings),
                                      QGuiApplication::primaryScreen()->virtualSize());
}

MainQuiz::MainQuiz(const QString &folder, const QSize &desktopSize,
                   QuizFile::TimeOfDaySource timeOfDay, QWidget *parent)
    : QMainWindow(parent), ui(std::make_unique<Ui::MainQuiz>()), m_timeOfDay(std::move(timeOfDay)),
      m_quizzes(folder)
{
    ui->setupUi(this);
    setWindowTitle(tr("Quizes"));
    // Text-only tool buttons on the dark window, legible like the studio's own tool bar.
    ui->toolBar->setStyleSheet("QToolButton {color:white;}");
    m_grid = new QGridLayout(ui->scrollAreaWidgetContents);
    m_grid->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    connect(ui->createQuiz, &QAction::triggered, this, &MainQuiz::showEditor);

    QuizFolder::ensureExists(folder);
    m_quizzes.load();
    m_count = m_quizzes.size();
    m_tileWidth = desktopSize.width() / 6;
    m_tileHeight = desktopSize.height() / 4;
    if (m_count > 0)
        buildGrid();
}

MainQuiz::~MainQuiz() = default;

void MainQuiz::showWindow()
{
    show();
    raise();
}

void MainQuiz::hideWindow()
{
    hide();
}

void MainQuiz::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    // Tiles are rebuilt only when another number of them fits across.
    if (QuizGrid::shape(width(), m_tileWidth, m_count).columns != m_columns)
        buildGrid();
}

int MainQuiz::clickedPosition() const
{
    const QObject *button = sender();
    if (!button || !button->parent())
        return -1;
    // Tiles are named "widget-<number>", numbered from the end of the list.
    bool isNumber = false;
    const int number = button->parent()->objectName().section('-', 1).toInt(&isNumber);
    const int position = m_count - number - 1;
    if (!isNumber || position < 0 || position >= m_quizzes.size())
        return -1;
    return position;
}

QWidget *MainQuiz::makeTile(const QuizInfo &quiz, int number)
{
    auto *tile = new QWidget;
    tile->setFixedSize(m_tileWidth, m_tileHeight);
    tile->setObjectName("widget-" + QString::number(number));
    auto *layout = new QVBoxLayout(tile);

    auto *label = new QLabel(QuizGrid::tileLabel(quiz.name));
    label->setAlignment(Qt::AlignCenter);
    label->setWordWrap(true);
    label->setStyleSheet("border: 2px solid #555;background-color: white; color: black; "
                         "border-radius:20%;");
    layout->addWidget(label);

    auto *buttons = new QHBoxLayout;
    auto *play = new QPushButton(tr("Play"));
    play->setObjectName("play");
    connect(play, &QPushButton::clicked, this, &MainQuiz::playOneQuiz);
    buttons->addWidget(play);
    auto *edit = new QPushButton(tr("Edit"));
    auto *remove = new QPushButton(tr("Delite"));
    connect(edit, &QPushButton::clicked, this, &MainQuiz::showEditor);
    connect(remove, &QPushButton::clicked, this, &MainQuiz::deleteOneQuiz);
    buttons->addWidget(edit);
    buttons->addWidget(remove);
    layout->addLayout(buttons);
    return tile;
}

void MainQuiz::buildGrid()
{
    m_count = m_quizzes.size();
    const QuizGrid::Shape shape = QuizGrid::shape(width(), m_tileWidth, m_count);
    m_rows = shape.rows;
    m_columns = shape.columns;
    // The clicked button may belong to one of these tiles, so they go once its signal is done.
    while (QLayoutItem *item = m_grid->takeAt(0)) {
        if (QWidget *tile = item->widget()) {
            tile->hide();
            tile->deleteLater();
        }
        delete item;
    }
    m_quizzes.sortByTitle();
    if (!shape.showsTiles())
        return;
    for (int position = 0; position < m_count; ++position)
        m_grid->addWidget(makeTile(m_quizzes.at(position), m_count - position - 1),
                          position / m_columns, position % m_columns);
}

void MainQuiz::pruneAndRebuild()
{
    m_quizzes.prune();
    buildGrid();
}

void MainQuiz::playOneQuiz()
{
    const int position = clickedPosition();
    if (position >= 0 && m_play)
        m_play(m_quizzes.at(position));
}

void MainQuiz::showEditor()
{
    const bool creating = sender() == ui->createQuiz;
    const int position = creating ? -1 : clickedPosition();
    if (!creating && position < 0)
        return;

    QuizEditor editor(m_quizzes.folder(), m_timeOfDay);
    if (!creating)
        editor.loadQuiz(m_quizzes.at(position));
    editor.exec();
    QuizInfo result = editor.result();
    if (result.title.isEmpty())
        return;
    const QuizInfo saved = result;
    if (creating)
        m_quizzes.append(std::move(result));
    else
        m_quizzes.replace(position, std::move(result));
    pruneAndRebuild();
    if (editor.playRequested() && m_play)
        m_play(saved);
}

void MainQuiz::deleteOneQuiz()
{
    const int position = clickedPosition();
    if (position < 0)
        return;
    if (!m_quizzes.filePath(position).isNull()) {
        const auto answer = QMessageBox::warning(this, "Warning", tr("Are you sure?"),
                                                 QMessageBox::Yes | QMessageBox::No);
        if (answer != QMessageBox::Yes)
            return;
        switch (m_quizzes.remove(position)) {
        case QuizCatalog::DeleteResult::Deleted:
            buildGrid();
            return;
        case QuizCatalog::DeleteResult::Failed:
            QMessageBox::critical(this, "Error", "Delete error.");
            return;
        case QuizCatalog::DeleteResult::NotFound:
            break;
        }
    }
    QMessageBox::warning(this, "Warning", tr("File not found!"));
    pruneAndRebuild();
}

void MainQuiz::on_exportFile_triggered()
{
    const QString chosen = QFileDialog::getOpenFileName(
        this, tr("Select file"), QStandardPaths::writableLocation(QStandardPaths::DesktopLocation),
        tr("Json file (*.json)"));
    if (chosen.isEmpty())
        return;
    switch (m_quizzes.importFile(chosen, m_timeOfDay())) {
    case QuizCatalog::ImportResult::Imported:
        pruneAndRebuild();
        break;
    case QuizCatalog::ImportResult::NotJson:
        QMessageBox::critical(this, "Error", "Not Json file!");
        break;
    case QuizCatalog::ImportResult::NameExists:
        QMessageBox::warning(this, "Warning", tr("The file name already exists."));
        break;
    case QuizCatalog::ImportResult::CopyFailed:
        QMessageBox::critical(this, "Error", "Copy error.");
        break;
    }
}
