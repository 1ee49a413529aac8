// Renders each SVG drawing given on the command line to a PNG of the same name beside it, at
// the size the tool bar shows it, so the committed PNGs always come from the committed drawings.
// Usage: render_icons <size> <file.svg>...
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QRegularExpression>
#include <QSvgRenderer>
#include <QTextStream>

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    QTextStream err(stderr);
    const int size = args.value(1).toInt();
    if (args.size() < 3 || size <= 0) {
        err << "usage: render_icons <size> <file.svg>...\n";
        return 2;
    }
    for (const QString &svgFile : args.mid(2)) {
        QSvgRenderer renderer(svgFile);
        if (!renderer.isValid()) {
            err << "cannot read " << svgFile << "\n";
            return 1;
        }
        QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        renderer.render(&painter);
        painter.end();
        QString pngFile = svgFile;
        pngFile.replace(QRegularExpression("\\.svg$"), ".png");
        if (!image.save(pngFile, "PNG")) {
            err << "cannot write " << pngFile << "\n";
            return 1;
        }
    }
    return 0;
}
