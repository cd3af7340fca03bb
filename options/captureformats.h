#pragma once
// The capture formats the camera offers and the names shown for the options.
#include <cstdint>

struct CaptureFormat {
    uint16_t width;
    uint16_t height;
    // Packed, from bit 0: windowPreview (5 bits), fullScreenPreview (5), maxZoom (2),
    // displayMode (2), fullScreenAllowed (1), normalSizeKiB (8), fineSizeKiB (8), 0 (1).
    uint32_t attributes;

    constexpr int windowPreview() const { return int(attributes & 0x1f); }
    constexpr int fullScreenPreview() const { return int((attributes >> 5) & 0x1f); }
    constexpr int maxZoom() const { return int((attributes >> 10) & 0x3); }
    constexpr int displayMode() const { return int((attributes >> 12) & 0x3); }
    constexpr bool fullScreenAllowed() const { return (attributes >> 14) & 0x1; }
    constexpr int normalSizeKiB() const { return int((attributes >> 15) & 0xff); }
    constexpr int fineSizeKiB() const { return int((attributes >> 23) & 0xff); }
};

constexpr uint32_t packFormatAttributes(unsigned windowPreview, unsigned fullScreenPreview,
                                        unsigned maxZoom, unsigned displayMode,
                                        unsigned fullScreenAllowed, unsigned normalSizeKiB,
                                        unsigned fineSizeKiB)
{
    return (windowPreview & 0x1f) | (fullScreenPreview & 0x1f) << 5 | (maxZoom & 0x3) << 10
        | (displayMode & 0x3) << 12 | (fullScreenAllowed & 0x1) << 14
        | (normalSizeKiB & 0xff) << 15 | (fineSizeKiB & 0xff) << 23;
}

enum DisplayMode { Landscape = 0, Portrait = 1, Square = 2 };

constexpr int captureFormatCount = 13;
extern const CaptureFormat captureFormats[captureFormatCount];

// Name lists: NUL-terminated strings end to end, entry n found by skipping n strings.
extern const char displayModeNames[];
extern const char formatNames[];
extern const char qualityNames[];
extern const char mirrorIconNames[];
extern const char directionIconNames[];
// Entry `index` of a name list; the caller keeps the index within the list.
const char* listEntry(const char* list, int index);

// Device mode bits of each mirror state: bit 1 gives mode bit 2, bit 0 gives mode bit 3.
extern const int mirrorModeBits[2];
