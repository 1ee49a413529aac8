#pragma once

#include <QRect>
#include <QSize>
#include <optional>

// Where a changed rectangle of a picture lands in its scaled copy, chosen so that scaling the
// rectangle alone gives the pixels that scaling the whole picture would. The rectangle is
// widened to the grid on which source and target pixels line up (and the target's chroma,
// sampled every second pixel, too) and by the reach of the scaler's filters, within which the
// change shows in the target; that part is kept, and scaled from a source wider by the reach
// again.
struct ScaledPatch
{
    QRect source; // what to scale, in the source picture
    QSize scaled; // what `source` scales to
    QRect kept;   // the part of the scaled patch to keep, in the patch's coordinates
    QRect target; // where the kept part goes in the target picture (kept's size)

    // Null when no such grid exists within reason (the sizes share too small a divisor).
    static std::optional<ScaledPatch> place(QSize source, QSize target, const QRect &changed);
};
