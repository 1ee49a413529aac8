#include "app/AppStyle.h"
#include "app/MainWindow.h"
#include "net/DescriptorLimit.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    DescriptorLimit::raiseToHardLimit();
    app.setStyleSheet(globalStyleSheet());
    qputenv("QT_BEARER_POLL_TIMEOUT", QByteArray::number(-1));

    int exitCode = 0;
    {
        MainWindow window;
        window.show();
        exitCode = app.exec();
    }
    return exitCode;
}
