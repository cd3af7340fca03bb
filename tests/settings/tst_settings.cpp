// The settings file's rules: defaults, the limits applied to every key, and what is written
// back.
#include "platform/config.h"
#include "settings/settings.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <QTemporaryDir>
#include <QTest>

#include <functional>

using Values = QMap<QString, int>;
Q_DECLARE_METATYPE(Values)

namespace {

int member(const CameraSettings& s, const QString& name)
{
    const QMap<QString, int> values = {
        {"slowCapture", s.slowCapture}, {"dispModeMax", s.dispModeMax},
        {"dispMode", s.dispMode}, {"resolutionMax", s.resolutionMax},
        {"resolution", s.resolution}, {"quality", s.quality},
        {"qualityNormal", s.qualityNormal}, {"qualityFine", s.qualityFine},
        {"saveTo", s.saveTo}, {"saveDirection", s.saveDirection},
        {"noCheckSdWp", s.noCheckSdWp}, {"serial", s.serial},
        {"remainFlags", s.remainFlags}, {"saveWait", s.saveWait},
    };
    return values.value(name, -12345);
}

// A settings folder of the test's own, and the file in it that the rules read and write.
class SettingsFile {
public:
    SettingsFile() { qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.path())); }

    QString path() const { return QDir(dir.path()).filePath(cameraSettingsName() + ".conf"); }

    void write(const QByteArray& text) const
    {
        QFile file(path());
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text);
    }

    QByteArray read() const
    {
        QFile file(path());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    // What the camera reads at start, with the prefix it passes when the file has none.
    CameraSettings load() const
    {
        Config config(cameraSettingsName(), Config::User);
        return readCameraSettings(config, QStringLiteral("pic"));
    }

    // What the camera leaves at exit: the values read at start, as `change` leaves them,
    // written back.
    void exitWith(const std::function<void(CameraSettings&)>& change) const
    {
        CameraSettings values = load();
        if (change)
            change(values);
        Config config(cameraSettingsName(), Config::User);
        writeCameraSettings(config, values);
    }

    QTemporaryDir dir;
};

} // namespace

class TestSettings : public QObject {
    Q_OBJECT
private slots:
    void load_data();
    void load();
    void names_data();
    void names();
    void firstExitWritesOnlyTheFixedKeys();
    void choicesWrittenOnlyWhereKeysExist();
    void saveDirectionWriteBack_data();
    void saveDirectionWriteBack();
    void badFiles_data();
    void badFiles();
};

