#include "storage/naming.h"

#include "storage/picturewriter.h"
#include "storage/storageprobe.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdio>
#include <cstring>

namespace {

const char pictureFolder[] = "/Documents/Image_Files/";

// Appends `text` when it fits, including its NUL.
bool append(char* buffer, size_t size, const char* text)
{
    const size_t used = std::strlen(buffer);
    const size_t length = std::strlen(text);
    if (used + length >= size)
        return false;
    std::memcpy(buffer + used, text, length + 1);
    return true;
}

QString pathOf(const char* buffer)
{
    return QFile::decodeName(QByteArray(buffer));
}

} // namespace

char* makePictureName(const char* base, bool memoryCard, const char* prefix,
                      const char* suffix, char* buffer, size_t size, int* number)
{
    if (!base || size == 0)
        return nullptr;
    const size_t baseLength = std::strlen(base);
    if (baseLength >= size)
        return nullptr;
    std::memmove(buffer, base, baseLength + 1); // `base` may already be in `buffer`
    if (!append(buffer, size, pictureFolder))
        return nullptr;

    const QFileInfo folder(pathOf(buffer));
    if (!folder.isDir()) {
        // Without its trailing slash, so that a file at that path is seen as such.
        const QFileInfo taken(pathOf(buffer).chopped(1));
        if (memoryCard) {
            buffer[baseLength] = '\0';
        } else if (taken.exists() || taken.isSymLink()) {
            return nullptr;
        } else {
            // Created directly, not through a shell: no character of HOME can run anything.
            // A failure shows later as a failed write.
            QDir().mkpath(pathOf(buffer));
        }
    }
    // Prefix and suffix hold Latin-1 characters; the name on disk is in the file
    // system's encoding.
    const QByteArray prefixName = QFile::encodeName(QString::fromLatin1(prefix));
    const QByteArray suffixName = QFile::encodeName(QString::fromLatin1(suffix));
    if (!append(buffer, size, prefixName.constData()))
        return nullptr;

    const size_t stem = std::strlen(buffer);
    unsigned value = number ? unsigned(*number) : 0;
    if (value > 9998)
        value = 0; // 9999 and every negative serial start again at 1
    for (;;) {
        ++value;
        const int written = std::snprintf(buffer + stem, size - stem, "%04u.%s", value,
                                          suffixName.constData());
        if (written < 0 || size_t(written) >= size - stem)
            return nullptr;
        if (!QFile::exists(pathOf(buffer)))
            break;
    }
    if (number)
        *number = int(value);
    return buffer;
}

void removeStalePictureTemporaries(const char* home, const char* cardFolder)
{
    for (const int index : {InternalStorage, MemoryCard}) {
        char buffer[300];
        if (!storageBasePath(index, home, cardFolder, buffer, sizeof buffer))
            continue;
        if (index == MemoryCard)
            removeStaleTemporaries(buffer);
        if (append(buffer, sizeof buffer, pictureFolder))
            removeStaleTemporaries(buffer);
    }
}
