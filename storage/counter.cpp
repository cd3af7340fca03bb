#include "storage/counter.h"

int64_t remainingValue(int blockSize, int freeBlocks, int estimateKiB, bool freeKiB)
{
    if (freeKiB)
        return int64_t(freeBlocks) * int64_t(blockSize) / 1024;
    if (blockSize == 0)
        return freeBlocks;
    if (estimateKiB == 0)
        return 0;
    const int64_t blocksPerPicture = (int64_t(estimateKiB) * 1024 + blockSize - 1) / blockSize;
    return blocksPerPicture > 0 ? freeBlocks / blocksPerPicture : 0;
}

int displayValue(int64_t value, int digits)
{
    int64_t limit = 1;
    for (int i = 0; i < digits && limit <= INT32_MAX; ++i)
        limit *= 10;
    const int64_t shown = value < limit ? value : limit - 1;
    return int(shown < INT32_MAX ? shown : INT32_MAX);
}
