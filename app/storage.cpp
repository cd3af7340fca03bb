// Storage: where pictures go, whether a storage is usable, the counter, and taking one
// picture.
#include "app/camera.h"

#include "device/cameradevice.h"
#include "options/captureformats.h"
#include "storage/counter.h"
#include "storage/exifblock.h"
#include "storage/naming.h"
#include "storage/picturewriter.h"
#include "storage/storageprobe.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QLCDNumber>

char* Camera::storageBasePath(int index, char* buffer, size_t size) const
{
    return ::storageBasePath(index, paths.home, paths.cardFolder, buffer, size);
}

namespace {

QByteArray readTable(const char* path)
{
    QFile file(QFile::decodeName(path));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

bool Camera::probeStorage(int index, int* blockSize, int* freeBlocks) const
{
    char base[100];
    const char* folder = storageBasePath(index, base, sizeof base);
    StorageSpace space = ::probeStorage(folder, rootDevice);
    // On the root file system a card's mount folder holds no card, but HOME is refused
    // only where it waits for a home partition that is not mounted.
    if (space.onRootFileSystem && index == InternalStorage) {
        const QByteArray home = QFile::encodeName(
            QFileInfo(QFile::decodeName(QByteArray(folder))).canonicalFilePath());
        if (!homeFileSystemMissing(readTable(paths.fileSystemTable),
                                   readTable(paths.mountTable), home))
            space = ::probeStorage(folder, -1);
    }
    if (blockSize)
        *blockSize = space.blockSize;
    if (freeBlocks)
        *freeBlocks = space.freeBlocks;
    return space.usable;
}

void Camera::updateRemain(const char* text)
{
    if (text) {
        LCDNumber1->display(QString::fromLatin1(text));
        return;
    }
    int blockSize = 0;
    int freeBlocks = 0;
    if (!probeStorage(values.saveTo, &blockSize, &freeBlocks)) {
        LCDNumber1->display(QStringLiteral("Error"));
        return;
    }
    const CaptureFormat& format = captureFormats[values.resolution];
    const int estimate = values.quality ? format.fineSizeKiB() : format.normalSizeKiB();
    const int64_t value
        = remainingValue(blockSize, freeBlocks, estimate, values.remainFlags & RemainFreeKiB);
    LCDNumber1->display(displayValue(value, LCDNumber1->digitCount()));
}

char* Camera::makePictureName(int index, char* buffer, size_t size, int* number)
{
    const char* base = storageBasePath(index, buffer, size);
    return ::makePictureName(base, index == MemoryCard, values.namePrefix, values.nameSuffix,
                             buffer, size, number);
}

void Camera::recoverStalePictures()
{
    ::recoverStalePictures(paths.home, paths.cardFolder, values.namePrefix,
                           values.nameSuffix, &values.serial);
}

bool Camera::savePicture(QString& path)
{
    cardDevice->sendGeometry(*captureImage, values.saveDirection <= 0, captureImage->width(),
                             captureImage->height(), CameraDevice::zoomValue(option.zoom));
    const bool captured = cardDevice->readFrame(*captureImage);
    state.geometryKey = -1;
    // A frame that did not arrive whole is no picture: the image holds an older one.
    if (!captured)
        return false;

    int freeBlocks = 0;
    if (!probeStorage(values.saveTo, nullptr, &freeBlocks) || freeBlocks == 0)
        return false;

    char buffer[300] = {};
    int number = values.serial;
    const char* name = makePictureName(values.saveTo, buffer, sizeof buffer, &number);
    if (values.remainFlags & RemainShowsSerial)
        LCDNumber1->display(number);
    if (!name)
        return false;
    path = QFile::decodeName(QByteArray(buffer));

    const int q = values.quality ? values.qualityFine : values.qualityNormal;
    const PictureInfo info{QDateTime::currentDateTime(), "Orvane", "VDC camera card",
                           "Orvane Camera " CAMERA_VERSION};
    PictureWriter::Result result = pictureWriter->write(*captureImage, path, values.saveFormat, q, info);
    // A file that appeared at the name meanwhile is kept: the picture takes the next number.
    for (int attempt = 0; result == PictureWriter::NameTaken && attempt < 100; ++attempt) {
        if (!makePictureName(values.saveTo, buffer, sizeof buffer, &number))
            break;
        if (values.remainFlags & RemainShowsSerial)
            LCDNumber1->display(number);
        path = QFile::decodeName(QByteArray(buffer));
        result = pictureWriter->place(path);
    }
    pictureWriter->discard();
    if (result != PictureWriter::Written)
        return false;
    values.serial = number;
    return true;
}
