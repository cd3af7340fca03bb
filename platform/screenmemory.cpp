#include "platform/screenmemory.h"

#include "platform/pixels.h"
#include "platform/screenrotation.h"
#include "platform/stacking.h"
#include "platform/virtualscreen.h"

#include <QGuiApplication>
#include <QVarLengthArray>
#include <QScreen>
#include <QWidget>

#include <fcntl.h>
#include <linux/fb.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace pda::fb {

namespace {

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

quint16* physicalPixel(Screen& s, const QPoint& logical)
{
    const QPoint p = pda::logicalToPhysical(logical, s.rotation, s.logical.width(), s.logical.height());
    return reinterpret_cast<quint16*>(s.base + size_t(p.y()) * size_t(s.lineStep)) + p.x();
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

} // namespace

Screen& screen()
{
    stacking();  // follow the windows' order from the first use on
    static Screen* const program = makeScreen().release();  // lives as long as the program
    return *program;
}

QPoint screenOffset(const QWidget* w)
{
    const QScreen* qs = w->screen();
    const QPoint origin = qs ? qs->geometry().topLeft() : QPoint();
    return w->mapToGlobal(QPoint(0, 0)) - origin;
}

QImage readLogical(Screen& s, const QRect& area)
{
    QImage out;
    readLogical(s, area, QImage::Format_RGB16, out);
    return out;
}

void readLogical(Screen& s, const QRect& area, QImage::Format format, QImage& into)
{
    const QImage::Format made = expandsRgb16(format) ? QImage::Format_RGB32 : QImage::Format_RGB16;
    if (into.size() != area.size() || into.format() != made)
        into = QImage(area.size(), made);
    readLogical(s, area, into, QPoint(0, 0));
}

void readLogical(Screen& s, const QRect& area, QImage& into, const QPoint& at)
{
    const bool expand = expandsRgb16(into.format());
    const ptrdiff_t step = logicalStepRight(s);
    QVarLengthArray<quint16, 512> row(expand ? area.width() : 0);
    for (int y = 0; y < area.height(); ++y) {
        uchar* to = into.scanLine(at.y() + y) + at.x() * (expand ? 4 : 2);
        auto* line = expand ? row.data() : reinterpret_cast<quint16*>(to);
        const uchar* from = reinterpret_cast<const uchar*>(physicalPixel(s, QPoint(area.x(), area.y() + y)));
        for (int x = 0; x < area.width(); ++x)
            line[x] = *reinterpret_cast<const quint16*>(from + x * step);
        if (expand)
            expandRgb16(line, reinterpret_cast<quint32*>(to), area.width());
    }
}

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

} // namespace pda::fb
