#include "platform/stacking.h"

#include <QApplication>
#include <QPointer>
#include <QWidget>

#include <algorithm>
#include <vector>

namespace pda::fb {

namespace {

// The order of the application's top-level windows, bottom to top, as the window system
// stacks them: a window comes to the top when it is shown or raised. Qt keeps no such list
// that works on every platform, so it is followed from the windows' events. Activation
// does not count: linuxfb does not raise on it, and it arrives late on other platforms.
class Stacking : public QObject {
public:
    Stacking()
    {
        // Windows already up when we start listening: the active one and dialogs on top.
        // (None while the application object is still being made.)
        if (!qobject_cast<QApplication*>(QCoreApplication::instance())) {
            if (QCoreApplication::instance())
                QCoreApplication::instance()->installEventFilter(this);
            return;
        }
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (w->isVisible() && !w->isActiveWindow() && !w->isModal())
                order.push_back(w);
        }
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (w->isVisible() && w->isModal())
                order.push_back(w);
        }
        if (QWidget* active = QApplication::activeWindow(); active && !active->isModal())
            order.push_back(active);
        qApp->installEventFilter(this);
    }

    // Visible top-level windows stacked above `window`; every other visible one when
    // `window` was never seen, since nothing then says it lies on top.
    QList<QWidget*> above(const QWidget* window) const
    {
        QList<QWidget*> result;
        bool seen = false;
        for (const QPointer<QWidget>& w : order) {
            if (w == window)
                seen = true;
            else if (w && seen && w->isVisible())
                result.append(w);
        }
        if (!seen) {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                if (w != window && w->isVisible())
                    result.append(w);
            }
        }
        return result;
    }

protected:
    bool eventFilter(QObject* obj, QEvent* event) override
    {
        const QEvent::Type type = event->type();
        if ((type == QEvent::Show || type == QEvent::ZOrderChange) && obj->isWidgetType()) {
            auto* w = static_cast<QWidget*>(obj);
            if (w->isWindow())
                raise(w);
        }
        return false;
    }

private:
    void raise(QWidget* w)
    {
        order.erase(std::remove_if(order.begin(), order.end(),
                                   [w](const QPointer<QWidget>& p) { return !p || p == w; }),
                    order.end());
        order.push_back(w);
    }

    std::vector<QPointer<QWidget>> order;
};

Stacking& instance()
{
    static Stacking* program = new Stacking;  // lives as long as the program
    return *program;
}

} // namespace

void stacking()
{
    instance();
}

QList<QWidget*> windowsAbove(const QWidget* window)
{
    return instance().above(window);
}

} // namespace pda::fb

namespace {
// Listen from the application object's birth, so every window's showing is seen.
void startStacking()
{
    pda::fb::stacking();
}
} // namespace

Q_COREAPP_STARTUP_FUNCTION(startStacking)
