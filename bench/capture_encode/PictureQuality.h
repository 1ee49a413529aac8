#pragma once

#include "ScreenClip.h"

#include "support/TsDemux.h"

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
