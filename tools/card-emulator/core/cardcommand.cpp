#include "tools/card-emulator/core/cardcommand.h"

#include <cstdio>

namespace card {

namespace {

// A signed decimal as "%d" prints it; refuses empty digits and values past the int range.
bool parseInt(std::string_view& text, long& value)
{
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && text[i] == '-') {
        negative = true;
        ++i;
    }
    const std::size_t firstDigit = i;
    // 64 bits whatever long is: ten times a value below the limit must not overflow
    // before the check.
    long long v = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
        v = v * 10 + (text[i] - '0');
        if (v > 2147483647LL)
            return false;
        ++i;
    }
    if (i == firstDigit)
        return false;
    value = long(negative ? -v : v);
    text.remove_prefix(i);
    return true;
}

bool expect(std::string_view& text, char c)
{
    if (text.empty() || text.front() != c)
        return false;
    text.remove_prefix(1);
    return true;
}

NodeCommand invalid(const char* reason)
{
    NodeCommand c;
    c.reason = reason;
    return c;
}

NodeCommand parseGeometry(std::string_view text, bool upright)
{
    long v[4] = {0, 0, 0, 0};
    if (!expect(text, '='))
        return invalid("syntax");
    for (int i = 0; i < 4; ++i) {
        if (i > 0 && !expect(text, ','))
            return invalid("syntax");
        if (!parseInt(text, v[i]))
            return invalid("syntax");
    }
    if (!text.empty())
        return invalid("trailing");
    const long width = v[0], height = v[1], zoom = v[2], stride = v[3];
    if (width < 1 || height < 1)
        return invalid("size");
    if (zoom < minZoom || zoom > maxZoom)
        return invalid("zoom");
    if (stride < 2 * width)
        return invalid("stride");
    // In 64 bits: the product of two in-range ints does not fit 32.
    const long long end = (long long)(height - 1) * stride + 2LL * width;
    if (end > maxFrameBytes)
        return invalid("too-large");
    NodeCommand c;
    c.kind = NodeCommand::SetGeometry;
    c.geometry = Geometry{upright, int(width), int(height), int(zoom), int(stride)};
    return c;
}

}  // namespace

NodeCommand parseNodeCommand(const char* data, std::size_t length)
{
    std::string_view text(data, length);
    if (text.empty())
        return invalid("empty");
    const char letter = text.front();
    text.remove_prefix(1);
    switch (letter) {
    case 'M': {
        long mode = 0;
        if (!expect(text, '=') || !parseInt(text, mode))
            return invalid("syntax");
        if (!text.empty())
            return invalid("trailing");
        if (mode < 0 || mode > 15)
            return invalid("mode");
        NodeCommand c;
        c.kind = NodeCommand::Mode;
        c.mode = int(mode);
        return c;
    }
    case 'R':
    case 'S':
        return parseGeometry(text, letter == 'R');
    case 'B':
    case 'C': {
        if (!text.empty())
            return invalid("trailing");
        NodeCommand c;
        c.kind = letter == 'B' ? NodeCommand::ShutterDone : NodeCommand::Clear;
        return c;
    }
    default:
        return invalid("unknown");
    }
}

namespace {

std::string_view trim(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

struct ControlWord {
    const char* name;
    ControlCommand::Kind kind;
    long maxValue;  // -1: takes no argument
};

constexpr ControlWord controlWords[] = {
    {"shutter", ControlCommand::Shutter, -1},
    {"orientation", ControlCommand::Orientation, 1},
    {"busy", ControlCommand::Busy, 1},
    {"present", ControlCommand::Present, 1},
    {"unplug", ControlCommand::Unplug, -1},
    {"plug", ControlCommand::Plug, -1},
    {"fail-reads", ControlCommand::FailReads, 1000000},
    {"short-read", ControlCommand::ShortRead, maxFrameBytes},
    {"fail-writes", ControlCommand::FailWrites, 1000000},
    {"frame-ms", ControlCommand::FrameMs, 10000},
};

}  // namespace

bool parseControlLine(std::string_view line, ControlCommand& out)
{
    line = trim(line);
    const std::size_t blank = line.find_first_of(" \t");
    const std::string_view word = line.substr(0, blank);
    std::string_view rest = blank == std::string_view::npos ? std::string_view()
                                                            : trim(line.substr(blank));
    for (const ControlWord& w : controlWords) {
        if (word != w.name)
            continue;
        ControlCommand c;
        c.kind = w.kind;
        if (w.maxValue < 0) {
            if (!rest.empty())
                return false;
        } else {
            // A leading '-' would parse; refuse it here, counts are never negative.
            if (rest.empty() || rest.front() == '-' || !parseInt(rest, c.value) || !rest.empty()
                || c.value > w.maxValue)
                return false;
        }
        out = c;
        return true;
    }
    return false;
}

bool parseControlText(const char* data, std::size_t length, std::vector<ControlCommand>& out)
{
    std::vector<ControlCommand> commands;
    std::string_view text(data, length);
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (trim(line).empty())
            continue;
        ControlCommand c;
        if (!parseControlLine(line, c))
            return false;
        commands.push_back(c);
    }
    out.swap(commands);
    return true;
}

std::string escapeBytes(const char* data, std::size_t length, std::size_t maxBytes)
{
    std::string s;
    const std::size_t shown = length < maxBytes ? length : maxBytes;
    s.reserve(shown + 8);
    for (std::size_t i = 0; i < shown; ++i) {
        const unsigned char c = static_cast<unsigned char>(data[i]);
        if (c > 0x20 && c < 0x7f && c != '\\') {
            s += char(c);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            s += hex;
        }
    }
    if (shown < length)
        s += "...";
    return s;
}

}  // namespace card
