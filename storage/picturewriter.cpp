#include "storage/picturewriter.h"

#include "platform/uniquefd.h"

#include "storage/exifblock.h"
#include "storage/rgbexpand.h"

#include <QBuffer>
#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QImageWriter>
#include <QRandomGenerator>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>


namespace {

const char temporaryMark[] = ".camera-part-";
constexpr int randomChars = 6;
constexpr time_t staleAfterSeconds = 60;
// Far above any picture the card delivers; a larger file is not one of ours.
constexpr qint64 maxPictureBytes = 64 << 20;

bool writeAll(int fd, const QByteArray& bytes)
{
    const char* data = bytes.constData();
    size_t left = size_t(bytes.size());
    while (left > 0) {
        const ssize_t n = ::write(fd, data, left);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        left -= size_t(n);
    }
    return true;
}

// On the medium, as QSaveFile makes sure before its rename; a file system that cannot
// sync (EINVAL) has nothing more to do.
bool syncData(int fd)
{
    return ::fdatasync(fd) == 0 || errno == EINVAL;
}

QByteArray folderOf(const QByteArray& path)
{
    const int slash = path.lastIndexOf('/');
    return slash < 0 ? QByteArray(".") : slash == 0 ? QByteArray("/") : path.left(slash);
}

// The name a link or rename gave lives in the folder: only the folder's sync puts it on the
// medium. A file system that cannot sync a folder (EINVAL) has nothing more to do.
bool syncFolderOf(const QByteArray& path)
{
    const UniqueFd folder(::open(folderOf(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder.valid())
        return false;
    return ::fsync(folder.get()) == 0 || errno == EINVAL;
}

// A link never replaces: an existing name fails with EEXIST.
PictureWriter::Result linkUnnamed(int fd, const QByteArray& target)
{
    char self[64];
    std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
    if (::linkat(AT_FDCWD, self, AT_FDCWD, target.constData(), AT_SYMLINK_FOLLOW) == 0)
        return PictureWriter::Written;
    if (errno == EEXIST)
        return PictureWriter::NameTaken;
    // Without /proc; works only with the right to open files by handle.
    if (::linkat(fd, "", AT_FDCWD, target.constData(), AT_EMPTY_PATH) == 0)
        return PictureWriter::Written;
    return errno == EEXIST ? PictureWriter::NameTaken : PictureWriter::Failed;
}

PictureWriter::Result renameNamed(const QByteArray& from, const QByteArray& target,
                                  bool renameNoReplace)
{
    if (renameNoReplace) {
        if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, target.constData(),
                        RENAME_NOREPLACE)
            == 0)
            return PictureWriter::Written;
        if (errno == EEXIST)
            return PictureWriter::NameTaken;
        if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
            return PictureWriter::Failed;
    }
    // Without a rename that refuses to replace, the name is claimed first by creating it
    // exclusively; the rename then replaces only the camera's own empty claim.
    const UniqueFd claim(::open(target.constData(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0666));
    if (!claim.valid())
        return errno == EEXIST ? PictureWriter::NameTaken : PictureWriter::Failed;
    if (::rename(from.constData(), target.constData()) == 0)
        return PictureWriter::Written;
    ::unlink(target.constData());
    return PictureWriter::Failed;
}

// A picture only counts as written once its name is on the medium too; one whose name
// cannot be made durable is taken back, so that a failed save leaves nothing behind.
PictureWriter::Result madeDurable(PictureWriter::Result result, const QByteArray& target)
{
    if (result != PictureWriter::Written || syncFolderOf(target))
        return result;
    ::unlink(target.constData());
    return PictureWriter::Failed;
}

QByteArray randomText()
{
    static const char chars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    QByteArray text(randomChars, '\0');
    for (char& c : text)
        c = chars[QRandomGenerator::global()->bounded(int(sizeof chars - 1))];
    return text;
}

} // namespace

PictureWriter::PictureWriter(Placing placing)
    : placing(std::move(placing))
{
}

PictureWriter::~PictureWriter()
{
    discard();
}

PictureWriter::Result PictureWriter::write(const QImage& frame, const QString& path,
                                           const char* format, int quality,
                                           const PictureInfo& info)
{
    discard();
    // 24-bit RGB holds the same colours as 32-bit RGB and is the layout the JPEG writer
    // takes without converting each pixel again; the file's bytes are the same.
    expandRgb565(frame, rgb);

    // An empty format would leave the writer guessing from a buffer's contents; the
    // name's suffix is what the user asked for.
    QByteArray kind(format ? format : "");
    if (kind.isEmpty())
        kind = QFileInfo(path).suffix().toLatin1();
    // Emptied, not shrunk: the kept capacity serves the next picture, the bytes of the last
    // one must not trail this one.
    QBuffer buffer(&encoded);
    if (!buffer.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return Failed;
    QImageWriter writer(&buffer, kind);
    writer.setQuality(quality);
    if (!writer.write(rgb))
        return Failed;
    buffer.close();

    // The EXIF segment goes in as the encoder left the stream: pixels and tables are the
    // same bytes as without it. A picture whose block cannot be made is still saved.
    QByteArray pieces[3];
    const int at = exifInsertionPoint(encoded);
    const QByteArray segment = at > 0
        ? exifSegment(exifPayload(info, rgb.size(), int(std::lround(rgb.dotsPerMeterX() * 0.0254))))
        : QByteArray();
    if (segment.isEmpty()) {
        pieces[0] = encoded;
    } else {
        pieces[0] = QByteArray::fromRawData(encoded.constData(), at);
        pieces[1] = segment;
        pieces[2] = QByteArray::fromRawData(encoded.constData() + at, encoded.size() - at);
    }

    const QByteArray target = QFile::encodeName(path);
    const QByteArray name = target.mid(target.lastIndexOf('/') + 1);
    if (!writeTemporary(folderOf(target), name, pieces, 3))
        return Failed;
    return place(path);
}

bool PictureWriter::writeTemporary(const QByteArray& folder, const QByteArray& name,
                                   const QByteArray* pieces, int count)
{
    // An unnamed file needs no cleaning up whenever the camera stops.
    UniqueFd file(!placing.unnamedFiles
                      ? -1
                      : ::open(folder.constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666));
    QByteArray named;
    if (!file.valid()) {
        const QByteArray stem = folder + "/." + name + temporaryMark;
        for (int attempt = 0; attempt < 100 && !file.valid(); ++attempt) {
            named = stem + randomText();
            file.reset(::open(named.constData(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0666));
            if (!file.valid() && errno != EEXIST)
                return false;
        }
        if (!file.valid())
            return false;
    }
    bool ok = true;
    for (int i = 0; i < count && ok; ++i)
        ok = writeAll(file.get(), pieces[i]);
    ok = ok && syncData(file.get());
    if (named.isEmpty()) {
        if (ok)
            unnamedFd = std::move(file);
        return ok;
    }
    // Some file systems report a failed write-back only when the file is closed.
    ok = file.close() == 0 && ok;
    if (!ok) {
        ::unlink(named.constData());
        return false;
    }
    temporaryPath = named;
    return true;
}

PictureWriter::Result PictureWriter::place(const QString& path)
{
    if (!unnamedFd.valid() && temporaryPath.isEmpty())
        return Failed;
    if (placing.beforePlacing)
        placing.beforePlacing(path);
    const QByteArray target = QFile::encodeName(path);
    const Result placed
        = unnamedFd.valid() ? linkUnnamed(unnamedFd.get(), target)
                            : renameNamed(temporaryPath, target, placing.renameNoReplace);
    if (placed == Written) {
        unnamedFd.reset();
        temporaryPath.clear();
    }
    const Result result = madeDurable(placed, target);
    if (result == Failed)
        discard();
    return result;
}

void PictureWriter::discard()
{
    unnamedFd.reset();
    if (!temporaryPath.isEmpty())
        ::unlink(temporaryPath.constData());
    temporaryPath.clear();
}

bool PictureWriter::isTemporaryName(const char* name)
{
    const size_t length = std::strlen(name);
    const size_t mark = sizeof temporaryMark - 1;
    if (name[0] != '.' || length < 2 + mark + randomChars)
        return false;
    const char* tail = name + length - randomChars;
    if (std::memcmp(tail - mark, temporaryMark, mark) != 0)
        return false;
    for (int i = 0; i < randomChars; ++i) {
        const char c = tail[i];
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')))
            return false;
    }
    return true;
}

QList<QByteArray> staleTemporaries(int folder)
{
    QList<QByteArray> found;
    // A directory stream of its own: the caller's descriptor stays where it is.
    const int own = folder < 0 ? -1 : ::fcntl(folder, F_DUPFD_CLOEXEC, 0);
    DIR* dir = own < 0 ? nullptr : ::fdopendir(own);
    if (!dir) {
        if (own >= 0)
            ::close(own);
        return found;
    }
    ::rewinddir(dir);
    while (const dirent* entry = ::readdir(dir)) {
        if (PictureWriter::isTemporaryName(entry->d_name))
            found.append(QByteArray(entry->d_name));
    }
    ::closedir(dir);
    return found;
}

namespace {

// A JPEG stream from its start of image through its segments and scans: Complete when an
// end-of-image marker after a scan is its last byte pair, CutOff when the bytes end inside
// the stream, Unknown when anything in it is not as a JPEG writer makes it.
PictureContent judgeJpeg(const unsigned char* b, qsizetype n)
{
    qsizetype at = 2;
    bool scanned = false;
    while (at < n) {
        if (b[at] != 0xFF)
            return PictureContent::Unknown;
        if (at + 1 == n)
            return PictureContent::CutOff;
        const unsigned char marker = b[at + 1];
        if (marker == 0xFF) { // fill byte before a marker
            ++at;
            continue;
        }
        if (marker == 0xD9) {
            if (!scanned || at + 2 != n)
                return PictureContent::Unknown; // bytes after the end: not the writer's
            return PictureContent::Complete;
        }
        if (marker == 0xD8 || marker == 0x00)
            return PictureContent::Unknown;
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) { // no length
            at += 2;
            continue;
        }
        if (at + 4 > n)
            return PictureContent::CutOff;
        const int length = (b[at + 2] << 8) | b[at + 3];
        if (length < 2)
            return PictureContent::Unknown;
        at += 2 + length;
        if (at > n)
            return PictureContent::CutOff;
        if (marker == 0xDA) {
            scanned = true;
            // Entropy-coded data runs to the first marker that is neither a stuffed zero
            // nor a restart.
            while (at + 1 < n
                   && !(b[at] == 0xFF && b[at + 1] != 0x00 && (b[at + 1] < 0xD0 || b[at + 1] > 0xD7)))
                ++at;
            if (at + 1 >= n)
                return PictureContent::CutOff;
        }
    }
    return PictureContent::CutOff;
}

const unsigned char pngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

// A PNG stream of chunks from its header: Complete when its IEND chunk ends the bytes,
// CutOff when they end inside a chunk or before IEND, Unknown when a chunk is malformed.
PictureContent judgePng(const unsigned char* b, qsizetype n)
{
    qsizetype at = 8;
    for (bool first = true;; first = false) {
        if (at + 8 > n)
            return PictureContent::CutOff;
        const quint32 length = (quint32(b[at]) << 24) | (quint32(b[at + 1]) << 16)
            | (quint32(b[at + 2]) << 8) | quint32(b[at + 3]);
        if (length > 0x7FFFFFFFu)
            return PictureContent::Unknown;
        for (int i = 4; i < 8; ++i) {
            const unsigned char c = b[at + i];
            if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')))
                return PictureContent::Unknown;
        }
        const bool header = std::memcmp(b + at + 4, "IHDR", 4) == 0;
        if (first != header)
            return PictureContent::Unknown;
        const qsizetype end = at + 12 + qsizetype(length);
        if (end > n)
            return PictureContent::CutOff;
        if (std::memcmp(b + at + 4, "IEND", 4) == 0)
            return end == n ? PictureContent::Complete : PictureContent::Unknown;
        at = end;
    }
}

// The whole file from its descriptor; false on a read error and for a file larger than any
// picture of ours.
bool readWhole(int fd, QByteArray& bytes)
{
    char chunk[65536];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0)
            return true;
        if (bytes.size() + n > maxPictureBytes)
            return false;
        bytes.append(chunk, n);
    }
}

} // namespace

