// The settings file: defaults, the rules applied to every key, and what is written back.
#include "support/testenvironment.h"

#include <QMap>

using Values = QMap<QString, int>;
Q_DECLARE_METATYPE(Values)

namespace {

int member(const Camera& c, const QString& name)
{
    const QMap<QString, int> values = {
        {"slowCapture", c.settings().slowCapture}, {"dispModeMax", c.settings().dispModeMax},
        {"dispMode", c.settings().dispMode}, {"resolutionMax", c.settings().resolutionMax},
        {"resolution", c.settings().resolution}, {"quality", c.settings().quality},
        {"qualityNormal", c.settings().qualityNormal}, {"qualityFine", c.settings().qualityFine},
        {"saveTo", c.settings().saveTo}, {"saveDirection", c.settings().saveDirection},
        {"noCheckSdWp", c.settings().noCheckSdWp}, {"serial", c.settings().serial},
        {"remainFlags", c.settings().remainFlags}, {"saveWait", c.settings().saveWait},
    };
    return values.value(name, -12345);
}

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
                  {"saveWait", 1000}, {"resolution", 2}};
    QTest::newRow("SlowCapture 15 stays") << QByteArray("[Option]\nSlowCapture=15\n") << Values{{"slowCapture", 15}};
    QTest::newRow("SlowCapture 16") << QByteArray("[Option]\nSlowCapture=16\n") << Values{{"slowCapture", 12}};
    QTest::newRow("SlowCapture -2") << QByteArray("[Option]\nSlowCapture=-2\n") << Values{{"slowCapture", 12}};
    QTest::newRow("SlowCapture 0") << QByteArray("[Option]\nSlowCapture=0\n") << Values{{"slowCapture", 0}};
    QTest::newRow("DispModeMax 0") << QByteArray("[Option]\nDispModeMax=0\n") << Values{{"dispModeMax", 2}};
    QTest::newRow("DispModeMax 4") << QByteArray("[Option]\nDispModeMax=4\n") << Values{{"dispModeMax", 2}};
    QTest::newRow("DispModeMax 3") << QByteArray("[Option]\nDispModeMax=3\n") << Values{{"dispModeMax", 3}};
    QTest::newRow("DispModeMax most negative") << QByteArray("[Option]\nDispModeMax=-2147483648\n") << Values{{"dispModeMax", 2}};
    QTest::newRow("DispMode 1 beyond DispModeMax 1") << QByteArray("[Option]\nDispModeMax=1\nDispMode=1\n") << Values{{"dispMode", 0}};
    QTest::newRow("DispMode 1 of 2") << QByteArray("[Option]\nDispMode=1\n") << Values{{"dispMode", 1}, {"resolution", 0}};
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
    QTest::newRow("SaveDirection 5 becomes 0") << QByteArray("[Option]\nSaveDirection=5\n") << Values{{"saveDirection", 0}};
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
    TestEnvironment env;
    if (!file.isEmpty())
        env.writeSettings(file);
    auto camera = env.makeCamera();
    for (auto it = expected.cbegin(); it != expected.cend(); ++it)
        QCOMPARE(member(*camera, it.key()), it.value());
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
}

void TestSettings::names()
{
    QFETCH(QByteArray, file);
    QFETCH(QByteArray, prefix);
    QFETCH(QByteArray, suffix);
    QFETCH(QByteArray, format);
    TestEnvironment env;
    if (!file.isEmpty())
        env.writeSettings(file);
    auto camera = env.makeCamera();
    QCOMPARE(QByteArray(camera->settings().namePrefix), prefix);
    QCOMPARE(QByteArray(camera->settings().nameSuffix), suffix);
    QCOMPARE(QByteArray(camera->settings().saveFormat), format);
    QCOMPARE(camera->settings().namePrefix[15], '\0');
    QCOMPARE(camera->settings().nameSuffix[7], '\0');
}

void TestSettings::firstExitWritesOnlyTheFixedKeys()
{
    TestEnvironment env;
    env.makeCamera().reset();
    QCOMPARE(env.readSettings(),
             QByteArray("[Option]\nSlowCapture=12\n\n[File]\nSerial=0\nRemain=4\nSaveWait=1000\n"));
}

void TestSettings::choicesWrittenOnlyWhereKeysExist()
{
    TestEnvironment env;
    env.writeSettings("[Option]\nDispMode=0\nDispModeMax=2\nQualityFine=95\n");
    {
        auto camera = env.makeCamera();
        camera->ButtonDispMode(); // Portrait
        camera->ButtonQuality();  // Fine, but the file has no Quality key
    }
    const QByteArray text = env.readSettings();
    QVERIFY2(text.contains("DispMode=1\n"), text);
    QVERIFY2(!text.contains("Quality="), text);
    QVERIFY2(!text.contains("Resolution="), text);
    QVERIFY2(text.contains("QualityFine=95\n"), text);
    QVERIFY2(text.contains("DispModeMax=2\n"), text);
}

void TestSettings::saveDirectionWriteBack_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<bool>("enable");
    QTest::addColumn<QByteArray>("written");
    QTest::newRow("-1, not enabled") << QByteArray("[Option]\nSaveDirection=-1\n") << false << QByteArray("SaveDirection=-1\n");
    QTest::newRow("-1, enabled by key V") << QByteArray("[Option]\nSaveDirection=-1\n") << true << QByteArray("SaveDirection=0\n");
    QTest::newRow("no key, enabled") << QByteArray("[Option]\n") << true << QByteArray();
}

void TestSettings::saveDirectionWriteBack()
{
    QFETCH(QByteArray, file);
    QFETCH(bool, enable);
    QFETCH(QByteArray, written);
    TestEnvironment env;
    env.writeSettings(file);
    {
        auto camera = env.makeCamera();
        if (enable)
            QTest::keyClick(camera.get(), Qt::Key_V);
    }
    const QByteArray text = env.readSettings();
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
    TestEnvironment env;
    env.writeSettings(file);
    auto camera = env.makeCamera();
    QVERIFY(unsigned(camera->settings().slowCapture) <= 15);
    QVERIFY(camera->settings().dispModeMax >= 1 && camera->settings().dispModeMax <= 3);
    QVERIFY(camera->settings().dispMode >= 0 && camera->settings().dispMode < camera->settings().dispModeMax);
    QVERIFY(camera->settings().resolution >= 0 && camera->settings().resolution < camera->settings().resolutionMax);
    QVERIFY(camera->settings().quality == 0 || camera->settings().quality == 1);
    QVERIFY(camera->settings().saveWait >= 0);
}

QTEST_MAIN(TestSettings)
#include "tst_settings.moc"
