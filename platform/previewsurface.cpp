#include "platform/previewsurface.h"

#include "platform/uniquefd.h"

#include <QGuiApplication>
#include <QWindow>
#include <qpa/qplatformnativeinterface.h>

#include <wayland-client.h>

#include "viewporter-client-protocol.h"

#include <array>
#include <cstring>
#include <vector>
#include <sys/mman.h>
#include <unistd.h>

namespace pda::wayland {

namespace {

// Three frames: one on the screen, one the compositor may not have let go of yet, one free
// for the card.
constexpr int slotCount = 3;

wl_surface* surfaceOf(QWindow* window)
{
    QPlatformNativeInterface* native = QGuiApplication::platformNativeInterface();
    if (!native || !window || !window->handle())
        return nullptr;
    return static_cast<wl_surface*>(native->nativeResourceForWindow("surface", window));
}

} // namespace

// Qt's connection, our own queue and objects: Qt's are never touched, and our buffers'
// releases are read only when we ask.
struct PreviewSurface::Connection {
    struct Slot {
        uchar* memory = nullptr;
        wl_buffer* buffer = nullptr;
        QSize size;
        bool busy = false;  // attached, not yet released
    };

    ~Connection()
    {
        dropSurface();
        for (Slot& s : frames) {
            if (s.buffer)
                wl_buffer_destroy(s.buffer);
        }
        if (viewporter)
            wp_viewporter_destroy(viewporter);
        if (pool)
            wl_shm_pool_destroy(pool);
        if (shm)
            wl_shm_destroy(shm);
        if (subcompositor)
            wl_subcompositor_destroy(subcompositor);
        if (compositor)
            wl_compositor_destroy(compositor);
        if (registry)
            wl_registry_destroy(registry);
        if (wrapper)
            wl_proxy_wrapper_destroy(wrapper);
        if (display)
            wl_display_flush(display);
        if (queue)
            wl_event_queue_destroy(queue);
        if (memory != MAP_FAILED)
            ::munmap(memory, length);
    }

    void global(wl_registry* reg, uint32_t name, const char* interface)
    {
        if (std::strcmp(interface, wl_compositor_interface.name) == 0 && !compositor)
            compositor = static_cast<wl_compositor*>(wl_registry_bind(reg, name, &wl_compositor_interface, 1));
        else if (std::strcmp(interface, wl_subcompositor_interface.name) == 0 && !subcompositor)
            subcompositor = static_cast<wl_subcompositor*>(wl_registry_bind(reg, name, &wl_subcompositor_interface, 1));
        else if (std::strcmp(interface, wl_shm_interface.name) == 0 && !shm)
            shm = static_cast<wl_shm*>(wl_registry_bind(reg, name, &wl_shm_interface, 1));
        else if (std::strcmp(interface, wp_viewporter_interface.name) == 0 && !viewporter)
            viewporter = static_cast<wp_viewporter*>(wl_registry_bind(reg, name, &wp_viewporter_interface, 1));
    }

    void dropSurface()
    {
        if (viewport)
            wp_viewport_destroy(viewport);
        viewport = nullptr;
        destination = QSize();
        if (subsurface)
            wl_subsurface_destroy(subsurface);
        if (surface)
            wl_surface_destroy(surface);
        subsurface = nullptr;
        surface = nullptr;
        parent = nullptr;
        parentId = 0;
        for (Slot& s : frames)
            s.busy = false;  // a destroyed surface holds no buffer
    }

    wl_buffer* bufferFor(Slot& slot, const QSize& size)
    {
        if (slot.buffer && slot.size == size)
            return slot.buffer;
        if (slot.buffer)
            wl_buffer_destroy(slot.buffer);
        static const wl_buffer_listener listener = {
            [](void* data, wl_buffer*) { static_cast<Slot*>(data)->busy = false; },
        };
        slot.buffer = wl_shm_pool_create_buffer(pool, int32_t(slot.memory - memory), size.width(),
                                                size.height(), bytesPerLine, WL_SHM_FORMAT_RGB565);
        wl_buffer_add_listener(slot.buffer, &listener, &slot);
        slot.size = size;
        return slot.buffer;
    }

