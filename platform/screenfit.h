#pragma once
// A layout made for the handheld's 240x320 screen on a larger one (a phone's compositor
// gives its windows 360x720 and more): the factor it is scaled by.
#include <QSize>

namespace pda {

// The largest factor by which `base` fits into `available` keeping its proportions; never
// below 1: a place as large as the layout, or smaller, shows it as laid out.
qreal fitScale(const QSize& available, const QSize& base);

} // namespace pda
