#include "storage/storageprobe.h"

#include <QByteArray>
#include <QFile>
#include <QList>

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
        || statfs(base, &fs) != 0 || stat(base, &st) != 0)
        return space;
    if (int32_t(uint32_t(st.st_dev)) == rootDevice) {
        space.onRootFileSystem = true;
        return space;
    }
    space.usable = true;
    space.blockSize = int(fs.f_bsize);
    // A huge disk counts as full range rather than wrapping negative.
    space.freeBlocks = int(fs.f_bfree > uint64_t(INT_MAX) ? INT_MAX : fs.f_bfree);
    return space;
}

namespace {

// "/home/" and "/home" are one folder.
QByteArray withoutTrailingSlashes(QByteArray path)
{
    while (path.size() > 1 && path.endsWith('/'))
        path.chop(1);
    return path;
}

// A path field of fstab or the mount table, its octal escapes (\040 for a blank) decoded.
QByteArray mountPoint(const QByteArray& field)
{
    QByteArray path;
    for (qsizetype i = 0; i < field.size(); ++i) {
        const char c = field[i];
        if (c == '\\' && i + 3 < field.size()) {
            const QByteArray digits = field.mid(i + 1, 3);
            bool ok = digits.size() == 3;
            for (const char d : digits)
                ok = ok && d >= '0' && d <= '7';
            if (ok) {
                path += char(digits.toInt(nullptr, 8));
                i += 3;
                continue;
            }
        }
        path += c;
    }
    return withoutTrailingSlashes(path);
}

// The second field of every line that has one, comments and blank lines skipped.
QList<QByteArray> mountPoints(const QByteArray& table)
{
    QList<QByteArray> points;
    for (const QByteArray& line : table.split('\n')) {
        const QByteArray trimmed = line.trimmed();
        if (trimmed.isEmpty() || trimmed.startsWith('#'))
            continue;
        const QList<QByteArray> fields = trimmed.simplified().split(' ');
        if (fields.size() >= 2)
            points << mountPoint(fields[1]);
    }
    return points;
}

} // namespace

bool homeFileSystemMissing(const QByteArray& fstab, const QByteArray& mounts,
                           const QByteArray& home)
{
    const QByteArray folder = withoutTrailingSlashes(home);
    const QList<QByteArray> mounted = mountPoints(mounts);
    for (const QByteArray& point : mountPoints(fstab)) {
        // "none", "swap" and the like are no folders.
        if (!point.startsWith('/') || point == "/")
            continue;
        const bool holdsHome = folder == point || folder.startsWith(point + '/');
        if (holdsHome && !mounted.contains(point))
            return true;
    }
    return false;
}

int32_t rootFileSystemDevice()
{
    struct stat st;
    return stat("/", &st) == 0 ? int32_t(uint32_t(st.st_dev)) : -1;
}