void TestSettings::load_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<Values>("expected");
    QTest::newRow("no file") << QByteArray()
        << Values{{"slowCapture", 12}, {"dispModeMax", 2}, {"dispMode", 0}, {"resolutionMax", 8},
                  {"quality", 0}, {"qualityNormal", 30}, {"qualityFine", 90}, {"saveTo", 0},
                  {"saveDirection", -1}, {"noCheckSdWp", 0}, {"serial", 0}, {"remainFlags", 4},
                  {"saveWait", 1000}, {"resolution", 0}};
    QTest::newRow("SlowCapture 15 stays") << QByteArray("[Option]\nSlowCapture=15\n") << Values{{"slowCapture", 15}};
    QTest::newRow("SlowCapture 16") << QByteArray("[Option]\nSlowCapture=16\n") << Values{{"slowCapture", 12}};
    QTest::newRow("SlowCapture -2") << QByteArray("[Option]\nSlowCapture=-2\n") << Values{{"slowCapture", 12}};
    QTest::newRow("SlowCapture 0") << QByteArray("[Option]\nSlowCapture=0\n") << Values{{"slowCapture", 0}};
    QTest::newRow("DispModeMax 0") << QByteArray("[Option]\nDispModeMax=0\n") << Values{{"dispModeMax", 2}};
    QTest::newRow("DispModeMax 4") << QByteArray("[Option]\nDispModeMax=4\n") << Values{{"dispModeMax", 2}};
    QTest::newRow("DispModeMax 3") << QByteArray("[Option]\nDispModeMax=3\n") << Values{{"dispModeMax", 3}};
    QTest::newRow("DispModeMax most negative") << QByteArray("[Option]\nDispModeMax=-2147483648\n") << Values{{"dispModeMax", 2}};
    QTest::newRow("DispMode 1 beyond DispModeMax 1") << QByteArray("[Option]\nDispModeMax=1\nDispMode=1\n") << Values{{"dispMode", 0}};
    QTest::newRow("DispMode 1 of 2") << QByteArray("[Option]\nDispMode=1\n") << Values{{"dispMode", 1}};
    QTest::newRow("Resolution 7 of 8") << QByteArray("[Option]\nResolution=7\n") << Values{{"resolution", 7}};
    QTest::newRow("Resolution 8 beyond ResolutionMax 8") << QByteArray("[Option]\nResolution=8\n") << Values{{"resolution", 0}};
    QTest::newRow("ResolutionMax 0") << QByteArray("[Option]\nResolutionMax=0\n") << Values{{"resolutionMax", 8}};
    QTest::newRow("ResolutionMax 14") << QByteArray("[Option]\nResolutionMax=14\n") << Values{{"resolutionMax", 8}};
    QTest::newRow("ResolutionMax 13") << QByteArray("[Option]\nResolutionMax=13\n") << Values{{"resolutionMax", 13}};
    QTest::newRow("Quality 2") << QByteArray("[Option]\nQuality=2\n") << Values{{"quality", 0}};
    QTest::newRow("Quality -1") << QByteArray("[Option]\nQuality=-1\n") << Values{{"quality", 0}};
    QTest::newRow("Quality 1") << QByteArray("[Option]\nQuality=1\n") << Values{{"quality", 1}};
    QTest::newRow("QualityNormal 0") << QByteArray("[Option]\nQualityNormal=0\n") << Values{{"qualityNormal", 0}};
    QTest::newRow("QualityNormal 101") << QByteArray("[Option]\nQualityNormal=101\n") << Values{{"qualityNormal", 30}};
    QTest::newRow("QualityFine 100") << QByteArray("[Option]\nQualityFine=100\n") << Values{{"qualityFine", 100}};
    QTest::newRow("SaveTo 2") << QByteArray("[Option]\nSaveTo=2\n") << Values{{"saveTo", 0}};
    QTest::newRow("SaveDirection 1") << QByteArray("[Option]\nSaveDirection=1\n") << Values{{"saveDirection", 1}};
    QTest::newRow("NoCheckSDWP 0 is present") << QByteArray("[Option]\nNoCheckSDWP=0\n") << Values{{"noCheckSdWp", 1}};
    QTest::newRow("NoCheckSDWP in File group") << QByteArray("[File]\nNoCheckSDWP=1\n") << Values{{"noCheckSdWp", 0}};
    QTest::newRow("SaveWait 0") << QByteArray("[File]\nSaveWait=0\n") << Values{{"saveWait", 0}};
    QTest::newRow("SaveWait -5") << QByteArray("[File]\nSaveWait=-5\n") << Values{{"saveWait", 1000}};
    QTest::newRow("Serial negative kept") << QByteArray("[File]\nSerial=-7\n") << Values{{"serial", -7}};
    QTest::newRow("not numbers") << QByteArray("[Option]\nSlowCapture=abc\nQuality=\n[File]\nSerial=12x\nSaveWait=9999999999999\n")
                                 << Values{{"slowCapture", 12}, {"quality", 0}, {"serial", 0}, {"saveWait", 1000}};
    QTest::newRow("keys in the wrong group") << QByteArray("[File]\nSlowCapture=3\n[Option]\nSerial=5\n")
                                             << Values{{"slowCapture", 12}, {"serial", 0}};
}

void TestSettings::load()
{
    QFETCH(QByteArray, file);
    QFETCH(Values, expected);
    SettingsFile settings;
    if (!file.isEmpty())
        settings.write(file);
    const CameraSettings values = settings.load();
    for (auto it = expected.cbegin(); it != expected.cend(); ++it)
        QCOMPARE(member(values, it.key()), it.value());
}

