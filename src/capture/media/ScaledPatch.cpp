#include "capture/media/ScaledPatch.h"

#include <algorithm>
#include <numeric>

namespace {

// Beyond this, a patch would span most of a small picture anyway.
constexpr int maxSourceStep = 64;

struct Span
{
    int begin;
    int end;
};

struct AxisPatch
{
    Span source;
    Span kept; // in target pixels, of the whole target
    Span scaled;
};

std::optional<AxisPatch> placeAxis(int source, int target, Span changed)
{
    if (source <= 0 || target <= 0 || target % 2)
        return std::nullopt;
    const int divisor = std::gcd(source, target);
    int sourceStep = source / divisor;
    int targetStep = target / divisor;
    // The scaler steps through the source in 1/65536 pixels: where that step is not exact, its
    // rounding error adds up differently from a patch's start than from the picture's.
    if ((int64_t(source) << 16) % target)
        return std::nullopt;
    // Chroma is sampled every second target pixel, and taken from pairs of source pixels: the
    // grid must keep both aligned.
    if (targetStep % 2 || sourceStep % 2) {
        sourceStep *= 2;
        targetStep *= 2;
    }
    if (sourceStep > maxSourceStep)
        return std::nullopt;
    // A bicubic filter reaches two taps each side, at the chroma's half resolution and stretched
    // by the reduction; twice that leaves room for the scaler's own rounding of filter sizes.
    const int reduction = (source + target - 1) / target;
    const int reach = 8 * reduction + 8;
    const int margin = (reach + sourceStep - 1) / sourceStep * sourceStep;
    const auto down = [sourceStep](int x) {
        return x / sourceStep * sourceStep;
    };
    const auto up = [sourceStep](int x) {
        return (x + sourceStep - 1) / sourceStep * sourceStep;
    };
    // A change shows in the target as far as the filters reach from it, and those pixels need
    // the source as far again.
    const Span kept{std::max(0, down(changed.begin) - margin),
                    std::min(source, up(changed.end) + margin)};
    if (changed.begin >= changed.end || kept.begin >= kept.end)
        return std::nullopt;
    const Span widened{std::max(0, kept.begin - margin), std::min(source, kept.end + margin)};
    const auto scaled = [&](int x) {
        return int(int64_t(x) * target / source);
    };
    return AxisPatch{widened,
                     {scaled(kept.begin), scaled(kept.end)},
                     {scaled(widened.begin), scaled(widened.end)}};
}

} // namespace

std::optional<ScaledPatch> ScaledPatch::place(QSize source, QSize target, const QRect &changed)
{
    const std::optional<AxisPatch> x = placeAxis(
        source.width(), target.width(), {changed.left(), changed.left() + changed.width()});
    const std::optional<AxisPatch> y = placeAxis(source.height(), target.height(),
                                                 {changed.top(), changed.top() + changed.height()});
    if (!x || !y)
        return std::nullopt;
    ScaledPatch patch;
    patch.source = QRect(x->source.begin, y->source.begin, x->source.end - x->source.begin,
                         y->source.end - y->source.begin);
    patch.scaled = QSize(x->scaled.end - x->scaled.begin, y->scaled.end - y->scaled.begin);
    patch.target = QRect(x->kept.begin, y->kept.begin, x->kept.end - x->kept.begin,
                         y->kept.end - y->kept.begin);
    patch.kept = patch.target.translated(-x->scaled.begin, -y->scaled.begin);
    return patch;
}
