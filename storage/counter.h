#pragma once
// Arithmetic of the remaining-shots counter.
#include <cstdint>

// Bits of the "Remain" setting.
enum RemainBit : int {
    RemainShowsSerial = 1,  // the counter shows the number of the picture just saved
    RemainFreeKiB = 2,      // free KiB instead of pictures
    RemainNoLinkNotice = 4, // no document-list notice per save attempt
};

// Pictures of `estimateKiB` that fit into `freeBlocks` blocks of `blockSize` bytes, or
// with `freeKiB` the free space in units of 1024 bytes. Never negative.
int64_t remainingValue(int blockSize, int freeBlocks, int estimateKiB, bool freeKiB);

// What a display of `digits` digits shows for `value`: the value, or 10^digits - 1.
int displayValue(int64_t value, int digits);
