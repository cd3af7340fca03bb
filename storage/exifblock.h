#pragma once
// The EXIF block of a picture: when it was taken, by what, and its size. Serves the
// picture writer.
#include <QByteArray>
#include <QDateTime>
#include <QSize>

// What a picture carries besides its pixels. The caller takes the moment of the capture,
// so that writing stays a function of its inputs.
struct PictureInfo {
    QDateTime taken;     // local time; an invalid one leaves the dates out
    QByteArray make;     // the camera card's maker
    QByteArray model;    // the camera card
    QByteArray software; // this application and its version
};

// The payload of a JPEG APP1 segment ("Exif\0\0" and the TIFF structure) for a picture of
// `size` pixels at `dotsPerInch`, upright: dates and their UTC offset, make, model,
// software, orientation 1, the pixel dimensions. Empty when it cannot be made or would not
// fit one segment.
QByteArray exifPayload(const PictureInfo& info, QSize size, int dotsPerInch);

// The APP1 segment (marker, length, payload) holding `payload`; empty when it does not fit.
QByteArray exifSegment(const QByteArray& payload);

// Where the APP1 segment goes in the encoded `jpeg`: after its SOI and, when there is one,
// its JFIF APP0 segment, which JFIF readers need first. 0 when `jpeg` does not begin like a
// JPEG stream.
int exifInsertionPoint(const QByteArray& jpeg);
