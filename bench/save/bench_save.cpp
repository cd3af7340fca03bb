// Time to save one 480x640 picture at Fine (quality 90) to a tmpfs with the application's
// picture writer (RGB 5-6-5 expanded into a kept RGB888 image, QImageWriter ("JPEG") into
// memory, the EXIF block inserted, an unnamed file linked at its name). Measured in the
// same run, on the same pixels:
//   - the plain pipeline, the baseline: a C loop from RGB 5-6-5 to 8-bit RGB (Qt's bit
//     expansion), the same EXIF block (libexif), then libjpeg-turbo's encoder
//     (jpeg_write_scanlines, quality 90, baseline tables, no optimised Huffman tables, not
//     progressive, the JFIF density Qt writes, the block by jpeg_write_marker) to a file;
//   - the plain pipeline without the block, and the application's earlier ways without it:
//     Qt's RGB888 or RGB32 conversion, QImageWriter into a QSaveFile.
// It also says whether the RGB888 and RGB32 intermediates give byte-identical files, and
// whether the plain pipeline's files are byte-identical to the application's.
//
//   bench_save [ROUNDS] [FOLDER]      (FOLDER: a tmpfs, /dev/shm by default)
#include <QBuffer>
#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <QGuiApplication>
#include "storage/exifblock.h"
#include "storage/picturewriter.h"
#include "bench/support/plainjpeg.h"

#include <QImage>
#include <QImageWriter>
#include <QSaveFile>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>


namespace {

constexpr int fineQuality = 90;

// A picture with the texture of a photograph rather than of a test card: smooth gradients,
// edges and fine noise, so that the encoder works as hard as on a real scene.
QImage capturePicture()
{
    QImage image(480, 640, QImage::Format_RGB16);
    unsigned seed = 12345;
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<quint16*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            seed = seed * 1103515245u + 12345u;
            const int noise = int((seed >> 16) & 15) - 8;
            const double wave = 40 * std::sin(x * 0.05) * std::cos(y * 0.03);
            const bool edge = ((x / 60) + (y / 80)) % 2 == 0;
            const int r = std::clamp(int(x * 255 / 480 + wave) + noise, 0, 255);
            const int g = std::clamp(int(y * 255 / 640 - wave) + noise + (edge ? 30 : -30), 0, 255);
            const int b = std::clamp(128 + int(wave) + noise, 0, 255);
            line[x] = quint16(((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3));
        }
    }
    return image;
}

// The application's path: conversion, QImageWriter through a QSaveFile, commit.
bool saveTheAppWay(const QImage& capture, QImage::Format intermediate, const QString& path)
{
    const QImage picture = capture.convertToFormat(intermediate);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QImageWriter writer(&file, QByteArray("JPEG"));
    writer.setQuality(fineQuality);
    if (!writer.write(picture) || !file.commit()) {
        file.cancelWriting();
        return false;
    }
    return true;
}

// An output file closed on every path.
struct File {
    explicit File(const char* path) : f(std::fopen(path, "wb")) {}
    ~File()
    {
        if (f)
            std::fclose(f);
    }
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    std::FILE* f;
};

void expand565(const QImage& capture, std::vector<unsigned char>& rgb)
{
    bench::expand565(reinterpret_cast<const quint16*>(capture.constBits()), capture.width(),
                     capture.height(), size_t(capture.bytesPerLine()), rgb);
}

// Qt writes the image's resolution; a new QImage has 96 dots per inch.
void encode(const std::vector<unsigned char>& rgb, int w, int h, int dpmX, int dpmY,
            std::FILE* file, std::vector<unsigned char>* memory, const QByteArray& exif = {})
{
    bench::encodeJpeg(rgb, w, h, fineQuality, int(std::lround(dpmX * 2.54 / 100.0)),
                      int(std::lround(dpmY * 2.54 / 100.0)), file, memory,
                      reinterpret_cast<const unsigned char*>(exif.constData()), size_t(exif.size()));
}

int dotsPerInch(const QImage& image)
{
    return int(std::lround(image.dotsPerMeterX() * 0.0254));
}

