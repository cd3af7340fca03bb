// Where each storage lives, whether it is usable, and the remaining-shots counter.
#include "app/camera.h"

#include "options/captureformats.h"
#include "storage/counter.h"

#include <QLCDNumber>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <sys/vfs.h>

const char* Camera::cardFolder = "/mnt/card/";

namespace {
const char* const internalFallback = "/home/";
}

char* Camera::storageBasePath(int index, char* buffer, size_t size) const
{
    const char* base = index == 0 ? std::getenv("HOME") : cardFolder;
    if (!base)
        base = internalFallback;
    const size_t length = std::strlen(base);
    if (length >= size)
        return nullptr; // a cut folder name would name another folder
    std::memcpy(buffer, base, length + 1);
    return buffer;
}

bool Camera::probeStorage(int index, int* blockSize, int* freeBlocks) const
{
    char base[100];
    struct statfs fs;
    struct stat st;
    const bool usable = storageBasePath(index, base, sizeof base)
        && statfs(base, &fs) == 0 && stat(base, &st) == 0
        && int32_t(uint32_t(st.st_dev)) != rootDevice;
    if (blockSize)
        *blockSize = usable ? int(fs.f_bsize) : 0;
    if (freeBlocks) {
        // All free blocks, the superuser's reserve included; a huge disk counts as full
        // range rather than wrapping negative.
        *freeBlocks = usable ? int(fs.f_bfree > uint64_t(INT_MAX) ? INT_MAX : fs.f_bfree) : 0;
    }
    return usable;
}

void Camera::updateRemain(const char* text)
{
    if (text) {
        LCDNumber1->display(QString::fromLatin1(text));
        return;
    }
    int blockSize = 0;
    int freeBlocks = 0;
    if (!probeStorage(saveTo, &blockSize, &freeBlocks)) {
        LCDNumber1->display(QStringLiteral("Error"));
        return;
    }
    const CaptureFormat& format = captureFormats[resolution];
    const int estimate = quality ? format.fineSizeKiB() : format.normalSizeKiB();
    const int64_t value = remainingValue(blockSize, freeBlocks, estimate, remainFlags & 2);
    LCDNumber1->display(displayValue(value, LCDNumber1->digitCount()));
}
