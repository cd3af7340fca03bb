#include "storage/storageprobe.h"

#include <QByteArray>
#include <QFile>

#include <climits>
#include <cstring>
#include <sys/stat.h>
#include <sys/vfs.h>

char* storageBasePath(int index, const char* home, const char* cardFolder, char* buffer,
                      size_t size)
{
    const char* base = index == InternalStorage ? home : cardFolder;
    if (!base)
        base = "/home/";
    const size_t length = std::strlen(base);
    if (length >= size)
        return nullptr;
    std::memcpy(buffer, base, length + 1);
    return buffer;
}

StorageSpace probeStorage(const char* base, int32_t rootDevice)
{
    StorageSpace space;
    struct statfs fs;
    struct stat st;
    // A folder name the toolkit cannot carry unchanged would be saved into a look-alike
    // folder, not the one measured here.
    if (!base || QFile::encodeName(QFile::decodeName(base)) != QByteArray(base)
        || statfs(base, &fs) != 0 || stat(base, &st) != 0
        || int32_t(uint32_t(st.st_dev)) == rootDevice)
        return space;
    space.usable = true;
    space.blockSize = int(fs.f_bsize);
    // A huge disk counts as full range rather than wrapping negative.
    space.freeBlocks = int(fs.f_bfree > uint64_t(INT_MAX) ? INT_MAX : fs.f_bfree);
    return space;
}

int32_t rootFileSystemDevice()
{
    struct stat st;
    return stat("/", &st) == 0 ? int32_t(uint32_t(st.st_dev)) : -1;
}
