#include "storage/naming.h"

#include "platform/uniquefd.h"
#include "storage/picturewriter.h"
#include "storage/storageprobe.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

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

// Writes, behind the first `stem` bytes of `buffer`, the first number after `*number` whose
// name with `suffix` is free: at least four digits, from 1 again after 9999 and for a
// negative number, on past 9999 when every number is taken. False when it does not fit.
bool nextFreeName(char* buffer, size_t size, size_t stem, const char* suffix, int* number)
{
    unsigned value = number ? unsigned(*number) : 0;
    if (value > 9998)
        value = 0; // 9999 and every negative serial start again at 1
    for (;;) {
        ++value;
        const int written
            = std::snprintf(buffer + stem, size - stem, "%04u.%s", value, suffix);
        if (written < 0 || size_t(written) >= size - stem)
            return false;
        if (!QFile::exists(pathOf(buffer)))
            break;
    }
    if (number)
        *number = int(value);
    return true;
}

// The suffix the setting asks for when it names the picture's format, else the format's own:
// a recovered PNG is not named as a JPEG after the settings changed.
const char* suffixFor(const char* setting, const char* content)
{
    const QByteArray wanted = QByteArray(setting).toLower();
    const bool same = std::strcmp(content, "jpg") == 0
        ? wanted == "jpg" || wanted == "jpeg" || wanted == "jpe" || wanted == "jfif"
        : wanted == content;
    return same ? setting : content;
}

// A complete picture becomes the next free picture in its folder, a cut-off one is removed,
// anything else stays as it is. A picture that cannot be placed now stays for the next start.
void recoverStalePicture(int folderFd, const QByteArray& name, const char* folder,
                         const char* prefix, const char* suffix, int* number)
{
    StaleTemporary temporary(folderFd, name);
    if (temporary.verdict() == StaleTemporary::CutOff) {
        temporary.remove();
        return;
    }
    if (temporary.verdict() != StaleTemporary::Complete)
        return;
    const char* placedSuffix = suffixFor(suffix, temporary.contentSuffix());
    char buffer[300];
    if (std::snprintf(buffer, sizeof buffer, "%s", folder) >= int(sizeof buffer)
        || (!QByteArray(buffer).endsWith('/') && !append(buffer, sizeof buffer, "/")))
        return;
    const size_t folderLength = std::strlen(buffer);
    if (!append(buffer, sizeof buffer, prefix))
        return;
    const size_t stem = std::strlen(buffer);
    int candidate = *number;
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (!nextFreeName(buffer, sizeof buffer, stem, placedSuffix, &candidate))
            return;
        const PictureWriter::Result result
            = temporary.place(QByteArray(buffer + folderLength));
        if (result == PictureWriter::Written)
            *number = candidate;
        if (result != PictureWriter::NameTaken)
            return;
    }
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
    if (!append(buffer, size, prefix))
        return nullptr;
    if (!nextFreeName(buffer, size, std::strlen(buffer), suffix, number))
        return nullptr;
    return buffer;
}

void recoverStalePictures(const char* home, const char* cardFolder, const char* prefix,
                          const char* suffix, int* number)
{
    for (const int index : {InternalStorage, MemoryCard}) {
        char folder[300];
        if (!storageBasePath(index, home, cardFolder, folder, sizeof folder))
            continue;
        const size_t baseLength = std::strlen(folder);
        for (const bool top : {true, false}) {
            if (top && index != MemoryCard)
                continue;
            folder[baseLength] = '\0';
            if (!top && !append(folder, sizeof folder, pictureFolder))
                continue;
            const UniqueFd folderFd(::open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
            if (!folderFd.valid())
                continue;
            for (const QByteArray& name : staleTemporaries(folderFd.get()))
                recoverStalePicture(folderFd.get(), name, folder, prefix, suffix, number);
        }
    }
}
