#pragma once
// Writing one picture file. Serves Camera::savePicture.
#include "platform/uniquefd.h"

#include <QByteArray>
#include <QImage>
#include <QList>

#include <functional>

#include <sys/types.h>

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

// The names in the folder open at `folder` that are the writer's temporary files: what saves
// cut short (a killed camera) may have left. Nothing about the files is trusted yet.
QList<QByteArray> staleTemporaries(int folder);

// What a picture file's bytes show, judged on the bytes alone: a JPEG or PNG stream whole
// to its end marker (Complete, `*suffix` then "jpg" or "png"), one that stops inside its
// stream with everything before well formed (CutOff; also no bytes at all), or anything
// else, other formats included (Unknown).
enum class PictureContent { Unknown, CutOff, Complete };
PictureContent judgePictureContent(const QByteArray& bytes, const char** suffix = nullptr);

// One stale temporary, opened in its folder without following a link or blocking and read
// whole from that one descriptor. Cut off only when it is a regular file of this user's with
// one name, unchanged for a minute either way of the clock (a younger one may still be
// written by another camera), whose content is a cut-off picture; Complete by the same
// checks with a whole picture; Leave for anything else, which nobody touches.
class StaleTemporary {
public:
    enum Verdict { Leave, CutOff, Complete };

    StaleTemporary(int folder, const QByteArray& name);
    Verdict verdict() const { return judged; }
    // The suffix of a complete picture's format: "jpg" or "png".
    const char* contentSuffix() const { return suffix; }

    // Removes a cut-off one, while its name still holds the file that was read.
    bool remove();
    // Puts a complete one at `target` in the same folder, never replacing a file there:
    // NameTaken then. Its folder is synced after; on failure the temporary stays.
    PictureWriter::Result place(const QByteArray& target);

private:
    bool stillNamed() const;

    const int folder;
    const QByteArray name;
    UniqueFd file;
    dev_t device = 0;
    ino_t inode = 0;
    Verdict judged = Leave;
    const char* suffix = "";
};
