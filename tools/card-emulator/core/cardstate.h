#pragma once
// The emulated camera card: mode, geometry, buttons, plug state, injected faults and
// counters. Every operation of the file system maps to one call here, under one lock held
// by the caller. Times are passed in (milliseconds of a steady clock), so this stays pure.
#include "tools/card-emulator/core/cardcommand.h"
#include "tools/card-emulator/core/scene.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace card {

// Status word letters: upper case when the flag is set, lower case when clear.
constexpr char statusLetters[4] = {'S', 'O', 'W', 'P'};  // shutter, orientation, wait, present

struct ReadPlan {
    int error = 0;            // errno, 0 for success
    std::size_t length = 0;   // bytes to return
    bool status = false;      // a status word, else a frame
    std::array<char, 4> word{};
    SceneTime time;           // the frame's moment
};

struct WriteOutcome {
    int error = 0;         // errno, 0: the whole write counts as transferred
    bool ignored = false;  // swallowed: did not parse, nothing changed
    const char* reason = "";
};

class CardState {
public:
    explicit CardState(int frameMs = 30);

    // Opening the node; a card that is not plugged in has no node (ENODEV).
    // `handle` identifies the card the descriptor was opened on.
    int open(std::uint64_t& handle);

    // How long a frame read of the current mode waits before the frame arrives.
    int frameDelayMs() const;
    // A read of `asked` bytes on a descriptor opened with `handle`.
    ReadPlan read(std::size_t asked, std::uint64_t handle, std::uint64_t nowMs);
    WriteOutcome write(const char* data, std::size_t length, std::uint64_t handle,
                       std::uint64_t nowMs);
    // The buzzer's one request; false for anything else.
    bool buzzer(unsigned request, std::uintptr_t argument);
    void apply(const ControlCommand& command, std::uint64_t nowMs);
    // The picture source works (or not, and why); a card without a working source reports
    // itself absent.
    void setSource(bool working, const std::string& reason = {});

    std::array<char, 4> statusWord() const;
    // The state and counters as "name value" lines.
    std::string describe() const;

    int mode() const { return modeBits; }
    const Geometry& geometry() const { return geom; }
    bool plugged() const { return isPlugged; }
    unsigned long buzzerCount() const { return buzzes; }

private:
    void setMode(int bits, std::uint64_t nowMs);
    std::uint32_t motionAt(std::uint64_t nowMs) const;

    int modeBits = 0;
    Geometry geom;
    bool geometrySent = false;
    bool shutter = false;
    bool orientation = false;
    bool busy = false;
    bool present = true;
    bool isPlugged = true;
    std::uint64_t card = 1;  // changes at every unplug: descriptors of an old card stay dead
    int frameMs;
    bool sourceWorking = true;
    std::string sourceFailure;
    unsigned long sourceFailures = 0;
    unsigned long failReads = 0;
    long shortRead = -1;
    unsigned long failWrites = 0;

    // Capture enabled time: what the scene's motion runs on.
    std::uint64_t motionBase = 0;
    std::uint64_t enabledSince = 0;
    SceneTime latched;  // the picture taken when capture was switched off
    std::uint32_t frames = 0;

    unsigned long opens = 0, reads = 0, writes = 0, ignored = 0, failed = 0;
    unsigned long shutterDone = 0, clears = 0, buzzes = 0;
};

}  // namespace card
