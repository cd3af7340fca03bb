#include "platform/xshmput.h"

#include "platform/pixels.h"
#include "platform/screenmemory.h"

#include <QGuiApplication>
#include <QWidget>
#include <QtGui/qguiapplication_platform.h>

#include <cstdlib>
#include <cstring>
#include <deque>
#include <sys/mman.h>
#include <unistd.h>
#include <unordered_map>
#include <xcb/shm.h>
#include <xcb/xcb.h>

namespace pda::fb {

namespace {

// Memory the X server reads the pixels from.
class Segment {
public:
    Segment() = default;
    Segment(const Segment&) = delete;
    Segment& operator=(const Segment&) = delete;
    ~Segment() { release(); }

    bool fits(size_t bytes) const { return data && size >= bytes; }

    bool make(xcb_connection_t* c, size_t bytes)
    {
        release();
        connection = c;
        const int fd = ::memfd_create("pda-preview", MFD_CLOEXEC);
        if (fd < 0)
            return false;
        void* mapped = MAP_FAILED;
        if (::ftruncate(fd, off_t(bytes)) == 0)
            mapped = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        if (mapped == MAP_FAILED) {
            ::close(fd);
            return false;
        }
        data = static_cast<uchar*>(mapped);
        size = bytes;
        id = xcb_generate_id(c);
        // xcb hands the descriptor over and closes it; the mapping stays.
        xcb_generic_error_t* error = xcb_request_check(c, xcb_shm_attach_fd_checked(c, id, fd, 1));
        if (error) {
            std::free(error);
            id = 0;
            release();
            return false;
        }
        return true;
    }

    uchar* data = nullptr;
    size_t size = 0;
    xcb_shm_seg_t id = 0;
    bool read = false;      // a put reads from it and may not be done yet
    bool covered = false;   // a request was sent after that put ...
    unsigned doneWhen = 0;  // ... this one, whose answer says the put is done

private:
    void release()
    {
        if (id)
            xcb_shm_detach(connection, id);
        if (data)
            ::munmap(data, size);
        data = nullptr;
        size = 0;
        id = 0;
    }

    xcb_connection_t* connection = nullptr;
};

// A put is done once the server has answered any request sent after it. One question every
// few frames covers the puts before it, so the toolkit's thread that reads the connection
// wakes for an answer only that often; the memory is not written again before.
constexpr int segmentCount = 4;
constexpr int putsPerQuestion = segmentCount;

class Putter {
public:
    Putter()
    {
        auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
        c = x11 ? x11->connection() : nullptr;
        if (!c)
            return;
        const xcb_query_extension_reply_t* shm = xcb_get_extension_data(c, &xcb_shm_id);
        if (!shm || !shm->present) {
            c = nullptr;
            return;
        }
        // Handing the memory over as a descriptor needs version 1.2.
        xcb_shm_query_version_reply_t* version = xcb_shm_query_version_reply(c, xcb_shm_query_version(c), nullptr);
        const bool fds = version && (version->major_version > 1 || version->minor_version >= 2);
        std::free(version);
        if (!fds)
            c = nullptr;
    }

