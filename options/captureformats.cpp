#include "options/captureformats.h"

#include <QtGlobal>
#include <cstring>

#define FORMAT(w, h, mode, win, full, zoom, allowed, normal, fine) \
    { w, h, packFormatAttributes(win, full, zoom, mode, allowed, normal, fine) }

const CaptureFormat captureFormats[captureFormatCount] = {
    FORMAT(480, 640, Portrait, 7, 3, 0, 1, 25, 90),
    FORMAT(480, 480, Square, 6, 4, 0, 1, 21, 74),
    FORMAT(480, 320, Landscape, 5, 5, 0, 0, 15, 52),
    FORMAT(240, 320, Portrait, 7, 3, 1, 1, 10, 33),
    FORMAT(240, 240, Square, 6, 4, 1, 1, 9, 25),
    FORMAT(240, 160, Landscape, 5, 5, 1, 0, 6, 18),
    FORMAT(160, 160, Square, 6, 4, 1, 1, 5, 13),
    FORMAT(120, 160, Portrait, 7, 3, 2, 1, 4, 11),
    FORMAT(120, 80, Landscape, 5, 5, 2, 0, 3, 7),
    FORMAT(80, 80, Square, 6, 4, 2, 1, 2, 5),
    FORMAT(256, 256, Square, 6, 4, 0, 1, 9, 28),
    FORMAT(128, 128, Square, 6, 4, 1, 1, 4, 10),
    FORMAT(64, 64, Square, 6, 4, 2, 1, 2, 4),
};

#undef FORMAT

const char displayModeNames[] = QT_TRANSLATE_NOOP("Camera", "Landscape") "\0"
                                QT_TRANSLATE_NOOP("Camera", "Portrait") "\0"
                                QT_TRANSLATE_NOOP("Camera", "Square");
const char formatNames[] =
    QT_TRANSLATE_NOOP("Camera", "480x640") "\0"
    QT_TRANSLATE_NOOP("Camera", "480x480") "\0"
    QT_TRANSLATE_NOOP("Camera", "480x320") "\0"
    QT_TRANSLATE_NOOP("Camera", "240x320") "\0"
    QT_TRANSLATE_NOOP("Camera", "240x240") "\0"
    QT_TRANSLATE_NOOP("Camera", "240x160") "\0"
    QT_TRANSLATE_NOOP("Camera", "160x160") "\0"
    QT_TRANSLATE_NOOP("Camera", "120x160") "\0"
    QT_TRANSLATE_NOOP("Camera", "120x80") "\0"
    QT_TRANSLATE_NOOP("Camera", "80x80") "\0"
    QT_TRANSLATE_NOOP("Camera", "256x256") "\0"
    QT_TRANSLATE_NOOP("Camera", "128x128") "\0"
    QT_TRANSLATE_NOOP("Camera", "64x64");
const char qualityNames[] = QT_TRANSLATE_NOOP("Camera", "Normal") "\0"
                            QT_TRANSLATE_NOOP("Camera", "Fine");
const char mirrorIconNames[] = "camera/CameraN.png\0camera/CameraR.png";
const char directionIconNames[] = "up\0back";

const int mirrorModeBits[2] = {0, 3};

const char* listEntry(const char* list, int index)
{
    for (; index > 0; --index)
        list += std::strlen(list) + 1;
    return list;
}