// The plain pipeline: RGB 5-6-5 to 8-bit RGB, then libjpeg-turbo's encoder to a file, with
// the EXIF block of `info` when given.
bool savePlain(const QImage& capture, std::vector<unsigned char>& rgb, const char* path,
               const PictureInfo* info)
{
    expand565(capture, rgb);
    const QByteArray exif = info ? exifPayload(*info, capture.size(), dotsPerInch(capture)) : QByteArray();
    if (info && exif.isEmpty())
        return false;
    File file(path);
    if (!file.f)
        return false;
    encode(rgb, capture.width(), capture.height(), capture.dotsPerMeterX(),
           capture.dotsPerMeterY(), file.f, nullptr, exif);
    return std::fflush(file.f) == 0;
}

double msOf(const std::function<bool()>& body, bool& ok)
{
    const auto start = std::chrono::steady_clock::now();
    ok = body() && ok;
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

double median(std::vector<double> samples)
{
    std::nth_element(samples.begin(), samples.begin() + samples.size() / 2, samples.end());
    return samples[samples.size() / 2];
}

QByteArray contents(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

}  // namespace

int main(int argc, char** argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 61;
    if (rounds <= 0)
        return 2;
    QTemporaryDir dir(QString::fromLocal8Bit(argc > 2 ? argv[2] : "/dev/shm") + "/bench_save-XXXXXX");
    if (!dir.isValid()) {
        std::fprintf(stderr, "bench_save: cannot make a folder for the pictures\n");
        return 1;
    }
    const QString rgb888Path = dir.filePath("rgb888.jpg");
    const QString rgb32Path = dir.filePath("rgb32.jpg");
    const QString loopPath = dir.filePath("loop.jpg");
    const QByteArray plainPath = QFile::encodeName(dir.filePath("plain.jpg"));
    const QByteArray plainExifPath = QFile::encodeName(dir.filePath("plain-exif.jpg"));
    // One moment for every picture, so that the blocks, and the files, can be compared.
    const PictureInfo info{QDateTime::currentDateTime(), "Orvane", "VDC camera card",
                           "Orvane Camera 1.0"};

    const QImage capture = capturePicture();
    std::vector<unsigned char> rgb;
    bool ok = true;
    std::vector<double> app888, app32, plain, plainExif, loop;
    PictureWriter writer; // the application's own, with its kept RGB888 image
    // Two rounds to warm up (plugin loading, page cache of the tmpfs), then the ways in
    // turn, so that a busy moment of the machine weighs on all of them alike.
    for (int i = -2; i < rounds; ++i) {
        const double a = msOf([&] { return saveTheAppWay(capture, QImage::Format_RGB888, rgb888Path); }, ok);
        const double b = msOf([&] { return savePlain(capture, rgb, plainPath.constData(), nullptr); }, ok);
        const double c = msOf([&] { return saveTheAppWay(capture, QImage::Format_RGB32, rgb32Path); }, ok);
        const double e = msOf([&] { return savePlain(capture, rgb, plainExifPath.constData(), &info); }, ok);
        // The writer never replaces a picture: the name is freed before each round.
        QFile::remove(loopPath);
        const double d = msOf([&] {
            return writer.write(capture, loopPath, "JPEG", fineQuality, info) == PictureWriter::Written;
        }, ok);
        if (i >= 0) {
            loop.push_back(d);
            app888.push_back(a);
            plain.push_back(b);
            app32.push_back(c);
            plainExif.push_back(e);
        }
    }
    if (!ok) {
        std::fprintf(stderr, "bench_save: a save failed\n");
        return 1;
    }
    const QByteArray file888 = contents(rgb888Path);
    const QByteArray file32 = contents(rgb32Path);
    const QByteArray filePlain = contents(QFile::decodeName(plainPath));
    const QByteArray filePlainExif = contents(QFile::decodeName(plainExifPath));
    const QByteArray fileLoop = contents(loopPath);
    const double base = median(plainExif);
    std::printf("one 480x640 picture at quality 90 to %s, median of %d rounds\n",
                qPrintable(dir.path()), rounds);
    std::printf("  plain: RGB565->RGB loop + EXIF + libjpeg-turbo %7.2f ms              (%lld bytes)\n",
                base, (long long)filePlainExif.size());
    std::printf("  app: the picture writer (EXIF, no-replace)     %7.2f ms  ratio %5.2f  (%lld bytes)\n",
                median(loop), median(loop) / base, (long long)fileLoop.size());
    std::printf("without the EXIF block:\n");
    std::printf("  plain: RGB565->RGB loop + libjpeg-turbo        %7.2f ms  ratio %5.2f  (%lld bytes)\n",
                median(plain), median(plain) / base, (long long)filePlain.size());
    std::printf("  Qt's RGB888 conversion + writer + QSaveFile    %7.2f ms  ratio %5.2f  (%lld bytes)\n",
                median(app888), median(app888) / base, (long long)file888.size());
    std::printf("  Qt's RGB32 conversion + writer + QSaveFile     %7.2f ms  ratio %5.2f  (%lld bytes)\n",
                median(app32), median(app32) / base, (long long)file32.size());
    std::printf("RGB888 and RGB32 intermediates give byte-identical files: %s\n",
                !file888.isEmpty() && file888 == file32 ? "yes" : "no");
    std::printf("plain pipeline's file byte-identical to Qt's (no EXIF): %s\n",
                !filePlain.isEmpty() && filePlain == file888 ? "yes" : "no");
    std::printf("plain pipeline's file byte-identical to the picture writer's (EXIF): %s\n",
                !filePlainExif.isEmpty() && filePlainExif == fileLoop ? "yes" : "no");

    // ---- where the time goes: each stage alone, the same stages of the plain pipeline ----
    const QImage converted = capture.convertToFormat(QImage::Format_RGB888);
    const QByteArray encoded = file888;
    std::vector<unsigned char> memory;
    std::vector<double> convQt, conv32, convC, encQt, encC, fileQt, fileC, block;
    for (int i = -2; i < rounds; ++i) {
        const double a = msOf([&] { return !capture.convertToFormat(QImage::Format_RGB888).isNull(); }, ok);
        const double b = msOf([&] { return !capture.convertToFormat(QImage::Format_RGB32).isNull(); }, ok);
        const double c = msOf([&] { expand565(capture, rgb); return true; }, ok);
        const double d = msOf([&] {
            QBuffer buffer;
            buffer.open(QIODevice::WriteOnly);
            QImageWriter writer(&buffer, QByteArray("JPEG"));
            writer.setQuality(fineQuality);
            return writer.write(converted);
        }, ok);
        const double e = msOf([&] {
            encode(rgb, capture.width(), capture.height(), capture.dotsPerMeterX(),
                   capture.dotsPerMeterY(), nullptr, &memory);
            return !memory.empty();
        }, ok);
        const double f = msOf([&] {
            QSaveFile file(rgb888Path);
            return file.open(QIODevice::WriteOnly) && file.write(encoded) == encoded.size()
                && file.commit();
        }, ok);
        const double g = msOf([&] {
            File file(plainPath.constData());
            return file.f && std::fwrite(encoded.constData(), 1, size_t(encoded.size()), file.f)
                    == size_t(encoded.size()) && std::fflush(file.f) == 0;
        }, ok);
        const double h = msOf([&] { return !exifPayload(info, capture.size(), dotsPerInch(capture)).isEmpty(); }, ok);
        if (i >= 0) {
            block.push_back(h);
            convQt.push_back(a);
            conv32.push_back(b);
            convC.push_back(c);
            encQt.push_back(d);
            encC.push_back(e);
            fileQt.push_back(f);
            fileC.push_back(g);
        }
    }
    std::printf("stages alone (median ms; ratio to the plain stage):\n");
    std::printf("  conversion  Qt RGB16->RGB888 %6.3f  Qt RGB16->RGB32 %6.3f  C loop %6.3f  (%.2f, %.2f)\n",
                median(convQt), median(conv32), median(convC), median(convQt) / median(convC),
                median(conv32) / median(convC));
    std::printf("  encoding    QImageWriter to a QBuffer %6.3f  libjpeg to memory %6.3f  (%.2f)\n",
                median(encQt), median(encC), median(encQt) / median(encC));
    std::printf("  file        QSaveFile write+commit %6.3f  fopen+fwrite+fclose %6.3f  (%.2f)\n",
                median(fileQt), median(fileC), median(fileQt) / median(fileC));
    std::printf("  EXIF block  libexif %6.3f\n", median(block));
    if (!ok) {
        std::fprintf(stderr, "bench_save: a stage failed\n");
        return 1;
    }
    return 0;
}
