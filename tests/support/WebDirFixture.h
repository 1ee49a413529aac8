#pragma once

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

// A web directory "WEB" inside a temporary directory, with a few files, and files beside it
// that no request may reach. dir() is written the way the studio writes it, with "//".
class WebDirFixture
{
public:
    static constexpr const char *kIndex = "<html><body>viewer</body></html>\n";

    WebDirFixture()
    {
        QDir(m_root.path()).mkpath("WEB/sub");
        write("WEB/index.html", kIndex);
        write("WEB/empty.txt", "");
        write("WEB/sub/page.html", "sub page");
        for (const char *name : {"player.js", "look.css", "logo.png", "logo.svg", "favicon.ico",
                                 "LOGO.PNG", "notes.md"})
            write(QString("WEB/") + name, QByteArray(name).mid(QByteArray(name).indexOf('.') + 1));
        write("WEB/data.json", "{}");
        write("secret.txt", "secret");
        write("WEB_secret.txt", "secret");
    }

    QString dir() const { return m_root.path() + "//WEB"; }
    void write(const QString &relative, const QByteArray &content) const
    {
        QFile file(m_root.path() + "/" + relative);
        if (file.open(QIODevice::WriteOnly))
            file.write(content);
    }

private:
    QTemporaryDir m_root;
};
