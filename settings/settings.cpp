// The settings file "OrvaneCamera": read once at start, a few values written back at exit.
#include "app/camera.h"

#include "platform/config.h"

#include <QByteArray>
#include <cstring>

namespace {

const QString settingsName = QStringLiteral("OrvaneCamera");

// The first `chars` characters of the entry, as Latin-1, NUL-terminated in `buffer`.
template <size_t N>
void readText(const Config& config, const char* key, const QString& deflt, char (&buffer)[N])
{
    constexpr int chars = int(N) - 1;
    const QByteArray text = config.readEntry(QLatin1String(key), deflt).left(chars).toLatin1();
    std::memset(buffer, 0, N);
    std::memcpy(buffer, text.constData(), size_t(qMin<qsizetype>(text.size(), chars)));
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

void Camera::loadSettings()
{
    Config config(settingsName, Config::User);

    config.setGroup(QStringLiteral("Option"));
    slowCapture = config.readNumEntry(QStringLiteral("SlowCapture"), -1);
    if (above(slowCapture, 15))
        slowCapture = 12;
    dispModeMax = config.readNumEntry(QStringLiteral("DispModeMax"), -1);
    if (outsideOneTo(dispModeMax, 3))
        dispModeMax = 2;
    dispMode = config.readNumEntry(QStringLiteral("DispMode"), -1);
    if (dispMode < 0 || dispMode >= dispModeMax)
        dispMode = 0;
    resolutionMax = config.readNumEntry(QStringLiteral("ResolutionMax"), -1);
    if (outsideOneTo(resolutionMax, 13))
        resolutionMax = 8;
    resolution = config.readNumEntry(QStringLiteral("Resolution"), -1);
    if (resolution < 0 || resolution >= resolutionMax)
        resolution = 0;
    quality = config.readNumEntry(QStringLiteral("Quality"), -1);
    if (above(quality, 1))
        quality = 0;
    qualityNormal = config.readNumEntry(QStringLiteral("QualityNormal"), -1);
    if (above(qualityNormal, 100))
        qualityNormal = 30;
    qualityFine = config.readNumEntry(QStringLiteral("QualityFine"), -1);
    if (above(qualityFine, 100))
        qualityFine = 90;
    saveTo = config.readNumEntry(QStringLiteral("SaveTo"), -1);
    if (above(saveTo, 1))
        saveTo = 0;
    saveDirection = config.readNumEntry(QStringLiteral("SaveDirection"), -1);
    noCheckSdWp = config.hasKey(QStringLiteral("NoCheckSDWP"));

    config.setGroup(QStringLiteral("File"));
    readText(config, "NamePrefix", tr("pic"), namePrefix);
    readText(config, "NameSuffix", QStringLiteral("jpg"), nameSuffix);
    readText(config, "SaveFormat", QStringLiteral("JPEG"), saveFormat);
    serial = config.readNumEntry(QStringLiteral("Serial"), 0);
    remainFlags = config.readNumEntry(QStringLiteral("Remain"), 4);
    saveWait = config.readNumEntry(QStringLiteral("SaveWait"), 1000);
    if (saveWait < 0)
        saveWait = 1000;
}

void Camera::saveSettings()
{
    Config config(settingsName, Config::User);

    config.setGroup(QStringLiteral("Option"));
    config.writeEntry(QStringLiteral("SlowCapture"), slowCapture);
    // Choices are remembered only where the file already holds their keys.
    const struct {
        const char* key;
        int value;
    } remembered[] = {
        {"DispMode", dispMode},
        {"Resolution", resolution},
        {"Quality", quality},
        {"SaveTo", saveTo},
    };
    for (const auto& entry : remembered) {
        const QString key = QLatin1String(entry.key);
        if (config.hasKey(key))
            config.writeEntry(key, entry.value);
    }
    if (config.hasKey(QStringLiteral("SaveDirection")) && saveDirection >= 0)
        config.writeEntry(QStringLiteral("SaveDirection"), saveDirection);

    config.setGroup(QStringLiteral("File"));
    config.writeEntry(QStringLiteral("Serial"), serial);
    config.writeEntry(QStringLiteral("Remain"), remainFlags);
    config.writeEntry(QStringLiteral("SaveWait"), saveWait);
}