PictureContent judgePictureContent(const QByteArray& bytes, const char** suffix)
{
    const auto* b = reinterpret_cast<const unsigned char*>(bytes.constData());
    const qsizetype n = bytes.size();
    static const unsigned char jpegStart[3] = {0xFF, 0xD8, 0xFF};
    const auto startsAs = [&](const unsigned char* start, qsizetype size) {
        return std::memcmp(b, start, size_t(qMin(n, size))) == 0;
    };
    // Bytes that stop before a format shows itself are still the start of a picture; the
    // writer's temporaries hold nothing else.
    if ((n < 3 && startsAs(jpegStart, 3)) || (n < 8 && startsAs(pngSignature, 8)))
        return PictureContent::CutOff;
    const char* kind = nullptr;
    PictureContent content = PictureContent::Unknown;
    if (n >= 3 && std::memcmp(b, jpegStart, 3) == 0) {
        kind = "jpg";
        content = judgeJpeg(b, n);
    } else if (n >= 8 && std::memcmp(b, pngSignature, sizeof pngSignature) == 0) {
        kind = "png";
        content = judgePng(b, n);
    }
    if (suffix && content == PictureContent::Complete)
        *suffix = kind;
    return content;
}

StaleTemporary::StaleTemporary(int folder, const QByteArray& name)
    : folder(folder)
    , name(name)
    , file(::openat(folder, name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC))
{
    struct stat st;
    if (!file.valid() || ::fstat(file.get(), &st) != 0)
        return;
    device = st.st_dev;
    inode = st.st_ino;
    if (!S_ISREG(st.st_mode) || st.st_uid != ::geteuid() || st.st_nlink != 1)
        return;
    // Younger than a minute either way: a clock set back dates a file in the future.
    const time_t now = std::time(nullptr);
    if (now - st.st_mtime < staleAfterSeconds && st.st_mtime - now < staleAfterSeconds)
        return;
    QByteArray bytes;
    if (!readWhole(file.get(), bytes))
        return;
    switch (judgePictureContent(bytes, &suffix)) {
    case PictureContent::CutOff:
        judged = CutOff;
        break;
    case PictureContent::Complete:
        judged = Complete;
        break;
    case PictureContent::Unknown:
        break;
    }
}

