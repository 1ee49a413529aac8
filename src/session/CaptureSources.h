#pragma once

#include <QRect>
#include <QString>
#include <QStringList>
#include <QVector>

// The items of the main window's video and audio lists, and how a choice in them becomes the
// source names the capture controller takes.
namespace CaptureSources {

constexpr const char *kScreenDevice = "Medialooks DXGI/DX11 ScreenCapture";
constexpr const char *kScreenAreaKey = "CAPTURE_SCREEN";
constexpr const char *kDisplayKey = "CAPTURE_DISPLAY#";
constexpr const char *kNoVideo = "NO_VIDEO";

struct Item
{
    QString text;
    QString data; // empty for a device, which is named by its text
};

// The devices (cameras, capture cards, then NDI sources), "-- capture screen area --" (the area
// chosen with the on-screen frame), one "Desktop" entry per screen ("Desktop" alone with one
// screen, else "Desktop #n" from 0), and "no video".
QVector<Item> videoItems(const QStringList &devices, int screenCount);

// Where the list selection goes after the video list was filled again with `items`: the item
// with the same name (trimmed) and data as `chosen`, else "no video". Never another source, which
// would put a screen or camera on air without the presenter choosing it.
int indexAfterRefill(const QVector<Item> &items, const Item &chosen);

// "no audio", "original" (the video source's own sound), then the audio devices.
QVector<Item> audioItems(const QStringList &devices);

// The item text as the video combo shows it: trimmed, then padded with spaces on the right to
// comboWidth - 8 - text.size() characters (never cut), which keeps the drop-down as wide as the
// combo. Whoever reads a name back trims it.
QString paddedText(const QString &text, int comboWidth);

struct Choice
{
    QString video;        // device name, kScreenDevice or kNoVideo; trimmed
    QString audio;        // "NO_AUDIO", "ORIGINAL" or a device name; trimmed
    int display = -1;     // the screen to capture, -1 when the video is no screen source
    QRect area = QRect(); // the part of it (desktop coordinates), empty for the whole screen
    // The video is the area chosen with the on-screen frame: `display` and `area` are the
    // frame's, which the main window fills in.
    bool screenArea = false;
};

// The source names for the current items of both lists (text and item data of each).
Choice resolve(const Item &video, const Item &audio);

} // namespace CaptureSources
