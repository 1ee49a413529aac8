#include "session/CaptureSources.h"

#include <QObject>

namespace CaptureSources {

QVector<Item> videoItems(const QStringList &devices, int screenCount)
{
    QVector<Item> items;
    for (const QString &device : devices)
        items.append({device, QString()});
    items.append({QObject::tr("-- capture screen area --"), kScreenAreaKey});
    if (screenCount == 1) {
        items.append({QObject::tr("Desktop"), QString(kDisplayKey) + "0"});
    } else {
        for (int n = 0; n < screenCount; ++n)
            items.append({QObject::tr("Desktop") + " #" + QString::number(n),
                          kDisplayKey + QString::number(n)});
    }
    items.append({QObject::tr("no video"), kNoVideo});
    return items;
}

int indexAfterRefill(const QVector<Item> &items, const Item &chosen)
{
    int noVideo = -1;
    for (int i = 0; i < items.size(); ++i) {
        if (items[i].data == chosen.data && items[i].text.trimmed() == chosen.text.trimmed())
            return i;
        if (items[i].data == kNoVideo)
            noVideo = i;
    }
    return noVideo;
}

QVector<Item> audioItems(const QStringList &devices)
{
    QVector<Item> items{{QObject::tr("no audio"), "NO_AUDIO"},
                        {QObject::tr("original"), "ORIGINAL"}};
    for (const QString &device : devices)
        items.append({device, QString()});
    return items;
}

QString paddedText(const QString &text, int comboWidth)
{
    return text.trimmed().leftJustified(comboWidth - 8 - text.size());
}

Choice resolve(const Item &video, const Item &audio)
{
    Choice choice;
    choice.video = video.text;
    if (video.data.startsWith(kDisplayKey)) {
        choice.video = kScreenDevice;
        choice.display = video.data.mid(int(qstrlen(kDisplayKey))).toInt();
    } else if (video.data == kScreenAreaKey) {
        choice.video = kScreenDevice;
        choice.screenArea = true;
    } else if (video.data == kNoVideo) {
        choice.video = kNoVideo;
    }
    choice.video = choice.video.trimmed();
    choice.audio = (audio.data.isEmpty() ? audio.text : audio.data).trimmed();
    return choice;
}

} // namespace CaptureSources