    wl_display* display = nullptr;
    wl_event_queue* queue = nullptr;
    wl_display* wrapper = nullptr;
    wl_registry* registry = nullptr;
    wl_compositor* compositor = nullptr;
    wl_subcompositor* subcompositor = nullptr;
    wl_shm* shm = nullptr;
    wp_viewporter* viewporter = nullptr;  // lets the compositor scale the frame; not everywhere
    bool rgb565 = false;
    wl_shm_pool* pool = nullptr;
    uchar* memory = static_cast<uchar*>(MAP_FAILED);
    size_t length = 0;
    QSize frameSize;
    int bytesPerLine = 0;
    std::array<Slot, slotCount> frames;
    int current = -1;  // the slot frame() is, -1 for our own memory
    std::vector<uchar> own;

    wl_surface* surface = nullptr;
    wl_subsurface* subsurface = nullptr;
    wp_viewport* viewport = nullptr;
    QSize destination;  // the size the compositor scales the frame to; empty: its own
    wl_surface* parent = nullptr;
    uint32_t parentId = 0;  // a surface remade at the same address has another id
    QPoint position;
    bool shown = false;
};

std::unique_ptr<PreviewSurface> PreviewSurface::create(const QSize& frameSize)
{
    if (!QGuiApplication::platformName().startsWith(QLatin1String("wayland")))
        return nullptr;
    QPlatformNativeInterface* native = QGuiApplication::platformNativeInterface();
    auto* display = native ? static_cast<wl_display*>(native->nativeResourceForIntegration("wl_display")) : nullptr;
    if (!display)
        return nullptr;
    auto c = std::make_unique<Connection>();
    c->display = display;
    c->queue = wl_display_create_queue(display);
    c->wrapper = static_cast<wl_display*>(wl_proxy_create_wrapper(display));
    wl_proxy_set_queue(reinterpret_cast<wl_proxy*>(c->wrapper), c->queue);
    c->registry = wl_display_get_registry(c->wrapper);
    static const wl_registry_listener registryListener = {
        [](void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t) {
            static_cast<Connection*>(data)->global(registry, name, interface);
        },
        [](void*, wl_registry*, uint32_t) {},
    };
    wl_registry_add_listener(c->registry, &registryListener, c.get());
    wl_display_roundtrip_queue(display, c->queue);  // the globals
    if (!c->compositor || !c->subcompositor || !c->shm)
        return nullptr;
    static const wl_shm_listener shmListener = {
        [](void* data, wl_shm*, uint32_t format) {
            if (format == WL_SHM_FORMAT_RGB565)
                static_cast<Connection*>(data)->rgb565 = true;
        },
    };
    wl_shm_add_listener(c->shm, &shmListener, c.get());
    wl_display_roundtrip_queue(display, c->queue);  // the formats
    if (!c->rgb565)
        return nullptr;

    c->frameSize = frameSize;
    c->bytesPerLine = (frameSize.width() * 2 + 3) & ~3;  // a 16-bit QImage's own
    const size_t slotBytes = size_t(c->bytesPerLine) * size_t(frameSize.height());
    c->length = slotBytes * slotCount;
    UniqueFd fd(::memfd_create("camera-preview", MFD_CLOEXEC));
    if (!fd.valid() || ::ftruncate(fd.get(), off_t(c->length)) != 0)
        return nullptr;
    void* memory = ::mmap(nullptr, c->length, PROT_READ | PROT_WRITE, MAP_SHARED, fd.get(), 0);
    if (memory == MAP_FAILED)
        return nullptr;
    c->memory = static_cast<uchar*>(memory);
    c->pool = wl_shm_create_pool(c->shm, fd.get(), int32_t(c->length));
    for (int i = 0; i < slotCount; ++i)
        c->frames[size_t(i)].memory = c->memory + slotBytes * size_t(i);
    wl_display_flush(display);
    std::unique_ptr<PreviewSurface> s(new PreviewSurface(std::move(c)));
    s->takeFreeSlot();
    return s;
}

PreviewSurface::PreviewSurface(std::unique_ptr<Connection> connection)
    : wl(std::move(connection))
{
}

PreviewSurface::~PreviewSurface() = default;

QImage PreviewSurface::frame() const
{
    return QImage(next, wl->frameSize.width(), wl->frameSize.height(), wl->bytesPerLine, QImage::Format_RGB16);
}

void PreviewSurface::takeFreeSlot()
{
    wl_display_dispatch_queue_pending(wl->display, wl->queue);
    for (int i = 0; i < slotCount; ++i) {
        Connection::Slot& slot = wl->frames[size_t(i)];
        if (i != wl->current && !slot.busy) {
            wl->current = i;
            next = slot.memory;
            return;
        }
    }
    // The compositor holds every slot: the card's next frame goes into our own memory.
    wl->current = -1;
    wl->own.resize(size_t(wl->bytesPerLine) * size_t(wl->frameSize.height()));
    next = wl->own.data();
}

bool PreviewSurface::scales() const
{
    return wl->viewporter != nullptr;
}

bool PreviewSurface::show(QWindow* window, const QPoint& position, const QSize& size, const QSize& onScreen,
                          bool* moved)
{
    *moved = false;
    if (onScreen != size && !wl->viewporter)
        return false;
    wl_surface* parent = surfaceOf(window);
    if (!parent) {
        hide();
        return false;
    }
    const uint32_t parentId = wl_proxy_get_id(reinterpret_cast<wl_proxy*>(parent));
    if (parent != wl->parent || parentId != wl->parentId) {
        wl->dropSurface();
        wl->surface = wl_compositor_create_surface(wl->compositor);
        wl->subsurface = wl_subcompositor_get_subsurface(wl->subcompositor, wl->surface, parent);
        // Its own frames apply at once, not with the window's next commit.
        wl_subsurface_set_desync(wl->subsurface);
        // Taps go through to the window beneath.
        wl_region* none = wl_compositor_create_region(wl->compositor);
        wl_surface_set_input_region(wl->surface, none);
        wl_region_destroy(none);
        wl->parent = parent;
        wl->parentId = parentId;
        wl->position = position;
        wl_subsurface_set_position(wl->subsurface, position.x(), position.y());
        *moved = true;
    } else if (position != wl->position) {
        wl->position = position;
        wl_subsurface_set_position(wl->subsurface, position.x(), position.y());
        *moved = true;
    }

    const QSize part = size.boundedTo(wl->frameSize);
    if (wl->current < 0) {
        // Our own memory: copied into a slot the compositor has let go of, if any.
        wl_display_dispatch_queue_pending(wl->display, wl->queue);
        for (int i = 0; i < slotCount && wl->current < 0; ++i) {
            if (!wl->frames[size_t(i)].busy) {
                std::memcpy(wl->frames[size_t(i)].memory, next, wl->own.size());
                wl->current = i;
            }
        }
        if (wl->current < 0) {
            wl_display_flush(wl->display);
            return true;  // this frame is not shown
        }
    }
    // Scaled by the compositor where the window's form is larger than its frame.
    const QSize destination = onScreen == part ? QSize() : onScreen;
    if (destination != wl->destination) {
        if (!wl->viewport)
            wl->viewport = wp_viewporter_get_viewport(wl->viewporter, wl->surface);
        if (destination.isEmpty())
            wp_viewport_set_destination(wl->viewport, -1, -1);
        else
            wp_viewport_set_destination(wl->viewport, destination.width(), destination.height());
        wl->destination = destination;
    }
    const QSize shown = destination.isEmpty() ? part : destination;
    Connection::Slot& slot = wl->frames[size_t(wl->current)];
    wl_surface_attach(wl->surface, wl->bufferFor(slot, part), 0, 0);
    wl_surface_damage(wl->surface, 0, 0, shown.width(), shown.height());
    wl_surface_commit(wl->surface);
    slot.busy = true;
    wl->shown = true;
    wl_display_flush(wl->display);
    takeFreeSlot();
    return true;
}

void PreviewSurface::hide()
{
    if (!wl->surface || !wl->shown)
        return;
    wl_surface_attach(wl->surface, nullptr, 0, 0);
    wl_surface_commit(wl->surface);
    wl_display_flush(wl->display);
    wl->shown = false;
}

} // namespace pda::wayland
