#pragma once

#include <QString>

// The dark look every window shares. Selectors name classes and object names,
// so the classes they mention must keep exactly those names.
QString globalStyleSheet();
