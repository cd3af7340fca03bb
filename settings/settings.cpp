#include "settings/settings.h"

#include "platform/config.h"

#include <QByteArray>
#include <QTextBoundaryFinder>
#include <cstring>

namespace {

// The entry in UTF-8, NUL-terminated in `buffer`: as many of its first characters as fit
// whole into the buffer's bytes, each as the reader sees it (a letter with its combining
// marks, an emoji with its modifiers), never one cut in the middle.
template <size_t N>
void readText(const Config& config, const char* key, const QString& deflt, char (&buffer)[N])
{
    constexpr qsizetype bytes = qsizetype(N) - 1;
    const QString text = config.readEntry(QLatin1String(key), deflt);
    QByteArray kept;
    QTextBoundaryFinder characters(QTextBoundaryFinder::Grapheme, text);
    for (qsizetype from = 0; from < text.size();) {
        const qsizetype to = characters.toNextBoundary();
        if (to <= from)
            break;
        const QByteArray character = text.mid(from, to - from).toUtf8();
        if (kept.size() + character.size() > bytes)
            break;
        kept += character;
        from = to;
    }
    std::memset(buffer, 0, N);
    std::memcpy(buffer, kept.constData(), size_t(kept.size()));
}

// Compared as unsigned, so every negative value fails too.
bool above(int value, unsigned limit)
{
    return unsigned(value) > limit;
}

// Outside 1 to max, in unsigned arithmetic so that no value overflows.
bool outsideOneTo(int value, unsigned max)
{
    return unsigned(value) - 1u > max - 1u;
}

} // namespace

QString cameraSettingsName()
{
    return QStringLiteral("OrvaneCamera");
}

CameraSettings readCameraSettings(Config& config, const QString& defaultPrefix)
{
    CameraSettings s;
    config.setGroup(QStringLiteral("Option"));
    s.slowCapture = config.readNumEntry(QStringLiteral("SlowCapture"), -1);
    if (above(s.slowCapture, 15))
        s.slowCapture = 12;
    s.dispModeMax = config.readNumEntry(QStringLiteral("DispModeMax"), -1);
    if (outsideOneTo(s.dispModeMax, 3))
        s.dispModeMax = 2;
    s.dispMode = config.readNumEntry(QStringLiteral("DispMode"), -1);
    if (s.dispMode < 0 || s.dispMode >= s.dispModeMax)
        s.dispMode = 0;
    s.resolutionMax = config.readNumEntry(QStringLiteral("ResolutionMax"), -1);
    if (outsideOneTo(s.resolutionMax, 13))
        s.resolutionMax = 8;
    s.resolution = config.readNumEntry(QStringLiteral("Resolution"), -1);
    if (s.resolution < 0 || s.resolution >= s.resolutionMax)
        s.resolution = 0;
    s.quality = config.readNumEntry(QStringLiteral("Quality"), -1);
    if (above(s.quality, 1))
        s.quality = 0;
    s.qualityNormal = config.readNumEntry(QStringLiteral("QualityNormal"), -1);
    if (above(s.qualityNormal, 100))
        s.qualityNormal = 30;
    s.qualityFine = config.readNumEntry(QStringLiteral("QualityFine"), -1);
    if (above(s.qualityFine, 100))
        s.qualityFine = 90;
    s.saveTo = config.readNumEntry(QStringLiteral("SaveTo"), -1);
    if (above(s.saveTo, 1))
        s.saveTo = 0;
    s.saveDirection = config.readNumEntry(QStringLiteral("SaveDirection"), -1);
    s.noCheckSdWp = config.hasKey(QStringLiteral("NoCheckSDWP"));

    config.setGroup(QStringLiteral("File"));
    readText(config, "NamePrefix", defaultPrefix, s.namePrefix);
    readText(config, "NameSuffix", QStringLiteral("jpg"), s.nameSuffix);
    readText(config, "SaveFormat", QStringLiteral("JPEG"), s.saveFormat);
    s.serial = config.readNumEntry(QStringLiteral("Serial"), 0);
    s.remainFlags = config.readNumEntry(QStringLiteral("Remain"), 4);
    s.saveWait = config.readNumEntry(QStringLiteral("SaveWait"), 1000);
    if (s.saveWait < 0)
        s.saveWait = 1000;
    return s;
}

void writeCameraSettings(Config& config, const CameraSettings& s)
{
    config.setGroup(QStringLiteral("Option"));
    config.writeEntry(QStringLiteral("SlowCapture"), s.slowCapture);
    // Choices are remembered only where the file already holds their keys.
    const struct {
        const char* key;
        int value;
    } remembered[] = {
        {"DispMode", s.dispMode},
        {"Resolution", s.resolution},
        {"Quality", s.quality},
        {"SaveTo", s.saveTo},
    };
    for (const auto& entry : remembered) {
        const QString key = QLatin1String(entry.key);
        if (config.hasKey(key))
            config.writeEntry(key, entry.value);
    }
    if (config.hasKey(QStringLiteral("SaveDirection")) && s.saveDirection >= 0)
        config.writeEntry(QStringLiteral("SaveDirection"), s.saveDirection);

    config.setGroup(QStringLiteral("File"));
    config.writeEntry(QStringLiteral("Serial"), s.serial);
    config.writeEntry(QStringLiteral("Remain"), s.remainFlags);
    config.writeEntry(QStringLiteral("SaveWait"), s.saveWait);
}
