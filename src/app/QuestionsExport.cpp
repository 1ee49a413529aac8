#include "app/QuestionsExport.h"

#include "web/DBStorage.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QStandardPaths>
#include <QUrl>

namespace QuestionsExport {

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("MainWindow", text);
}

} // namespace

QMenu *menu(QPushButton *button, QWidget *parent, DBStorage *storage,
            std::function<QString()> baseUrl, std::function<void(const QString &)> saved)
{
    auto *menu = new QMenu(button);
    menu->setObjectName("questionsMenu");
    menu->setStyleSheet("QMenu {background-color: #222633;color: "
                        "rgb(255,255,255);}QMenu::item::selected {background-color: "
                        "rgb(49,49,49);}");
    QObject::connect(menu->addAction(tr("JSON real-time export")), &QAction::triggered, menu,
                     [baseUrl] { openJsonView(baseUrl()); });
    QObject::connect(menu->addAction(tr("Export to file")), &QAction::triggered, menu,
                     [parent, storage, saved] {
                         const QString fileName = exportToFile(parent, storage);
                         if (!fileName.isEmpty())
                             saved(fileName);
                     });
    QObject::connect(menu->addAction(tr("Clear questions")), &QAction::triggered, menu,
                     [parent, storage] { clearQuestions(parent, storage); });
    QObject::connect(button, &QPushButton::clicked, menu,
                     [button, menu] { menu->exec(button->mapToGlobal(QPoint(20, 20))); });
    return menu;
}

void openJsonView(const QString &baseUrl)
{
    QDesktopServices::openUrl(QUrl(baseUrl + "/feedback_list.json"));
}

QString exportToFile(QWidget *parent, DBStorage *storage)
{
    const QString fileName = QFileDialog::getSaveFileName(parent, tr("Save As"), proposedFileName(),
                                                          tr("HTML Document (*.html)"));
    if (fileName.isEmpty() || !saveToFile(parent, storage, fileName))
        return QString();
    return withHtmlSuffix(fileName);
}

bool saveToFile(QWidget *parent, DBStorage *storage, const QString &fileName)
{
    const QString target = withHtmlSuffix(fileName);
    QString errorText;
    if (writeHtml(target, buildHtml(storage->selectQuestions()), &errorText))
        return true;
    // The presenter would otherwise believe the questions were saved.
    QMessageBox::warning(parent, "Error", "Export error: " + errorText);
    return false;
}

void clearQuestions(QWidget *parent, DBStorage *storage)
{
    // No is the default: Enter or Escape pressed by habit must not delete every question.
    const auto answer = QMessageBox::warning(parent, "Deleted All", "Are you sure?",
                                             QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (answer != QMessageBox::Yes)
        return;
    if (!storage->deleteAll())
        QMessageBox::information(parent, "Error", "Delete error.", QMessageBox::Ok);
}

QString proposedFileName()
{
    for (const auto location :
         {QStandardPaths::DesktopLocation, QStandardPaths::DocumentsLocation}) {
        const QString folder = QStandardPaths::writableLocation(location);
        if (!folder.isEmpty() && QFileInfo(folder).isDir())
            return folder + "/table";
    }
    return QDir::homePath() + "/table";
}

QString withHtmlSuffix(const QString &fileName)
{
    const int dot = fileName.lastIndexOf('.');
    if (dot >= 0 && fileName.mid(dot) == ".html")
        return fileName;
    return fileName + ".html";
}

QString buildHtml(const QuestionRecords &records)
{
    QString html = "<!DOCTYPE html><html><head><style>table, td, th {border: 1px solid black;} "
                   "table {border-collapse: collapse; width: 100%;} th {height: 50px;} th, td "
                   "{padding: 15px;}</style></head><body><table> <tr>  "
                   "<th>id</th><th>name</th><th>question</th><th>state</th><th>upvotes</th>  </tr>";
    for (const QuestionRecord &record : records) {
        // Multi-argument arg() fills each placeholder once, so a "%1" typed by a viewer stays
        // text.
        const QString state = questionStateName(record.state) +
                              (record.highlighted ? QStringLiteral(", on screen") : QString());
        html += QString("<tr>  <td>%1</td><td>%2</td><td>%3</td><td>%4</td><td>%5</td>  </tr>")
                    .arg(QString::number(record.id), record.name.toHtmlEscaped(),
                         record.question.toHtmlEscaped(), state, QString::number(record.upvotes));
    }
    html += "</table></body></html>";
    return html;
}

bool writeHtml(const QString &fileName, const QString &html, QString *errorText)
{
    QFile file(fileName);
    const QByteArray content = html.toUtf8();
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(content) != content.size() || !file.flush()) {
        *errorText = fileName + ": " + file.errorString();
        return false;
    }
    file.close();
    if (file.error() != QFileDevice::NoError) {
        *errorText = fileName + ": " + file.errorString();
        return false;
    }
    return true;
}

} // namespace QuestionsExport
