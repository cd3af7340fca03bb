#pragma once
// Parsing of what reaches the emulated card: the driver node's ASCII commands and the
// control file's lines. Pure functions, no I/O.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace card {

// The largest frame the card delivers: 640x480 pixels of 2 bytes.
constexpr long maxFrameBytes = 640L * 480 * 2;
constexpr int minZoom = 256;
constexpr int maxZoom = 4096;

struct Geometry {
    bool upright = true;  // 'R'; false for 'S' (scene turned a quarter turn counter-clockwise)
    int width = 240;
    int height = 320;
    int zoom = 256;
    int stride = 480;  // bytes from one row's start to the next

    bool operator==(const Geometry& o) const
    {
        return upright == o.upright && width == o.width && height == o.height
               && zoom == o.zoom && stride == o.stride;
    }
    bool operator!=(const Geometry& o) const { return !(*this == o); }
};

struct NodeCommand {
    enum Kind { Invalid, Mode, SetGeometry, ShutterDone, Clear };
    Kind kind = Invalid;
    int mode = 0;
    Geometry geometry;
    const char* reason = "";  // why an Invalid command was refused
};

// One write() to the node is one command: exactly its bytes, no terminator.
NodeCommand parseNodeCommand(const char* data, std::size_t length);

struct ControlCommand {
    enum Kind {
        Shutter,
        Orientation,
        Busy,
        Present,
        Unplug,
        Plug,
        FailReads,
        ShortRead,
        FailWrites,
        FrameMs,
    };
    Kind kind = Shutter;
    long value = 0;
};

// One control line ("busy 1"); surrounding blanks and a trailing '\r' are allowed.
bool parseControlLine(std::string_view line, ControlCommand& out);
// A whole control write: every non-empty line must parse, or nothing is returned (false).
bool parseControlText(const char* data, std::size_t length, std::vector<ControlCommand>& out);

// The bytes as one log token: printable ASCII as is, anything else and '\\' as \xNN,
// cut after maxBytes with "...".
std::string escapeBytes(const char* data, std::size_t length, std::size_t maxBytes = 96);

}  // namespace card