    bool put(Screen& s, QWidget* w, const QRegion& blit)
    {
        const QWidget* top = w->window();
        const xcb_window_t window = xcb_window_t(top->internalWinId());
        QImage* store = paintImage(w);
        if (!c || !window || !store || store->devicePixelRatio() != 1 || w->devicePixelRatioF() != 1)
            return false;
        const QImage::Format format = store->format();
        const int bits = format == QImage::Format_RGB16 ? 16 : expandsRgb16(format) ? 32 : 0;
        const Drawable* target = drawable(window);
        if (!bits || !target || target->bits != bits)
            return false;

        const QPoint inWindow = w->mapTo(top, QPoint(0, 0));
        const QRegion area = blit & store->rect().translated(-inWindow);
        if (area.isEmpty())
            return true;
        const QRect bounds = area.boundingRect();
        const int bytesPerLine = (bounds.width() * bits / 8 + 3) & ~3;
        const size_t bytes = size_t(bytesPerLine) * size_t(bounds.height());
        next = (next + 1) % segmentCount;
        Segment& segment = segments[next];
        settle(segment);
        if (!segment.fits(bytes) && !segment.make(c, bytes)) {
            c = nullptr;  // the server takes no memory of ours (a remote one): repainted from now on
            return false;
        }

        QImage pixels(segment.data, bounds.width(), bounds.height(), bytesPerLine, format);
        const QPoint offset = screenOffset(w);
        const int bytesPerPixel = bits / 8;
        for (const QRect& r : area) {
            const QPoint at = r.topLeft() - bounds.topLeft();
            readLogical(s, r.translated(offset), pixels, at);
            xcb_shm_put_image(c, window, target->gc, uint16_t(bytesPerLine / bytesPerPixel),
                              uint16_t(bounds.height()), uint16_t(at.x()), uint16_t(at.y()),
                              uint16_t(r.width()), uint16_t(r.height()), int16_t(r.x() + inWindow.x()),
                              int16_t(r.y() + inWindow.y()), target->depth, XCB_IMAGE_FORMAT_Z_PIXMAP, 0,
                              segment.id, 0);
            // The toolkit's own copy of the window: what it shows again when it flushes.
            for (int y = 0; y < r.height(); ++y)
                std::memcpy(store->scanLine(r.y() + inWindow.y() + y) + (r.x() + inWindow.x()) * bytesPerPixel,
                            pixels.constScanLine(at.y() + y) + at.x() * bytesPerPixel,
                            size_t(r.width()) * size_t(bytesPerPixel));
        }
        segment.read = true;
        segment.covered = false;
        if (++puts % putsPerQuestion == 0)
            ask();
        xcb_flush(c);
        return true;
    }

private:
    // A request with an answer, sent after every put so far.
    void ask()
    {
        const xcb_get_input_focus_cookie_t question = xcb_get_input_focus(c);
        asked.push_back(question);
        for (Segment& segment : segments) {
            if (segment.read && !segment.covered) {
                segment.covered = true;
                segment.doneWhen = question.sequence;
            }
        }
    }

    // Waits, if need be, until the server has read what the last put took from `segment`.
    void settle(Segment& segment)
    {
        if (!segment.read)
            return;
        if (!segment.covered)
            ask();
        // Answers come in the order asked; the sequence numbers wrap.
        while (!asked.empty() && int(segment.doneWhen - asked.front().sequence) >= 0) {
            std::free(xcb_get_input_focus_reply(c, asked.front(), nullptr));
            asked.pop_front();
        }
        segment.read = false;
    }

    struct Drawable {
        uint8_t depth = 0;
        int bits = 0;  // per pixel in the server's images of that depth
        xcb_gcontext_t gc = 0;
    };

    // The window's depth and a context to draw on it with; null where the server's images
    // of that depth are not laid out as 16- or 32-bit pixels.
    const Drawable* drawable(xcb_window_t window)
    {
        auto it = drawables.find(window);
        if (it != drawables.end())
            return it->second.gc ? &it->second : nullptr;
        Drawable& d = drawables[window];
        xcb_get_geometry_reply_t* geometry = xcb_get_geometry_reply(c, xcb_get_geometry(c, window), nullptr);
        if (!geometry)
            return nullptr;
        d.depth = geometry->depth;
        std::free(geometry);
        const xcb_setup_t* setup = xcb_get_setup(c);
        for (auto f = xcb_setup_pixmap_formats_iterator(setup); f.rem; xcb_format_next(&f)) {
            if (f.data->depth == d.depth && f.data->scanline_pad <= 32)
                d.bits = f.data->bits_per_pixel;
        }
        if (d.bits != 16 && d.bits != 32)
            return nullptr;
        d.gc = xcb_generate_id(c);
        const uint32_t noExposures = 0;
        xcb_create_gc(c, d.gc, window, XCB_GC_GRAPHICS_EXPOSURES, &noExposures);
        return &d;
    }

    xcb_connection_t* c = nullptr;
    Segment segments[segmentCount];
    int next = 0;
    unsigned puts = 0;
    std::deque<xcb_get_input_focus_cookie_t> asked;
    std::unordered_map<xcb_window_t, Drawable> drawables;
};

} // namespace

bool putOnX(Screen& s, QWidget* w, const QRegion& blit)
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return false;
    static Putter* const putter = new Putter;  // lives as long as the program's connection
    return putter->put(s, w, blit);
}

} // namespace pda::fb
