#pragma once

#include <vector>

class QComboBox;
class QShortcut;

// The keyboard choice of a video source: Ctrl+1..9 pick the list's first nine items and Ctrl+N
// the next one, anywhere in the studio. Bound anew at each fill of the list. GUI thread only.
class SourceShortcuts
{
public:
    static constexpr int kNumberedItems = 9;

    // Replaces the bindings of an earlier call with those of `combo` as it is filled now; the
    // shortcuts are the combo's children.
    void bind(QComboBox *combo);

private:
    std::vector<QShortcut *> m_shortcuts;
};
