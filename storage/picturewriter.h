#pragma once
// Writing one picture file. Serves Camera::savePicture.
#include "platform/uniquefd.h"

#include <QByteArray>
#include <QImage>
#include <QList>

#include <functional>

class QString;
struct PictureInfo;

// What the file system offers for placing a picture under its name. Tests take away what
// FAT lacks (on old kernels) and act just before each placing.
struct PicturePlacing {
    bool unnamedFiles = true;
    bool renameNoReplace = true;
    std::function<void(const QString& path)> beforePlacing;
};

class PictureWriter {
public:
    enum Result { Failed, Written, NameTaken };

    using Placing = PicturePlacing;

    explicit PictureWriter(Placing placing = Placing());
    ~PictureWriter();
    PictureWriter(const PictureWriter&) = delete;
    PictureWriter& operator=(const PictureWriter&) = delete;

    // Writes the 16-bit `frame` to `path` in `format` ("JPEG"; empty: as the name's suffix
    // says) with `quality`; a JPEG carries the EXIF block of `info`, and the file holds that
    // stream and nothing after it. The file appears under its name only when completely
    // written, and never replaces a file there: NameTaken then, and the picture waits for
    // place() under another name. Written only once the file and its name are on the
    // medium. On failure nothing is left at the name or beside it.
    Result write(const QImage& frame, const QString& path, const char* format, int quality,
                 const PictureInfo& info);
    // Puts the picture that met a taken name at `path` instead, by the same rule.
    Result place(const QString& path);
    // Drops a picture that met a taken name.
    void discard();

    // Where the file system cannot make a file without a name, the picture is written
    // beside its name as ".NAME.camera-part-XXXXXX" until it is complete.
    static bool isTemporaryName(const char* name);

private:
    bool writeTemporary(const QByteArray& folder, const QByteArray& name,
                        const QByteArray* pieces, int count);

    const Placing placing;
    // The picture as the JPEG writer takes it and the encoded bytes, kept between saves so
    // that a picture costs no fresh memory.
    QImage rgb;
    QByteArray encoded;
    // The complete picture not yet under its name: an open unnamed file, or a named
    // temporary file (then `temporaryPath` is set and the descriptor closed).
    UniqueFd unnamedFd;
    QByteArray temporaryPath;
};

// What saves cut short (a killed camera) left in `folder`: files named as the writer's
// temporary files that have not changed for a minute, either way of the clock (a younger one
// may still be written by another camera). Never a folder or a link. Full paths.
QList<QByteArray> staleTemporaries(const char* folder);

// Whether the file at `path` holds a complete JPEG picture: whole, and it decodes.
bool holdsCompletePicture(const QByteArray& path);

// Puts the complete picture left at `temporary` under `path` by the writer's no-replace
// placing, its folder synced after. NameTaken when a file is there; on failure the
// temporary stays.
PictureWriter::Result placeStalePicture(const QByteArray& temporary, const QByteArray& path);