void TestSettings::names_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QByteArray>("prefix");
    QTest::addColumn<QByteArray>("suffix");
    QTest::addColumn<QByteArray>("format");
    QTest::newRow("defaults") << QByteArray() << QByteArray("pic") << QByteArray("jpg") << QByteArray("JPEG");
    QTest::newRow("20-character prefix cut to 15")
        << QByteArray("[File]\nNamePrefix=abcdefghijklmnopqrst\n") << QByteArray("abcdefghijklmno")
        << QByteArray("jpg") << QByteArray("JPEG");
    QTest::newRow("8-character suffix cut to 7")
        << QByteArray("[File]\nNameSuffix=abcdefgh\nSaveFormat=PNG\n") << QByteArray("pic")
        << QByteArray("abcdefg") << QByteArray("PNG");
    QTest::newRow("10,000 characters") << (QByteArray("[File]\nNamePrefix=") + QByteArray(10000, 'x') + "\n")
                                       << QByteArray(15, 'x') << QByteArray("jpg") << QByteArray("JPEG");
    QTest::newRow("umlaut written as Latin-1 by an older tool")
        << QByteArray("[File]\nNamePrefix=Bild\xe4\n") << QByteArray("Bild\xc3\xa4") << QByteArray("jpg")
        << QByteArray("JPEG");
    QTest::newRow("non-Latin-1 characters") << QByteArray("[File]\nNamePrefix=Bild\xe2\x82\xac\n")
                                            << QByteArray("Bild\xe2\x82\xac") << QByteArray("jpg") << QByteArray("JPEG");
    // Whole characters only: what does not fit the 15 or 7 bytes is left out, never cut.
    QTest::newRow("CJK prefix and suffix")
        << QByteArray("[File]\nNamePrefix=\xe5\x86\x99\xe7\x9c\x9f\nNameSuffix=\xe5\x86\x99\xe7\x9c\x9f\n")
        << QByteArray("\xe5\x86\x99\xe7\x9c\x9f") << QByteArray("\xe5\x86\x99\xe7\x9c\x9f") << QByteArray("JPEG");
    QTest::newRow("six CJK characters: five fit")
        << QByteArray("[File]\nNamePrefix=") + QByteArray("\xe5\x86\x99").repeated(6) + "\n"
        << QByteArray("\xe5\x86\x99").repeated(5) << QByteArray("jpg") << QByteArray("JPEG");
    QTest::newRow("a character across the last byte")
        << QByteArray("[File]\nNamePrefix=abcdefghijklmn\xe2\x82\xac\nNameSuffix=abcdef\xc3\xa9\n")
        << QByteArray("abcdefghijklmn") << QByteArray("abcdef") << QByteArray("JPEG");
    QTest::newRow("a character outside the 16-bit range")
        << QByteArray("[File]\nNamePrefix=abcdefghijk\xf0\x9f\x93\xb7x\n")
        << QByteArray("abcdefghijk\xf0\x9f\x93\xb7") << QByteArray("jpg") << QByteArray("JPEG");
    QTest::newRow("the same across the last byte")
        << QByteArray("[File]\nNamePrefix=abcdefghijkl\xf0\x9f\x93\xb7\n")
        << QByteArray("abcdefghijkl") << QByteArray("jpg") << QByteArray("JPEG");
    // A letter and its combining mark are one character to the reader: kept or left out together.
    QTest::newRow("a letter and its combining mark across the last byte")
        << QByteArray("[File]\nNamePrefix=abcdefghijklmne\xcc\x81\nNameSuffix=abcdee\xcc\x81\n")
        << QByteArray("abcdefghijklmn") << QByteArray("abcde") << QByteArray("JPEG");
    QTest::newRow("a letter and its combining mark at the last byte")
        << QByteArray("[File]\nNamePrefix=abcdefghijkle\xcc\x81x\n")
        << QByteArray("abcdefghijkle\xcc\x81") << QByteArray("jpg") << QByteArray("JPEG");
    QTest::newRow("a flag of two code points across the last byte")
        << QByteArray("[File]\nNamePrefix=abcdefghijk\xf0\x9f\x87\xa9\xf0\x9f\x87\xaa\n")
        << QByteArray("abcdefghijk") << QByteArray("jpg") << QByteArray("JPEG");
}

