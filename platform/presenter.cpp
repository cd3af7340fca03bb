#include "platform/presenter.h"

#include "platform/pixels.h"
#include "platform/screenmemory.h"
#include "platform/xshmput.h"

#include <QBackingStore>
#include <QPaintEvent>
#include <QPainter>
#include <QWidget>

#include <memory>
#include <unordered_map>

namespace pda::fb {

namespace {


// Lets us ask where a widget is being painted to: the window's backing store (the screen)
// or a grab.
struct RedirectAccess : QWidget {
    static QPaintDevice* target(const QWidget* w, QPoint* offset)
    {
        return (w->*(&RedirectAccess::redirected))(offset);
    }
};

bool paintsToScreen(const QWidget* w)
{
    QPoint offset;
    const QPaintDevice* target = RedirectAccess::target(w, &offset);
    QBackingStore* store = w->window()->backingStore();
    return !target || (store && target == store->paintDevice());
}

// Makes the widgets a direct painter was made on behave like screen memory: what the toolkit
// paints in them is stored in the virtual frame buffer, and a blit's area shows the memory.
class Presenter : public QObject {
public:
    void watch(QWidget* w)
    {
        if (states.count(w))
            return;
        states.emplace(w, std::make_unique<State>());
        w->installEventFilter(this);
        connect(w, &QObject::destroyed, this, [this](QObject* o) { states.erase(o); });
        // Memory starts out holding what the widget shows already. It is taken while the
        // widget paints: outside a paint a window's backing store may hold no buffer.
        if (w->isVisible())
            w->repaint();
    }

    // Shows the freshly written area `blit` (widget coordinates) without painting over it.
    void present(QWidget* w, const QRegion& blit)
    {
        auto it = states.find(w);
        if (it == states.end())
            return;
        // On X the memory goes to the window by itself, without a repaint.
        if (putOnX(screen(), w, blit))
            return;
        State& state = *it->second;
        state.presenting = true;
        state.blit = blit;
        w->repaint(blit);
        state.presenting = false;
        state.blit = QRegion();
    }

protected:
    bool eventFilter(QObject* obj, QEvent* event) override
    {
        if (event->type() != QEvent::Paint)
            return false;
        auto it = states.find(obj);
        if (it == states.end() || !screen().isVirtual)
            return false;
        auto* w = static_cast<QWidget*>(obj);
        State& state = *it->second;
        const QRegion painted = static_cast<QPaintEvent*>(event)->region();
        const bool toScreen = paintsToScreen(w);

        // Presenting a blit: memory covers all that is painted, so the widget's own
        // painting would only be drawn over. Where the window's image takes 16- or 32-bit
        // pixels one to one, the memory is read straight into it; otherwise into an image
        // kept for the next frame, in the window's format, so drawing it is a plain copy.
        if (toScreen && state.presenting && (painted - state.blit).isEmpty()) {
            Screen& s = screen();
            const QPoint offset = screenOffset(w);
            QImage* image = paintImage(w);
            if (image && image->devicePixelRatio() == 1
                && (image->format() == QImage::Format_RGB16 || expandsRgb16(image->format()))) {
                const QPoint inWindow = w->mapTo(w->window(), QPoint(0, 0));
                for (const QRect& r : painted) {
                    const QRect part = r & image->rect().translated(-inWindow);
                    if (!part.isEmpty())
                        readLogical(s, part.translated(offset), *image, part.topLeft() + inWindow);
                }
                return true;
            }
            const QImage::Format format = image ? image->format() : QImage::Format_Invalid;
            QPainter painter(w);
            for (const QRect& r : painted) {
                readLogical(s, r.translated(offset), format, state.shown);
                painter.drawImage(r.topLeft(), state.shown);
            }
            return true;
        }

        // The widget paints itself first, as it would on the device ...
        static_cast<QObject*>(w)->event(event);

        // ... and on the screen that lands in memory, except where a blit was just written.
        Screen& s = screen();
        const QPoint offset = screenOffset(w);
        const QRect onScreen = QRect(QPoint(0, 0), s.logical).translated(-offset);
        QRegion fromMemory;
        if (!toScreen) {
            fromMemory = painted & onScreen;  // a grab shows what the screen shows
        } else if (state.presenting) {
            capture(w, painted - state.blit);
            fromMemory = painted & state.blit & onScreen;
        } else {
            capture(w, painted);
        }
        if (!fromMemory.isEmpty()) {
            QPainter painter(w);
            for (const QRect& r : fromMemory)
                painter.drawImage(r.topLeft(), readLogical(s, r.translated(offset)));
        }
        return true;
    }

private:
    struct State {
        bool presenting = false;
        QRegion blit;
        QImage shown; // the last blit's area as drawn
    };

    // Copies what the window's backing store holds for `region` of the widget into memory.
    // Only while the widget paints into it.
    static void capture(QWidget* w, const QRegion& region)
    {
        Screen& s = screen();
        QBackingStore* store = w->window()->backingStore();
        QPaintDevice* device = store ? store->paintDevice() : nullptr;
        if (!device || device->devType() != QInternal::Image)
            return;
        const auto* image = static_cast<const QImage*>(device);
        const qreal dpr = image->devicePixelRatio();
        const QPoint inWindow = w->mapTo(w->window(), QPoint(0, 0));
        const QPoint offset = screenOffset(w);
        const QRegion area = region & w->rect() & QRect(QPoint(0, 0), s.logical).translated(-offset);
        for (const QRect& r : area) {
            const QRect source(QPointF((r.topLeft() + inWindow) * dpr).toPoint(), (QSizeF(r.size()) * dpr).toSize());
            QImage part = image->copy(source);
            if (part.isNull())
                continue; // the backing store does not cover it (yet): nothing to copy
            if (part.size() != r.size())
                part = part.scaled(r.size());
            writeLogical(s, r.translated(offset), part);
        }
    }

    std::unordered_map<QObject*, std::unique_ptr<State>> states;
};

Presenter& presenter()
{
    static Presenter* instance = new Presenter;  // lives as long as the program
    return *instance;
}

} // namespace

void watch(QWidget* w)
{
    presenter().watch(w);
}

void present(QWidget* w, const QRegion& blit)
{
    presenter().present(w, blit);
}

} // namespace pda::fb
