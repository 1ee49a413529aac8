#pragma once

#include "app/SourceShortcuts.h"
#include "session/CaptureSources.h"

class QComboBox;
class StudioSession;
class WCapture;

// The main window's video and audio lists: filled from the session's devices, the video list
// filled again on request keeping the choice, and read as the session's source choice with the
// area the on-screen frame holds. A change of either list goes to the session at once. GUI
// thread only.
class SourcePicker
{
public:
    // All are lent and must outlive the picker.
    SourcePicker(QComboBox *video, QComboBox *audio, WCapture *areaSelector,
                 StudioSession *session);

    void fill();
    // Keeps the chosen video item when it is still offered, else picks "no video".
    void refillVideo();
    // Puts `index` in the list when it is still valid (a device may have gone since), else
    // `fallback`; shows the frame when that picks the screen area.
    static void restore(QComboBox *combo, int index, int fallback);
    void showAreaIfChosen() const;

    void onVideoChanged();
    void onAudioChanged();
    CaptureSources::Choice choice() const;

private:
    QVector<CaptureSources::Item> fillVideo();
    bool screenAreaChosen() const;

    QComboBox *m_video;
    QComboBox *m_audio;
    WCapture *m_areaSelector;
    StudioSession *m_session;
    SourceShortcuts m_shortcuts;
    // The list's own selection while it is filled is no choice of the presenter's.
    bool m_fillingVideo = false;
};