bool StaleTemporary::stillNamed() const
{
    struct stat st;
    return ::fstatat(folder, name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0
        && st.st_dev == device && st.st_ino == inode;
}

bool StaleTemporary::remove()
{
    return judged == CutOff && stillNamed() && ::unlinkat(folder, name.constData(), 0) == 0;
}

PictureWriter::Result StaleTemporary::place(const QByteArray& target)
{
    if (judged != Complete || !stillNamed())
        return PictureWriter::Failed;
    PictureWriter::Result result = PictureWriter::Failed;
    if (::renameat2(folder, name.constData(), folder, target.constData(), RENAME_NOREPLACE) == 0) {
        result = PictureWriter::Written;
    } else if (errno == EEXIST) {
        return PictureWriter::NameTaken;
    } else if (errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP) {
        // As the writer does without a rename that refuses to replace: the name is claimed
        // first, so that the rename replaces only the camera's own empty claim.
        const UniqueFd claim(::openat(folder, target.constData(),
                                      O_CREAT | O_EXCL | O_WRONLY | O_NOFOLLOW | O_CLOEXEC, 0666));
        if (!claim.valid())
            return errno == EEXIST ? PictureWriter::NameTaken : PictureWriter::Failed;
        if (::renameat(folder, name.constData(), folder, target.constData()) != 0) {
            ::unlinkat(folder, target.constData(), 0);
            return PictureWriter::Failed;
        }
        result = PictureWriter::Written;
    }
    // The picture is under its name either way: a folder that cannot be synced now leaves
    // it there rather than lose it.
    if (result == PictureWriter::Written)
        ::fsync(folder);
    return result;
}
