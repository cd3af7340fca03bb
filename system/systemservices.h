#pragma once
// The camera's dealings with its surroundings: memory-card notices, power and screen
// saver, document-list refresh, the buzzer and the card's write protection. Serves the
// window's initSystemServices, cardMessage, isPowerOk, setScreenSaver, notifyLinkChanged,
// soundBuzzer and isCardLocked.
#include <QByteArray>
#include <QObject>
#include <cstdint>
#include <functional>

class SystemServices : public QObject {
    Q_OBJECT
public:
    // Subscribes to the memory-card channel; the nodes are opened for each request only.
    SystemServices(const char* buzzerNode, const char* slotStatusNode, QObject* parent);

    // External power, or a battery that is good or charging. Read from the system at most
    // every powerRefreshMs: a change shows within that time, and a tick costs no file reads.
    static constexpr unsigned powerRefreshMs = 250;
    bool isPowerOk() const;
    // The monotonic milliseconds the refresh is timed by; tests drive their own.
    void setClock(std::function<uint64_t()> clock) { monotonicMs = std::move(clock); }
    // Screen-saver levels 0 (as the user set it) to 3 (held off); a level already in force
    // sends nothing. False for a level above 3.
    bool setScreenSaver(unsigned level);
    int screenSaverLevel() const { return level; }
    void notifyLinkChanged();
    void soundBuzzer() const;
    // The card's write protection; unknown counts as writable.
    bool isCardLocked() const;

signals:
    // A message on "QPE/Card".
    void cardMessage(const QByteArray& message, const QByteArray& data);

private:
    const char* buzzerNode;
    const char* slotStatusNode;
    int level = -1; // none sent yet
    mutable bool powerOk = true;
    mutable bool powerKnown = false;
    mutable uint64_t powerReadMs = 0; // monotonic clock
    std::function<uint64_t()> monotonicMs;
};
