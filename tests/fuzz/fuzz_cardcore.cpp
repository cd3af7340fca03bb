// Fuzzes the card emulator's core as the file system drives it: node writes (commands),
// control writes, opens, buzzer requests and reads of any length, each frame rendered into a
// heap buffer of exactly the asked size. Checks the status word, the read plans and the log.
//
// Input: a first byte (the frame time in ms), then records [op][dt][...], dt*20 ms passing
// before each: op%6 = 0 node write [n][n bytes], 1 control write [n][n bytes], 2 read [k]
// (k%4: 0 the status word, 1 one frame of the current geometry, 2/3 [4 bytes LE] any length),
// 3 close and reopen, 4 buzzer [4 bytes request][4 bytes argument], 5 one control line
// [n][n bytes].
#include "tools/card-emulator/core/cardcommand.h"
#include "tools/card-emulator/core/cardlog.h"
#include "tools/card-emulator/core/cardstate.h"
#include "tools/card-emulator/core/scene.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

class Reader {
public:
    Reader(const uint8_t* d, size_t n) : data(d), size(n) {}
    bool empty() const { return at >= size; }
    uint8_t byte() { return at < size ? data[at++] : 0; }
    uint32_t word()
    {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i)
            v |= uint32_t(byte()) << (8 * i);
        return v;
    }
    std::string bytes()
    {
        const size_t n = std::min<size_t>(byte(), size - std::min(at, size));
        std::string s(reinterpret_cast<const char*>(data + at), n);
        at += n;
        return s;
    }

private:
    const uint8_t* data;
    size_t size;
    size_t at = 0;
};

[[noreturn]] void fail(const char* what)
{
    std::fprintf(stderr, "fuzz_cardcore: %s\n", what);
    std::abort();
}

void check(bool ok, const char* what)
{
    if (!ok)
        fail(what);
}

void checkLine(void*, const std::string& line)
{
    check(!line.empty(), "empty log line");
    for (char c : line)
        check(c >= 0x20 && c < 0x7f, "log line with a control or non-ASCII byte");
}

void checkWord(const std::array<char, 4>& word)
{
    for (int i = 0; i < 4; ++i) {
        const char upper = card::statusLetters[i];
        check(word[i] == upper || word[i] == char(upper - 'A' + 'a'), "status word letter");
    }
}

void checkGeometry(const card::Geometry& g)
{
    check(g.width > 0 && g.height > 0, "geometry without pixels");
    check(g.zoom >= card::minZoom && g.zoom <= card::maxZoom, "zoom out of range");
    check(g.stride >= 2 * g.width, "stride shorter than a row");
}

const card::TestCardScene scene;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Reader in(data, size);
    card::CardState state(int(in.byte()) - 5);
    card::FrameRenderer renderer(scene);
    card::CardLog log;
    log.setSink(&checkLine, nullptr);
    std::uint64_t now = 1000;
    std::uint64_t handle = 0;
    log.open(state.open(handle));

    for (int step = 0; step < 256 && !in.empty(); ++step) {
        const int op = in.byte() % 6;
        now += 20u * in.byte();
        switch (op) {
        case 0: {  // one write() to the node
            const std::string bytes = in.bytes();
            const card::NodeCommand cmd = card::parseNodeCommand(bytes.data(), bytes.size());
            if (cmd.kind == card::NodeCommand::SetGeometry)
                checkGeometry(cmd.geometry);
            const card::WriteOutcome out = state.write(bytes.data(), bytes.size(), handle, now);
            log.write(bytes.data(), bytes.size(), out);
            break;
        }
        case 1: {  // one write() to the control file
            const std::string text = in.bytes();
            std::vector<card::ControlCommand> cmds;
            const bool ok = card::parseControlText(text.data(), text.size(), cmds);
            check(ok || cmds.empty(), "refused control text still returned commands");
            for (const auto& c : cmds)
                state.apply(c, now);
            log.control(text.data(), text.size(), ok);
            break;
        }
        case 2: {  // one read() of the node
            std::size_t asked;
            switch (in.byte() % 4) {
            case 0: asked = 4; break;
            case 1: asked = std::size_t(state.geometry().stride) * state.geometry().height; break;
            case 2: asked = in.word() % 4096; break;
            default: asked = in.word() % (card::maxFrameBytes + 4096);
            }
            (void)state.frameDelayMs();
            const card::ReadPlan plan = state.read(asked, handle, now);
            log.read(asked, plan.length, plan.error);
            if (plan.error)
                break;
            check(plan.length <= asked, "read returns more than asked");
            check(plan.status == (asked == 4), "status word for a read that is not 4 bytes");
            if (plan.status) {
                checkWord(plan.word);
                break;
            }
            checkGeometry(state.geometry());
            // Exactly the asked size: ASan reports any byte rendered outside it.
            std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[asked ? asked : 1]);
            renderer.render(state.geometry(), state.mode(), plan.time, buffer.get(), asked);
            break;
        }
        case 3:  // close and reopen, on whatever card is plugged now
            log.close();
            log.open(state.open(handle));
            break;
        case 4: {
            const unsigned request = in.word();
            const std::uintptr_t argument = in.word();
            const bool ok = state.buzzer(request, argument);
            log.ioctl("ioctl", request, argument, ok ? 0 : 25);
            break;
        }
        default: {
            const std::string line = in.bytes();
            card::ControlCommand c;
            if (card::parseControlLine(line, c))
                state.apply(c, now);
            const std::string escaped = card::escapeBytes(line.data(), line.size(), 16);
            check(escaped.size() <= 16 * 4 + 3, "escaped token too long");
            if (!escaped.empty())
                checkLine(nullptr, escaped);
            break;
        }
        }
        checkWord(state.statusWord());
    }
    (void)state.describe();
    return 0;
}
