#include "web/WebDirectory.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

// The pages are found beside a built executable and under share/ for an installed one.
class TestWebDirectory : public QObject
{
    Q_OBJECT
private slots:
    void findsThePages_data()
    {
        QTest::addColumn<QStringList>("dirs");
        QTest::addColumn<QString>("expected");
        QTest::newRow("build: beside the executable") << QStringList{"bin/WEB"} << "bin//WEB";
        QTest::newRow("installed: under share")
            << QStringList{"share/lumacast/WEB"} << "share/lumacast/WEB";
        QTest::newRow("both: the one beside wins")
            << QStringList{"bin/WEB", "share/lumacast/WEB"} << "bin//WEB";
        QTest::newRow("another program's pages are not ours")
            << QStringList{"share/lumacast-cloud/WEB"} << "bin//WEB";
        QTest::newRow("neither: beside, for the not-found log") << QStringList{} << "bin//WEB";
    }
    void findsThePages()
    {
        QFETCH(QStringList, dirs);
        QFETCH(QString, expected);
        QTemporaryDir prefix;
        QVERIFY(QDir(prefix.path()).mkpath("bin"));
        for (const QString &dir : dirs)
            QVERIFY(QDir(prefix.path()).mkpath(dir));
        QCOMPARE(WebDirectory::locate(prefix.path() + "/bin", "lumacast"),
                 prefix.path() + "/" + expected);
    }
};

QTEST_GUILESS_MAIN(TestWebDirectory)
#include "tst_webdirectory.moc"
