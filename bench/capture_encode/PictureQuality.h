#pragma once

#include "ScreenClip.h"

#include "support/TsDemux.h"

#include <QVector>

// How close the pictures of a recorded stream come to the clip frames they show: each picture
// is scaled to the clip's size as a browser would draw it full screen and scored by the PSNR
// of its decoded luma against the luma its frame was coded from, the index rows left out.
struct PictureQuality
{
    int scored = 0;
    int unreadable = 0; // pictures whose index (or luma) could not be read
    double meanPsnr = 0;
    double lowestPsnr = 0;
};

PictureQuality scorePictures(const TsDemux &video, const ScreenClip &clip);

// How sharp the still page of a settling clip (ScreenClip::Play::Settle) is on a viewer's
// screen some time after the motion stopped: at each of `afterSeconds` past the first picture
// of the still page, the last picture decoded by then, scored as above, averaged over the
// still spells the stream holds in full.
struct SettleQuality
{
    QVector<double> meanPsnr; // one for each of afterSeconds
    int spells = 0;
    int pictures = 0; // of the still page
};

SettleQuality scoreSettling(const TsDemux &video, const ScreenClip &clip,
                            const QVector<double> &afterSeconds);
