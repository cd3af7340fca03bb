#pragma once
// The order of the application's top-level windows, as the window system stacks them.
// Internal to the platform library.
#include <QList>

class QWidget;

namespace pda::fb {

// Visible top-level windows stacked above `window`; every other visible one when `window`
// was never seen, since nothing then says it lies on top.
QList<QWidget*> windowsAbove(const QWidget* window);
// Starts following the order (at the latest at the first use of the screen).
void stacking();

} // namespace pda::fb
