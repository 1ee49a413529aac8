#include "app/SourceShortcuts.h"

#include <QComboBox>
#include <QShortcut>

void SourceShortcuts::bind(QComboBox *combo)
{
    // One binding per key: the bindings of an earlier fill go first.
    for (QShortcut *shortcut : m_shortcuts)
        delete shortcut;
    m_shortcuts.clear();
    const auto add = [this, combo](const QKeySequence &keys, auto pick) {
        auto *shortcut = new QShortcut(keys, combo);
        shortcut->setContext(Qt::ApplicationShortcut);
        QObject::connect(shortcut, &QShortcut::activated, combo, pick);
        m_shortcuts.push_back(shortcut);
    };
    for (int i = 0; i < combo->count() && i < kNumberedItems; ++i)
        add(QKeySequence(Qt::CTRL + Qt::Key_1 + i), [combo, i] { combo->setCurrentIndex(i); });
    add(QKeySequence(Qt::CTRL + Qt::Key_N),
        [combo] { combo->setCurrentIndex((combo->currentIndex() + 1) % combo->count()); });
}
