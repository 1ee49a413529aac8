#include "capture/media/WriterConfig.h"

#include <QRegularExpression>

bool WriterConfig::parse(const QString &text, WriterConfig *config, QString *error)
{
    static const QRegularExpression setting(QStringLiteral("\\G\\s*([A-Za-z0-9_:]+)='([^']*)'"));
    *config = WriterConfig();
    int pos = 0;
    const QString rest = text.trimmed();
    while (pos < rest.size()) {
        const QRegularExpressionMatch m = setting.match(rest, pos);
        if (!m.hasMatch()) {
            *error = QStringLiteral("malformed setting at \"%1\"").arg(rest.mid(pos));
            return false;
        }
        pos = m.capturedEnd();
        const QString key = m.captured(1);
        const QByteArray value = m.captured(2).toUtf8();
        const auto kindKey = [&key](const char *prefix) {
            return key.startsWith(QLatin1String(prefix)) ? key.mid(int(qstrlen(prefix))).toUtf8()
                                                         : QByteArray();
        };
        const QByteArray videoKey = kindKey("video::");
        const QByteArray audioKey = kindKey("audio::");
        if (key == QLatin1String("format"))
            config->format = value;
        else if (videoKey == "codec")
            config->videoCodec = value;
        else if (audioKey == "codec")
            config->audioCodec = value;
        else if (!videoKey.isEmpty())
            config->videoOptions.append({videoKey, value});
        else if (!audioKey.isEmpty())
            config->audioOptions.append({audioKey, value});
        else
            config->formatOptions.append({key.toUtf8(), value});
    }
    if (config->format.isEmpty()) {
        *error = QStringLiteral("no format");
        return false;
    }
    if (!config->hasVideo() && !config->hasAudio()) {
        *error = QStringLiteral("neither a video nor an audio codec");
        return false;
    }
    return true;
}
