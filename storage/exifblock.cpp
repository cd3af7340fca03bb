#include "storage/exifblock.h"

#include <libexif/exif-data.h>

#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

constexpr ExifByteOrder byteOrder = EXIF_BYTE_ORDER_INTEL;
// A segment's length field counts itself: 65535 - 2 bytes of payload at most.
constexpr int largestPayload = 65533;

struct ExifDataUnref {
    void operator()(ExifData* data) const { exif_data_unref(data); }
};

// A new entry of `components` values of `format` in `ifd`, its data zeroed; null when
// memory runs out.
ExifEntry* addEntry(ExifData* data, ExifIfd ifd, ExifTag tag, ExifFormat format,
                    unsigned long components)
{
    ExifEntry* entry = exif_entry_new();
    if (!entry)
        return nullptr;
    const unsigned size = exif_format_get_size(format) * unsigned(components);
    entry->data = static_cast<unsigned char*>(std::calloc(1, size));
    if (!entry->data) {
        exif_entry_unref(entry);
        return nullptr;
    }
    entry->tag = tag;
    entry->format = format;
    entry->components = components;
    entry->size = size;
    exif_content_add_entry(data->ifd[ifd], entry);
    const bool added = entry->parent == data->ifd[ifd];
    exif_entry_unref(entry); // the content holds it now, or nothing does
    return added ? entry : nullptr;
}

bool addBytes(ExifData* data, ExifIfd ifd, ExifTag tag, ExifFormat format, const QByteArray& bytes)
{
    ExifEntry* entry = addEntry(data, ifd, tag, format, bytes.size());
    if (entry)
        std::memcpy(entry->data, bytes.constData(), size_t(bytes.size()));
    return entry;
}

// ASCII values end with their NUL, which the count includes.
bool addText(ExifData* data, ExifIfd ifd, ExifTag tag, const QByteArray& text)
{
    return addBytes(data, ifd, tag, EXIF_FORMAT_ASCII, QByteArray(text.constData(), text.size() + 1));
}

bool addShort(ExifData* data, ExifIfd ifd, ExifTag tag, ExifShort value)
{
    ExifEntry* entry = addEntry(data, ifd, tag, EXIF_FORMAT_SHORT, 1);
    if (entry)
        exif_set_short(entry->data, byteOrder, value);
    return entry;
}

bool addLong(ExifData* data, ExifIfd ifd, ExifTag tag, ExifLong value)
{
    ExifEntry* entry = addEntry(data, ifd, tag, EXIF_FORMAT_LONG, 1);
    if (entry)
        exif_set_long(entry->data, byteOrder, value);
    return entry;
}

bool addRational(ExifData* data, ExifIfd ifd, ExifTag tag, ExifLong numerator)
{
    ExifEntry* entry = addEntry(data, ifd, tag, EXIF_FORMAT_RATIONAL, 1);
    if (entry)
        exif_set_rational(entry->data, byteOrder, ExifRational{numerator, 1});
    return entry;
}

// "+01:00", "-03:30": the offset from UTC the date was read in.
QByteArray offsetText(int seconds)
{
    const char sign = seconds < 0 ? '-' : '+';
    const int minutes = std::abs(seconds) / 60;
    return QByteArray(1, sign) + QByteArray::number(minutes / 60).rightJustified(2, '0') + ':'
        + QByteArray::number(minutes % 60).rightJustified(2, '0');
}

} // namespace

