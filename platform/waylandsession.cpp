#include "platform/waylandsession.h"

#include "idle-inhibit-unstable-v1-client-protocol.h"
#include "xdg-activation-v1-client-protocol.h"

#include <QCoreApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QPlatformSurfaceEvent>
#include <QWindow>
#include <qpa/qplatformnativeinterface.h>

#include <wayland-client.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <vector>

namespace pda::wayland {

namespace {

// Qt's connection, our queue: Qt's own objects and events are never touched.
class Session : public QObject {
public:
    static Session* instance()
    {
        // Lives as long as the program: its proxies must not outlive Qt's connection, and
        // Qt closes that connection last.
        static Session* session = isWayland() ? new Session : nullptr;
        return session && session->display ? session : nullptr;
    }

    bool hasKeyboard()
    {
        wl_display_dispatch_queue_pending(display, queue);
        return std::any_of(seats.begin(), seats.end(),
                           [](const Seat& s) { return s.capabilities & WL_SEAT_CAPABILITY_KEYBOARD; });
    }

    zwp_idle_inhibit_manager_v1* idle = nullptr;
    xdg_activation_v1* activation = nullptr;

    bool setInhibited(bool on)
    {
        if (!idle)
            return false;
        inhibited = on;
        if (on) {
            for (QWindow* w : QGuiApplication::topLevelWindows())
                inhibit(w);
        } else {
            for (auto& [window, held] : inhibitors)
                zwp_idle_inhibitor_v1_destroy(held.inhibitor);
            inhibitors.clear();
        }
        wl_display_flush(display);
        return true;
    }

    QString token(const QString& appId)
    {
        if (!activation)
            return {};
        struct Result {
            QString token;
            bool done = false;
        } result;
        static const xdg_activation_token_v1_listener listener = {
            [](void* data, xdg_activation_token_v1*, const char* token) {
                auto* r = static_cast<Result*>(data);
                r->token = QString::fromUtf8(token);
                r->done = true;
            },
        };
        xdg_activation_token_v1* request = xdg_activation_v1_get_activation_token(activation);
        xdg_activation_token_v1_add_listener(request, &listener, &result);
        if (!appId.isEmpty())
            xdg_activation_token_v1_set_app_id(request, appId.toUtf8().constData());
        xdg_activation_token_v1_commit(request);
        for (int i = 0; i < 3 && !result.done; ++i) {
            if (wl_display_roundtrip_queue(display, queue) < 0)
                break;
        }
        xdg_activation_token_v1_destroy(request);
        return result.token;
    }

    bool activate(QWindow* window, const QString& token)
    {
        wl_surface* surface = surfaceOf(window);
        if (!activation || !surface || token.isEmpty())
            return false;
        xdg_activation_v1_activate(activation, token.toUtf8().constData(), surface);
        wl_display_flush(display);
        return true;
    }

protected:
    bool eventFilter(QObject* obj, QEvent* event) override
    {
        if (!obj->isWindowType())
            return false;
        auto* window = static_cast<QWindow*>(obj);
        // Qt destroys a window's wl_surface when it is hidden and makes a new one when it is
        // shown, without a platform surface event: an inhibitor goes with the surface it was
        // made for, and each exposed surface gets its own.
        if (event->type() == QEvent::Expose && inhibited) {
            inhibit(window);
            wl_display_flush(display);
        } else if (event->type() == QEvent::Hide
                   || (event->type() == QEvent::PlatformSurface
                       && static_cast<QPlatformSurfaceEvent*>(event)->surfaceEventType()
                           == QPlatformSurfaceEvent::SurfaceAboutToBeDestroyed)) {
            forget(window);
        }
        return false;
    }

private:
    struct Seat {
        uint32_t name = 0;
        wl_seat* seat = nullptr;
        uint32_t capabilities = 0;
    };

    Session()
    {
        QPlatformNativeInterface* native = QGuiApplication::platformNativeInterface();
        display = native ? static_cast<wl_display*>(native->nativeResourceForIntegration("wl_display"))
                         : nullptr;
        if (!display)
            return;
        queue = wl_display_create_queue(display);
        wrapper = static_cast<wl_display*>(wl_proxy_create_wrapper(display));
        wl_proxy_set_queue(reinterpret_cast<wl_proxy*>(wrapper), queue);
        registry = wl_display_get_registry(wrapper);
        static const wl_registry_listener registryListener = {
            [](void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t) {
                static_cast<Session*>(data)->global(registry, name, interface);
            },
            [](void* data, wl_registry*, uint32_t name) { static_cast<Session*>(data)->globalRemoved(name); },
        };
        wl_registry_add_listener(registry, &registryListener, this);
        // The globals, then what the seats say of themselves.
        wl_display_roundtrip_queue(display, queue);
        wl_display_roundtrip_queue(display, queue);
        qApp->installEventFilter(this);
    }