void TestSettings::names()
{
    QFETCH(QByteArray, file);
    QFETCH(QByteArray, prefix);
    QFETCH(QByteArray, suffix);
    QFETCH(QByteArray, format);
    SettingsFile settings;
    if (!file.isEmpty())
        settings.write(file);
    const CameraSettings values = settings.load();
    QCOMPARE(QByteArray(values.namePrefix), prefix);
    QCOMPARE(QByteArray(values.nameSuffix), suffix);
    QCOMPARE(QByteArray(values.saveFormat), format);
    QCOMPARE(values.namePrefix[15], '\0');
    QCOMPARE(values.nameSuffix[7], '\0');
}

void TestSettings::firstExitWritesOnlyTheFixedKeys()
{
    SettingsFile settings;
    settings.exitWith(nullptr);
    QCOMPARE(settings.read(),
             QByteArray("[Option]\nSlowCapture=12\n\n[File]\nSerial=0\nRemain=4\nSaveWait=1000\n"));
}

void TestSettings::choicesWrittenOnlyWhereKeysExist()
{
    SettingsFile settings;
    settings.write("[Option]\nDispMode=0\nDispModeMax=2\nQualityFine=95\n");
    settings.exitWith([](CameraSettings& values) {
        values.dispMode = 1; // Portrait
        values.quality = 1;  // Fine, but the file has no Quality key
    });
    const QByteArray text = settings.read();
    QVERIFY2(text.contains("DispMode=1\n"), text);
    QVERIFY2(!text.contains("Quality="), text);
    QVERIFY2(!text.contains("Resolution="), text);
    QVERIFY2(text.contains("QualityFine=95\n"), text);
    QVERIFY2(text.contains("DispModeMax=2\n"), text);
}

void TestSettings::saveDirectionWriteBack_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("direction");
    QTest::addColumn<QByteArray>("written");
    QTest::newRow("-1, not enabled") << QByteArray("[Option]\nSaveDirection=-1\n") << -1 << QByteArray("SaveDirection=-1\n");
    QTest::newRow("-1, enabled (key V)") << QByteArray("[Option]\nSaveDirection=-1\n") << 0 << QByteArray("SaveDirection=0\n");
    QTest::newRow("no key, enabled") << QByteArray("[Option]\n") << 0 << QByteArray();
}

void TestSettings::saveDirectionWriteBack()
{
    QFETCH(QByteArray, file);
    QFETCH(int, direction);
    QFETCH(QByteArray, written);
    SettingsFile settings;
    settings.write(file);
    settings.exitWith([direction](CameraSettings& values) { values.saveDirection = direction; });
    const QByteArray text = settings.read();
    if (written.isEmpty())
        QVERIFY2(!text.contains("SaveDirection"), text);
    else
        QVERIFY2(text.contains(written), text);
}

void TestSettings::badFiles_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::newRow("empty") << QByteArray("");
    QTest::newRow("binary") << QByteArray("\x00\xff\x01[Option\n=\n\x7f\x80", 14);
    QTest::newRow("group without end") << QByteArray("[Option\nSlowCapture=3\n");
    QTest::newRow("absurd values") << QByteArray("[Option]\nSlowCapture=99999999999\nDispModeMax=-1\n"
                                                  "DispMode=77\nResolutionMax=2147483647\nResolution=-2147483648\n"
                                                  "Quality=8\nSaveTo=-3\nSaveDirection=-2147483648\n"
                                                  "[File]\nSerial=2147483647\nRemain=-1\nSaveWait=-2147483648\n");
}

void TestSettings::badFiles()
{
    QFETCH(QByteArray, file);
    SettingsFile settings;
    settings.write(file);
    const CameraSettings values = settings.load();
    QVERIFY(unsigned(values.slowCapture) <= 15);
    QVERIFY(values.dispModeMax >= 1 && values.dispModeMax <= 3);
    QVERIFY(values.dispMode >= 0 && values.dispMode < values.dispModeMax);
    QVERIFY(values.resolution >= 0 && values.resolution < values.resolutionMax);
    QVERIFY(values.quality == 0 || values.quality == 1);
    QVERIFY(values.saveWait >= 0);
}

QTEST_MAIN(TestSettings)
#include "tst_settings.moc"