QByteArray exifPayload(const PictureInfo& info, QSize size, int dotsPerInch)
{
    std::unique_ptr<ExifData, ExifDataUnref> data(exif_data_new());
    if (!data || size.isEmpty())
        return {};
    ExifData* d = data.get();
    exif_data_set_byte_order(d, byteOrder);
    exif_data_set_data_type(d, EXIF_DATA_TYPE_COMPRESSED);
    // Saved as built, no entries added or changed behind our back.
    exif_data_unset_option(d, EXIF_DATA_OPTION_FOLLOW_SPECIFICATION);

    const ExifLong dpi = dotsPerInch > 0 ? ExifLong(dotsPerInch) : 72;
    bool ok = addText(d, EXIF_IFD_0, EXIF_TAG_MAKE, info.make)
        && addText(d, EXIF_IFD_0, EXIF_TAG_MODEL, info.model)
        && addShort(d, EXIF_IFD_0, EXIF_TAG_ORIENTATION, 1)
        // The same resolution as the JFIF header, so that no reader sees two.
        && addRational(d, EXIF_IFD_0, EXIF_TAG_X_RESOLUTION, dpi)
        && addRational(d, EXIF_IFD_0, EXIF_TAG_Y_RESOLUTION, dpi)
        && addShort(d, EXIF_IFD_0, EXIF_TAG_RESOLUTION_UNIT, 2) // inches
        && addText(d, EXIF_IFD_0, EXIF_TAG_SOFTWARE, info.software)
        && addShort(d, EXIF_IFD_0, EXIF_TAG_YCBCR_POSITIONING, 1) // centred, as libjpeg samples
        // 2.31 is the first version with the offset tags.
        && addBytes(d, EXIF_IFD_EXIF, EXIF_TAG_EXIF_VERSION, EXIF_FORMAT_UNDEFINED, "0231")
        && addBytes(d, EXIF_IFD_EXIF, EXIF_TAG_COMPONENTS_CONFIGURATION, EXIF_FORMAT_UNDEFINED,
                    QByteArray("\1\2\3\0", 4)) // Y Cb Cr
        && addBytes(d, EXIF_IFD_EXIF, EXIF_TAG_FLASH_PIX_VERSION, EXIF_FORMAT_UNDEFINED, "0100")
        && addShort(d, EXIF_IFD_EXIF, EXIF_TAG_COLOR_SPACE, 1) // sRGB
        && addLong(d, EXIF_IFD_EXIF, EXIF_TAG_PIXEL_X_DIMENSION, ExifLong(size.width()))
        && addLong(d, EXIF_IFD_EXIF, EXIF_TAG_PIXEL_Y_DIMENSION, ExifLong(size.height()));
    if (ok && info.taken.isValid()) {
        const QByteArray date = info.taken.toString(QStringLiteral("yyyy:MM:dd HH:mm:ss")).toLatin1();
        const QByteArray offset = offsetText(info.taken.offsetFromUtc());
        ok = addText(d, EXIF_IFD_0, EXIF_TAG_DATE_TIME, date)
            && addText(d, EXIF_IFD_EXIF, EXIF_TAG_DATE_TIME_ORIGINAL, date)
            && addText(d, EXIF_IFD_EXIF, EXIF_TAG_DATE_TIME_DIGITIZED, date)
            && addText(d, EXIF_IFD_EXIF, EXIF_TAG_OFFSET_TIME, offset)
            && addText(d, EXIF_IFD_EXIF, EXIF_TAG_OFFSET_TIME_ORIGINAL, offset)
            && addText(d, EXIF_IFD_EXIF, EXIF_TAG_OFFSET_TIME_DIGITIZED, offset);
    }
    if (!ok)
        return {};

    unsigned char* bytes = nullptr;
    unsigned int length = 0;
    exif_data_save_data(d, &bytes, &length);
    QByteArray payload;
    if (bytes && length <= unsigned(largestPayload))
        payload = QByteArray(reinterpret_cast<const char*>(bytes), int(length));
    std::free(bytes);
    return payload;
}

int exifInsertionPoint(const QByteArray& jpeg)
{
    const auto* b = reinterpret_cast<const unsigned char*>(jpeg.constData());
    if (jpeg.size() < 4 || b[0] != 0xFF || b[1] != 0xD8)
        return 0;
    int at = 2;
    // A JFIF APP0 segment must stay directly after SOI.
    if (jpeg.size() >= at + 9 && b[at] == 0xFF && b[at + 1] == 0xE0
        && std::memcmp(b + at + 4, "JFIF\0", 5) == 0) {
        const int length = (b[at + 2] << 8) | b[at + 3];
        if (length < 2 || at + 2 + length > jpeg.size())
            return 0;
        at += 2 + length;
    }
    return at;
}

QByteArray exifSegment(const QByteArray& payload)
{
    if (payload.isEmpty() || payload.size() > largestPayload)
        return {};
    const int length = payload.size() + 2;
    QByteArray segment;
    segment.reserve(4 + payload.size());
    segment.append(char(0xFF)).append(char(0xE1)).append(char(length >> 8)).append(char(length & 0xFF));
    return segment.append(payload);
}
