#include "platform/directpainter.h"
#include "platform/screenrotation.h"
#include "platform/uniquefd.h"
#include "platform/virtualscreen.h"

#include <QApplication>
#include <QBackingStore>
#include <QGuiApplication>
#include <QPaintEvent>
#include <QPainter>
#include <QPointer>
#include <QScreen>
#include <QWidget>

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <linux/fb.h>
#include <memory>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>
#include <unordered_map>
#include <vector>

namespace {

// ---- Screen back ends ------------------------------------------------------------------

// An open frame-buffer device and its mapped memory, released together.
class FbMapping {
public:
    FbMapping() = default;
    ~FbMapping()
    {
        if (addr != MAP_FAILED)
            ::munmap(addr, length);
    }
    FbMapping(const FbMapping&) = delete;
    FbMapping& operator=(const FbMapping&) = delete;

    UniqueFd fd;
    void* addr = MAP_FAILED;
    size_t length = 0;
};

struct Screen {
    int rotation = 0;
    QSize logical;     // as the user sees it
    QSize physical;    // as the memory is laid out
    uchar* base = nullptr;            // null: no screen memory at all
    int lineStep = 0;
    bool isVirtual = true;
    bool rgb565 = true;               // the memory holds the preview's own pixel layout
    std::vector<uchar> storage;       // virtual frame buffer memory
    QImage image;                     // wraps storage, never detached
    std::unique_ptr<FbMapping> fb;    // real frame buffer
};

int rotationFromEnvironment(int fallback)
{
    bool ok = false;
    const int r = qEnvironmentVariable("PDA_SCREEN_ROTATION").trimmed().toInt(&ok);
    return ok && r >= 0 && r <= 3 ? r : fallback;
}

// The device Qt's linuxfb platform draws on: its "fb=" option, else /dev/fb0.
QString frameBufferDevice()
{
    QString device = qEnvironmentVariable("QT_QPA_FB");
    const QStringList options = qEnvironmentVariable("QT_QPA_PLATFORM").split(QLatin1Char(':'));
    for (const QString& option : options) {
        if (option.startsWith(QLatin1String("fb=")))
            device = option.mid(3);
    }
    bool isNumber = false;
    device.toUInt(&isNumber);
    if (isNumber)
        device = QLatin1String("/dev/fb") + device;
    // Only frame-buffer nodes: the path comes from the environment.
    const QString number = device.mid(7);
    number.toUInt(&isNumber);
    if (!device.startsWith(QLatin1String("/dev/fb")) || !isNumber)
        device = QStringLiteral("/dev/fb0");
    return device;
}

// The memory holds 16-bit pixels with red in the top five bits, as the preview's frames do.
bool isRgb565(const fb_var_screeninfo& var)
{
    return var.bits_per_pixel == 16 && var.red.offset == 11 && var.red.length == 5
        && var.green.offset == 5 && var.green.length == 6 && var.blue.offset == 0
        && var.blue.length == 5;
}

bool openFrameBuffer(Screen& s)
{
    auto fb = std::make_unique<FbMapping>();
    const QByteArray path = frameBufferDevice().toLocal8Bit();
    fb->fd.reset(::open(path.constData(), O_RDWR | O_CLOEXEC));
    if (!fb->fd.valid())
        return false;
    fb_var_screeninfo var = {};
    fb_fix_screeninfo fix = {};
    if (::ioctl(fb->fd.get(), FBIOGET_VSCREENINFO, &var) != 0
        || ::ioctl(fb->fd.get(), FBIOGET_FSCREENINFO, &fix) != 0)
        return false;
    if (var.xres == 0 || var.yres == 0 || fix.line_length == 0)
        return false;
    fb->length = fix.smem_len ? fix.smem_len : size_t(fix.line_length) * var.yres_virtual;
    const size_t visibleEnd = size_t(fix.line_length) * (size_t(var.yoffset) + var.yres);
    if (size_t(var.xoffset + var.xres) * (var.bits_per_pixel / 8) > fix.line_length)
        return false;
    if (fb->length < visibleEnd)
        return false;
    fb->addr = ::mmap(nullptr, fb->length, PROT_READ | PROT_WRITE, MAP_SHARED, fb->fd.get(), 0);
    if (fb->addr == MAP_FAILED)
        return false;
    s.isVirtual = false;
    // Qt 6.4's linuxfb platform has no rotation: it draws the panel as it is laid out,
    // whatever PDA_SCREEN_ROTATION or the panel's own rotate field ask. The blit follows
    // the toolkit, so both agree, and the preview takes the painter's path (directAccess()).
    s.rotation = 0;
    s.physical = QSize(int(var.xres), int(var.yres));
    s.logical = s.physical;
    s.lineStep = int(fix.line_length);
    s.rgb565 = isRgb565(var);
    s.base = static_cast<uchar*>(fb->addr) + size_t(fix.line_length) * var.yoffset
        + size_t(var.xoffset) * (var.bits_per_pixel / 8);
    s.fb = std::move(fb);
    return true;
}

void makeVirtual(Screen& s)
{
    s.isVirtual = true;
    s.rotation = rotationFromEnvironment(1);
    s.logical = QSize(pda::virtualScreenWidth, pda::virtualScreenHeight);
    s.physical = s.rotation % 2 ? s.logical.transposed() : s.logical;
    s.lineStep = s.physical.width() * 2;
    s.storage.assign(size_t(s.lineStep) * size_t(s.physical.height()), 0);  // black
    s.base = s.storage.data();
    s.image = QImage(s.base, s.physical.width(), s.physical.height(), s.lineStep, QImage::Format_RGB16);
}

// A display server that keeps the screen to itself (Wayland, a VNC server, EGL, anything
// unknown): there is no memory to write into and no stacking order to read, so the
// preview is painted.
void makeNone(Screen& s)
{
    s.isVirtual = false;
    s.rgb565 = false;
    s.rotation = 0;
    const QScreen* qs = QGuiApplication::primaryScreen();
    s.logical = qs ? qs->size() : QSize(pda::virtualScreenWidth, pda::virtualScreenHeight);
    s.physical = s.logical;
}

class Stacking;
Stacking& stacking();

std::unique_ptr<Screen> makeScreen()
{
    auto s = std::make_unique<Screen>();
    const QString platform = QGuiApplication::platformName();
    if (platform == QLatin1String("linuxfb")) {
        if (!openFrameBuffer(*s))
            makeVirtual(*s);
    } else if (platform == QLatin1String("xcb") || platform == QLatin1String("offscreen")) {
        makeVirtual(*s);
    } else {
        makeNone(*s);
    }
    return s;
}

Screen& screen()
{
    stacking();  // follow the windows' order from the first use on
    static Screen* const program = makeScreen().release();  // lives as long as the program
    return *program;
}

quint16* physicalPixel(Screen& s, const QPoint& logical)
{
    const QPoint p = pda::logicalToPhysical(logical, s.rotation, s.logical.width(), s.logical.height());
    return reinterpret_cast<quint16*>(s.base + size_t(p.y()) * size_t(s.lineStep)) + p.x();
}

// The widget's origin on the logical screen.
QPoint screenOffset(const QWidget* w)
{
    const QScreen* qs = w->screen();
    const QPoint origin = qs ? qs->geometry().topLeft() : QPoint();
    return w->mapToGlobal(QPoint(0, 0)) - origin;
}

// Bytes from one logical pixel to the next one to its right, in physical memory.
ptrdiff_t logicalStepRight(const Screen& s)
{
    switch (s.rotation) {
    case 1: return -ptrdiff_t(s.lineStep);
    case 2: return -2;
    case 3: return s.lineStep;
    default: return 2;
    }
}

// Copies logical screen area `area` out of the virtual frame buffer, a row at a time.
QImage readLogical(Screen& s, const QRect& area)
{
    QImage out(area.size(), QImage::Format_RGB16);
    const ptrdiff_t step = logicalStepRight(s);
    for (int y = 0; y < area.height(); ++y) {
        auto* line = reinterpret_cast<quint16*>(out.scanLine(y));
        const uchar* from = reinterpret_cast<const uchar*>(physicalPixel(s, QPoint(area.x(), area.y() + y)));
        for (int x = 0; x < area.width(); ++x)
            line[x] = *reinterpret_cast<const quint16*>(from + x * step);
    }
    return out;
}

// Writes `picture` (any format) to logical screen area `area` of the virtual frame buffer.
void writeLogical(Screen& s, const QRect& area, const QImage& picture)
{
    const QImage pixels = picture.convertToFormat(QImage::Format_RGB16);
    const ptrdiff_t step = logicalStepRight(s);
    const int width = qMin(area.width(), pixels.width());
    const int height = qMin(area.height(), pixels.height());
    for (int y = 0; y < height; ++y) {
        const auto* line = reinterpret_cast<const quint16*>(pixels.constScanLine(y));
        uchar* to = reinterpret_cast<uchar*>(physicalPixel(s, QPoint(area.x(), area.y() + y)));
        for (int x = 0; x < width; ++x)
            *reinterpret_cast<quint16*>(to + x * step) = line[x];
    }
}

// ---- Stacking of top-level windows ----------------------------------------------------------

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

Stacking& stacking()
{
    static Stacking* instance = new Stacking;  // lives as long as the program
    return *instance;
}

// Listen from the application object's birth, so every window's showing is seen.
void startStacking()
{
    stacking();
}

// ---- Presentation of the virtual frame buffer -------------------------------------------

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
        const State& state = *it->second;
        const QRegion painted = static_cast<QPaintEvent*>(event)->region();
        const bool toScreen = paintsToScreen(w);

