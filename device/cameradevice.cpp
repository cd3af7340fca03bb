#include "device/cameradevice.h"

#include "platform/devicenodes.h"

#include <QImage>

#include <cstdio>

CameraDevice::CameraDevice()
    : CameraDevice(pdaCameraNode)
{
}

CameraDevice::CameraDevice(const char* path)
{
    NodeSlot node(path);
    start(node);
}

CameraDevice::CameraDevice(CardSlot& slot)
{
    start(slot);
}

void CameraDevice::start(CardSlot& slot)
{
    link = slot.open();
    modeBits = 0;
    setMode(1, -1, -1, -1);
}

CameraDevice::~CameraDevice()
{
    setMode(0, 0, 0, 0);
    close();
}

bool CameraDevice::close()
{
    // reset() forgets the link before closing it: nothing may use it once close() has begun.
    link.reset();
    return true;
}

bool CameraDevice::readBytes(void* buffer, int length)
{
    if (length == 0 || !link)
        return false;
    return link->read(buffer, length) == length;
}

bool CameraDevice::writeBytes(const char* data, int length)
{
    if (length == 0 || !link)
        return false;
    return link->write(data, length) == length;
}

bool CameraDevice::setMode(int capture, int slow, int mirrorA, int mirrorB)
{
    const int wanted[4] = {capture, slow, mirrorA, mirrorB};
    int bits = modeBits;
    for (int i = 0; i < 4; ++i) {
        if (wanted[i] > 0)
            bits |= 1 << i;
        else if (wanted[i] == 0)
            bits &= ~(1 << i);
    }
    if (bits != modeBits) {
        modeBits = bits;
        char command[16];
        const int length = std::snprintf(command, sizeof command, "M=%d", bits);
        writeBytes(command, length);
    }
    return true;
}

bool CameraDevice::sendGeometry(const QImage& image, bool upright, int width, int height,
                                int zoomValue)
{
    // The image's own row length: its bytes divided by its height, 0 for an empty image.
    char command[64];
    const int length = std::snprintf(command, sizeof command, "%c=%d,%d,%d,%d",
                                     upright ? 'R' : 'S', width, height, zoomValue,
                                     int(image.bytesPerLine()));
    return writeBytes(command, length);
}

bool CameraDevice::sendB()
{
    writeBytes("B", 1);
    return true;
}

bool CameraDevice::sendC()
{
    writeBytes("C", 1);
    return true;
}

int CameraDevice::readStatus()
{
    unsigned char word[4] = {0, 0, 0, 0};
    const bool ok = readBytes(word, sizeof word);
    int status = 0;
    for (int i = 0; i < 4; ++i) {
        if (word[i] >= 'A' && word[i] <= 'Z')
            status |= 1 << i;
    }
    if (!ok)
        status |= ReadFailed;
    return status;
}

bool CameraDevice::readFrame(QImage& image)
{
    setMode(0, -1, -1, -1);
    // bits() of a shared image would detach; the caller owns the image, so this is its
    // own buffer the card fills.
    const qsizetype size = image.sizeInBytes();
    const bool ok = size > 0 && size <= 0x7fffffff && readBytes(image.bits(), int(size));
    setMode(1, -1, -1, -1);
    return ok;
}
