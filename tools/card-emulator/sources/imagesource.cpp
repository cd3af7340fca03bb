#include "tools/card-emulator/sources/imagesource.h"

#include <QFile>
#include <QImage>
#include <QImageReader>

#include <cstring>

namespace card {

bool ImageSource::start(std::string& error)
{
    // Opened first so that a file the account may not read says so, not "not found".
    QFile input(QString::fromLocal8Bit(file.c_str()));
    if (!input.open(QIODevice::ReadOnly)) {
        error = "cannot read image " + file + ": " + input.errorString().toStdString();
        fail(error);
        return false;
    }
    QImageReader reader(&input);
    reader.setAutoTransform(true);  // a camera's JPEG turned as its EXIF tag says
    QImage image = reader.read();
    if (image.isNull()) {
        error = "cannot read image " + file + ": " + reader.errorString().toStdString();
        fail(error);
        return false;
    }
    image = image.convertToFormat(QImage::Format_RGB16);
    auto frame = std::make_shared<SourceFrame>();
    frame->width = image.width();
    frame->height = image.height();
    frame->pixels.resize(std::size_t(image.width()) * std::size_t(image.height()));
    for (int y = 0; y < image.height(); ++y)
        std::memcpy(frame->pixels.data() + std::size_t(y) * image.width(), image.constScanLine(y),
                    std::size_t(image.width()) * 2);
    clearFailure();
    publish(std::move(frame));
    return true;
}

}  // namespace card
