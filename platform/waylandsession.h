#pragma once
// What a client of a Wayland compositor can ask beyond Qt's own platform: whether the seat
// has a keyboard, the idle-inhibit protocol on the application's surfaces, and
// xdg-activation. Everything is bound on Qt's own connection to the compositor, on an event
// queue of its own. Off Wayland every query says "not offered". Internal to the platform
// library.
#include <QString>

class QWindow;

namespace pda::wayland {

// The application runs on Qt's wayland platform.
bool isWayland();

// Whether any seat of the compositor has a keyboard. Without one no window ever receives
// the keyboard focus, so none becomes the active window. True off Wayland.
bool seatHasKeyboard();

// zwp_idle_inhibit_manager_v1 is offered.
bool idleInhibitOffered();
// Holds off the compositor's idle behaviour while any of the application's windows is
// visible (windows shown later included), or ends that hold. False when not offered.
bool setIdleInhibited(bool on);

// xdg_activation_v1 is offered.
bool activationOffered();
// A token the compositor issues to this client, for another client's window to come to the
// front with; empty when not offered or refused.
QString requestActivationToken(const QString& appId);
// Asks the compositor to bring `window` to the front with `token`.
bool activate(QWindow* window, const QString& token);

} // namespace pda::wayland