    void global(wl_registry* reg, uint32_t name, const char* interface)
    {
        if (std::strcmp(interface, wl_seat_interface.name) == 0) {
            static const wl_seat_listener seatListener = {
                [](void* data, wl_seat* seat, uint32_t capabilities) {
                    static_cast<Session*>(data)->seatCapabilities(seat, capabilities);
                },
                [](void*, wl_seat*, const char*) {},
            };
            auto* seat = static_cast<wl_seat*>(wl_registry_bind(reg, name, &wl_seat_interface, 1));
            seats.push_back({name, seat, 0});
            wl_seat_add_listener(seat, &seatListener, this);
        } else if (std::strcmp(interface, zwp_idle_inhibit_manager_v1_interface.name) == 0 && !idle) {
            idle = static_cast<zwp_idle_inhibit_manager_v1*>(
                wl_registry_bind(reg, name, &zwp_idle_inhibit_manager_v1_interface, 1));
        } else if (std::strcmp(interface, xdg_activation_v1_interface.name) == 0 && !activation) {
            activation = static_cast<xdg_activation_v1*>(
                wl_registry_bind(reg, name, &xdg_activation_v1_interface, 1));
        }
    }

    void globalRemoved(uint32_t name)
    {
        const auto gone = std::find_if(seats.begin(), seats.end(), [name](const Seat& s) { return s.name == name; });
        if (gone != seats.end()) {
            wl_seat_destroy(gone->seat);
            seats.erase(gone);
        }
    }

    void seatCapabilities(wl_seat* seat, uint32_t capabilities)
    {
        for (Seat& s : seats) {
            if (s.seat == seat)
                s.capabilities = capabilities;
        }
    }

    static wl_surface* surfaceOf(QWindow* window)
    {
        QPlatformNativeInterface* native = QGuiApplication::platformNativeInterface();
        if (!native || !window || !window->handle())
            return nullptr;
        return static_cast<wl_surface*>(native->nativeResourceForWindow("surface", window));
    }

    void inhibit(QWindow* window)
    {
        if (window->parent() || !window->isVisible())
            return;
        wl_surface* surface = surfaceOf(window);
        if (!surface)
            return;
        // A surface remade in one go may reuse the old one's memory, never its id: the
        // compositor has not yet released that.
        const uint32_t id = wl_proxy_get_id(reinterpret_cast<wl_proxy*>(surface));
        const auto it = inhibitors.find(window);
        if (it != inhibitors.end()) {
            if (it->second.surface == surface && it->second.surfaceId == id)
                return;
            zwp_idle_inhibitor_v1_destroy(it->second.inhibitor);
        }
        inhibitors[window] = {surface, id, zwp_idle_inhibit_manager_v1_create_inhibitor(idle, surface)};
    }

    void forget(QWindow* window)
    {
        const auto it = inhibitors.find(window);
        if (it == inhibitors.end())
            return;
        zwp_idle_inhibitor_v1_destroy(it->second.inhibitor);
        inhibitors.erase(it);
        wl_display_flush(display);
    }

    struct Held {
        wl_surface* surface = nullptr;
        uint32_t surfaceId = 0;
        zwp_idle_inhibitor_v1* inhibitor = nullptr;
    };

    wl_display* display = nullptr;
    wl_event_queue* queue = nullptr;
    wl_display* wrapper = nullptr;
    wl_registry* registry = nullptr;
    std::vector<Seat> seats;
    std::map<QWindow*, Held> inhibitors;
    bool inhibited = false;
};

} // namespace

bool isWayland()
{
    return QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

bool seatHasKeyboard()
{
    Session* s = Session::instance();
    return !s || s->hasKeyboard();
}

bool idleInhibitOffered()
{
    Session* s = Session::instance();
    return s && s->idle;
}

bool setIdleInhibited(bool on)
{
    Session* s = Session::instance();
    return s && s->setInhibited(on);
}

bool activationOffered()
{
    Session* s = Session::instance();
    return s && s->activation;
}

QString requestActivationToken(const QString& appId)
{
    Session* s = Session::instance();
    return s ? s->token(appId) : QString();
}

bool activate(QWindow* window, const QString& token)
{
    Session* s = Session::instance();
    return s && s->activate(window, token);
}

} // namespace pda::wayland
