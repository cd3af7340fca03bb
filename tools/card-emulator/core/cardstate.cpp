#include "tools/card-emulator/core/cardstate.h"

#include <cerrno>
#include <cstdio>

namespace card {

CardState::CardState(int initialFrameMs)
    : frameMs(initialFrameMs < 0 ? 0 : initialFrameMs)
{
}

int CardState::open(std::uint64_t& handle)
{
    if (!isPlugged)
        return ENODEV;
    handle = card;
    ++opens;
    return 0;
}

int CardState::frameDelayMs() const
{
    // Slow capture delivers at half the rate.
    return (modeBits & 2) ? 2 * frameMs : frameMs;
}

std::uint32_t CardState::motionAt(std::uint64_t nowMs) const
{
    std::uint64_t m = motionBase;
    if ((modeBits & 1) && nowMs > enabledSince)
        m += nowMs - enabledSince;
    return std::uint32_t(m);
}

void CardState::setMode(int bits, std::uint64_t nowMs)
{
    const bool wasOn = modeBits & 1;
    const bool on = bits & 1;
    if (wasOn && !on) {
        // Switching capture off takes the picture that the following reads return.
        motionBase = motionAt(nowMs);
        latched = SceneTime{std::uint32_t(motionBase), ++frames};
    } else if (!wasOn && on) {
        enabledSince = nowMs;
    }
    modeBits = bits;
}

std::array<char, 4> CardState::statusWord() const
{
    const bool flags[4] = {shutter, orientation, busy, present && sourceWorking};
    std::array<char, 4> word{};
    for (int i = 0; i < 4; ++i)
        word[i] = flags[i] ? statusLetters[i] : char(statusLetters[i] - 'A' + 'a');
    return word;
}

ReadPlan CardState::read(std::size_t asked, std::uint64_t handle, std::uint64_t nowMs)
{
    ReadPlan plan;
    ++reads;
    if (!isPlugged || handle != card) {
        plan.error = EIO;
        ++failed;
        return plan;
    }
    if (failReads > 0) {
        --failReads;
        plan.error = EIO;
        ++failed;
        return plan;
    }
    plan.length = asked;
    if (shortRead >= 0) {
        if (std::size_t(shortRead) < asked)
            plan.length = std::size_t(shortRead);
        shortRead = -1;
    }
    plan.status = asked == 4;
    if (plan.status) {
        plan.word = statusWord();
        return plan;
    }
    if (modeBits & 1)
        plan.time = SceneTime{motionAt(nowMs), ++frames};  // live
    else
        plan.time = latched;  // frozen
    return plan;
}

WriteOutcome CardState::write(const char* data, std::size_t length, std::uint64_t handle,
                              std::uint64_t nowMs)
{
    WriteOutcome out;
    ++writes;
    if (!isPlugged || handle != card) {
        out.error = EIO;
        ++failed;
        return out;
    }
    if (failWrites > 0) {
        --failWrites;
        out.error = EIO;
        ++failed;
        return out;
    }
    const NodeCommand c = parseNodeCommand(data, length);
    switch (c.kind) {
    case NodeCommand::Invalid:
        // A real driver swallows what it cannot read; the write still succeeds.
        out.ignored = true;
        out.reason = c.reason;
        ++ignored;
        break;
    case NodeCommand::Mode:
        setMode(c.mode, nowMs);
        break;
    case NodeCommand::SetGeometry:
        geom = c.geometry;
        geometrySent = true;
        break;
    case NodeCommand::ShutterDone:
        shutter = false;
        ++shutterDone;
        break;
    case NodeCommand::Clear:
        ++clears;
        break;
    }
    return out;
}

bool CardState::buzzer(unsigned request, std::uintptr_t argument)
{
    if (request != 0x5680 || argument != 2)
        return false;
    ++buzzes;
    return true;
}

void CardState::apply(const ControlCommand& c, std::uint64_t)
{
    switch (c.kind) {
    case ControlCommand::Shutter:
        shutter = true;
        break;
    case ControlCommand::Orientation:
        orientation = c.value != 0;
        break;
    case ControlCommand::Busy:
        busy = c.value != 0;
        break;
    case ControlCommand::Present:
        present = c.value != 0;
        break;
    case ControlCommand::Unplug:
        if (isPlugged) {
            isPlugged = false;
            ++card;
        }
        break;
    case ControlCommand::Plug:
        isPlugged = true;
        break;
    case ControlCommand::FailReads:
        failReads = (unsigned long)c.value;
        break;
    case ControlCommand::ShortRead:
        shortRead = c.value;
        break;
    case ControlCommand::FailWrites:
        failWrites = (unsigned long)c.value;
        break;
    case ControlCommand::FrameMs:
        frameMs = int(c.value);
        break;
    }
}

void CardState::setSource(bool working, const std::string& reason)
{
    if (!working)
        ++sourceFailures;  // every failed start counts, so retries show
    sourceWorking = working;
    sourceFailure = working ? std::string() : reason;
}

std::string CardState::describe() const
{
    const std::array<char, 4> word = statusWord();
    char text[1024];
    std::snprintf(text, sizeof text,
                  "status %c%c%c%c\n"
                  "mode %d\n"
                  "geometry %c %d %d %d %d%s\n"
                  "shutter %d\norientation %d\nbusy %d\npresent %d\nplugged %d\n"
                  "frame-ms %d\nfail-reads %lu\nshort-read %ld\nfail-writes %lu\n"
                  "opens %lu\nreads %lu\nwrites %lu\nframes %lu\nignored %lu\nfailed %lu\n"
                  "shutter-done %lu\nclears %lu\nbuzzer %lu\n",
                  word[0], word[1], word[2], word[3], modeBits, geom.upright ? 'R' : 'S',
                  geom.width, geom.height, geom.zoom, geom.stride,
                  geometrySent ? "" : " default", int(shutter), int(orientation), int(busy),
                  int(present), int(isPlugged), frameMs, failReads, shortRead, failWrites,
                  opens, reads, writes, (unsigned long)frames, ignored, failed, shutterDone,
                  clears, buzzes);
    std::string all = text;
    all += sourceWorking ? "source ok\n" : "source error " + sourceFailure + "\n";
    all += "source-failures " + std::to_string(sourceFailures) + "\n";
    return all;
}

}  // namespace card