        // Presenting a blit: memory covers all that is painted, so the widget's own
        // painting would only be drawn over.
        if (toScreen && state.presenting && (painted - state.blit).isEmpty()) {
            Screen& s = screen();
            const QPoint offset = screenOffset(w);
            QPainter painter(w);
            for (const QRect& r : painted)
                painter.drawImage(r.topLeft(), readLogical(s, r.translated(offset)));
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

Q_COREAPP_STARTUP_FUNCTION(startStacking)

// ---- The virtual frame buffer ----------------------------------------------------------------

const QImage& pda::virtualFrameBuffer()
{
    return screen().image;
}

QImage pda::logicalScreenshot()
{
    Screen& s = screen();
    if (!s.isVirtual)
        return QImage();
    return readLogical(s, QRect(QPoint(0, 0), s.logical));
}

// ---- QDirectPainter and the screen object ----------------------------------------------------

QDirectPainter::QDirectPainter(QWidget* w)
    : widget(w)
{
    if (!widget)
        return;
    Screen& s = screen();
    offset = screenOffset(widget);
    if (!s.base)
        return;  // no screen memory: nothing is visible to a direct painter
    // Visible children (a message label on the viewfinder) hide the memory under them.
    QRegion visible = widget->visibleRegion();
    for (const QObject* child : widget->children()) {
        const auto* cw = qobject_cast<const QWidget*>(child);
        if (cw && !cw->isWindow() && cw->isVisible())
            visible -= cw->geometry();
    }
    logicalRegion = visible.translated(offset) & QRect(QPoint(0, 0), s.logical);
    // So do other windows over it (a message box): the blit must not paint over them.
    const QScreen* qs = widget->screen();
    const QPoint screenOrigin = qs ? qs->geometry().topLeft() : QPoint();
    for (const QWidget* other : stacking().above(widget->window()))
        logicalRegion -= other->frameGeometry().translated(-screenOrigin);
    for (const QRect& r : logicalRegion)
        region += pda::logicalToPhysical(r, s.rotation, s.logical.width(), s.logical.height());
    if (s.isVirtual && !logicalRegion.isEmpty())
        presenter().watch(widget);
}

QDirectPainter::~QDirectPainter()
{
    if (widget && !logicalRegion.isEmpty() && screen().isVirtual)
        presenter().present(widget, logicalRegion.translated(-offset));
}

int QDirectPainter::numRects() const
{
    return region.rectCount();
}

QRect QDirectPainter::rect(int i) const
{
    if (i < 0 || i >= region.rectCount())
        return QRect();
    return *(region.begin() + i);
}

int QDirectPainter::xOffset() const
{
    return offset.x();
}

int QDirectPainter::yOffset() const
{
    return offset.y();
}

unsigned char* QDirectPainter::frameBuffer() const
{
    return screen().base;
}

int QDirectPainter::lineStep() const
{
    return screen().lineStep;
}

bool PdaScreen::directAccess() const
{
    const Screen& s = screen();
    return s.base && s.rgb565 && (s.rotation == 1 || s.rotation == 3);
}

int PdaScreen::transformOrientation() const
{
    return screen().rotation;
}

int PdaScreen::width() const
{
    return screen().logical.width();
}

int PdaScreen::height() const
{
    return screen().logical.height();
}

namespace {
PdaScreen theScreen;
}

PdaScreen* const qt_screen = &theScreen;
