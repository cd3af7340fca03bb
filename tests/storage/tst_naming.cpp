// Picture names: the numbering from the stored serial, its wrap, the folders per storage,
// and base folders that do not fit their buffers.
#include "support/testenvironment.h"

#include <QDir>
#include <QFile>

namespace {

void touch(const QString& path)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
}

} // namespace

class TestNaming : public QObject {
    Q_OBJECT
private slots:
    void numbering_data();
    void numbering();
    void nullNumberStartsAtOne();
    void namesAsTheUserSetThem_data();
    void namesAsTheUserSetThem();
    void folders_data();
    void folders();
    void folderTakenByAFile();
    void homeUnset();
    void specialCharactersInHome();
    void longBaseFolders_data();
    void longBaseFolders();
};

void TestNaming::numbering_data()
{
    QTest::addColumn<int>("serial");
    QTest::addColumn<int>("takenFrom");
    QTest::addColumn<int>("takenTo");
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("name");
    QTest::newRow("41 with 42 and 43 taken") << 41 << 42 << 43 << 44 << "pic0044.jpg";
    QTest::newRow("first picture") << 0 << 0 << -1 << 1 << "pic0001.jpg";
    QTest::newRow("9998") << 9998 << 0 << -1 << 9999 << "pic9999.jpg";
    QTest::newRow("9999 starts again at 1") << 9999 << 0 << -1 << 1 << "pic0001.jpg";
    QTest::newRow("9999, 1 to 5 taken") << 9999 << 1 << 5 << 6 << "pic0006.jpg";
    QTest::newRow("negative starts again at 1") << -3 << 0 << -1 << 1 << "pic0001.jpg";
    QTest::newRow("most negative") << int(0x80000000) << 0 << -1 << 1 << "pic0001.jpg";
    QTest::newRow("numbers below the serial are not reused") << 100 << 0 << -1 << 101 << "pic0101.jpg";
    QTest::newRow("9998 with 9999 taken goes on past it") << 9998 << 9999 << 9999 << 10000 << "pic10000.jpg";
    QTest::newRow("all of 1 to 9999 taken") << 9999 << 1 << 9999 << 10000 << "pic10000.jpg";
}

void TestNaming::numbering()
{
    QFETCH(int, serial);
    QFETCH(int, takenFrom);
    QFETCH(int, takenTo);
    QFETCH(int, number);
    QFETCH(QString, name);
    TestEnvironment env;
    auto c = env.makeCamera();
    const QString folder = env.home + "/Documents/Image_Files/";
    QDir().mkpath(folder);
    for (int n = takenFrom; n <= takenTo; ++n)
        touch(folder + QString::asprintf("pic%04d.jpg", n));

    char buffer[300] = {};
    int value = serial;
    QCOMPARE(c->makePictureName(0, buffer, sizeof buffer, &value), buffer);
    QCOMPARE(value, number);
    QCOMPARE(QFile::decodeName(buffer), folder + name);
}

void TestNaming::namesAsTheUserSetThem_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("name");
    QTest::newRow("UTF-8 umlaut") << QByteArray("[File]\nNamePrefix=Bild\xc3\xa4\n") << QString("Bild\u00e4" "0001.jpg");
    QTest::newRow("umlaut written as Latin-1 by an older tool") << QByteArray("[File]\nNamePrefix=Bild\xe4\n") << QString("Bild\u00e4" "0001.jpg");
    QTest::newRow("Latin-1 suffix") << QByteArray("[File]\nNameSuffix=j\xc3\xa9g\n") << QString("pic0001.j\u00e9g");
    QTest::newRow("outside Latin-1") << QByteArray("[File]\nNamePrefix=Bild\xe2\x82\xac\n") << QString("Bild\u20ac" "0001.jpg");
    QTest::newRow("CJK") << QByteArray("[File]\nNamePrefix=\xe5\x86\x99\xe7\x9c\x9f\n") << QString("\u5199\u771f" "0001.jpg");
}

// The name on disk is in the file system's encoding, with the characters the user wrote.
void TestNaming::namesAsTheUserSetThem()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, name);
    TestEnvironment env;
    env.writeSettings(file);
    auto c = env.makeCamera();
    char buffer[300] = {};
    QVERIFY(c->makePictureName(0, buffer, sizeof buffer, nullptr));
    QCOMPARE(QFileInfo(QString::fromUtf8(buffer)).fileName(), name);
}

void TestNaming::nullNumberStartsAtOne()
{
    TestEnvironment env;
    auto c = env.makeCamera();
    char buffer[300] = {};
    QVERIFY(c->makePictureName(0, buffer, sizeof buffer, nullptr));
    QVERIFY(QByteArray(buffer).endsWith("/Documents/Image_Files/pic0001.jpg"));
}

void TestNaming::folders_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<bool>("folderExists");
    QTest::addColumn<QString>("relative"); // to the storage's base folder
    QTest::addColumn<bool>("folderAfter");
    QTest::newRow("internal, folder present") << 0 << true << "/Documents/Image_Files/pic0001.jpg" << true;
    QTest::newRow("internal, folder created") << 0 << false << "/Documents/Image_Files/pic0001.jpg" << true;
    QTest::newRow("card, folder present") << 1 << true << "/Documents/Image_Files/pic0001.jpg" << true;
    QTest::newRow("card without folder: its top") << 1 << false << "pic0001.jpg" << false;
}

void TestNaming::folders()
{
    QFETCH(int, index);
    QFETCH(bool, folderExists);
    QFETCH(QString, relative);
    QFETCH(bool, folderAfter);
    TestEnvironment env;
    auto c = env.makeCamera();
    const QString base = index == 0 ? env.home : env.card;
    if (folderExists)
        QDir().mkpath(base + "/Documents/Image_Files");
    char buffer[300] = {};
    int number = 0;
    QVERIFY(c->makePictureName(index, buffer, sizeof buffer, &number));
    QCOMPARE(QFile::decodeName(buffer), base + relative);
    QCOMPARE(QFileInfo(base + "/Documents/Image_Files").isDir(), folderAfter);
}

void TestNaming::folderTakenByAFile()
{
    TestEnvironment env;
    auto c = env.makeCamera();
    QDir().mkpath(env.home + "/Documents");
    touch(env.home + "/Documents/Image_Files");
    char buffer[300] = {};
    int number = 7;
    QVERIFY(!c->makePictureName(0, buffer, sizeof buffer, &number));
    QCOMPARE(number, 7);
}

void TestNaming::homeUnset()
{
    TestEnvironment env;
    env.paths.home = nullptr; // HOME not set
    auto c = env.makeCamera();
    char buffer[100];
    QCOMPARE(QByteArray(c->storageBasePath(0, buffer, sizeof buffer)), QByteArray("/home/"));
    QCOMPARE(QByteArray(c->storageBasePath(1, buffer, sizeof buffer)), env.cardPath);
}

void TestNaming::specialCharactersInHome()
{
    TestEnvironment env;
    const QString home = env.dir.filePath("my home 'q' \"d\" $(touch x) ; rm -rf y\nz");
    QDir().mkpath(home);
    env.homePath = QFile::encodeName(home);
    env.paths.home = env.homePath.constData();
    auto c = env.makeCamera();
    QDir::setCurrent(env.dir.path());
    char buffer[300] = {};
    QVERIFY(c->makePictureName(0, buffer, sizeof buffer, nullptr));
    QCOMPARE(QFile::decodeName(buffer), home + "/Documents/Image_Files/pic0001.jpg");
    QVERIFY(QFileInfo(home + "/Documents/Image_Files").isDir());
    QVERIFY(!QFile::exists(env.dir.filePath("x")));
    QVERIFY(!QFile::exists(home + "/x"));
}

void TestNaming::longBaseFolders_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<bool>("usable");
    QTest::addColumn<bool>("named");
    QTest::newRow("99 characters fit everywhere") << 99 << true << true;
    QTest::newRow("100 characters: the probe refuses") << 100 << false << true;
    QTest::newRow("250 characters: named, but the probe refuses") << 250 << false << true;
    QTest::newRow("280 characters: no name fits") << 280 << false << false;
    QTest::newRow("4000 characters") << 4000 << false << false;
}

void TestNaming::longBaseFolders()
{
    QFETCH(int, length);
    QFETCH(bool, usable);
    QFETCH(bool, named);
    TestEnvironment env;
    QString home = env.dir.path() + '/';
    while (home.size() < length)
        home += 'h';
    env.homePath = QFile::encodeName(home);
    env.paths.home = env.homePath.constData();
    if (length < 4000)
        QDir().mkpath(home);
    auto c = env.makeCamera();
    QCOMPARE(c->probeStorage(0, nullptr, nullptr), usable);
    char buffer[300];
    std::memset(buffer, 'X', sizeof buffer);
    char guard[8];
    std::memset(guard, 'G', sizeof guard);
    const bool made = c->makePictureName(0, buffer, sizeof buffer, nullptr) != nullptr;
    QCOMPARE(made, named);
    if (made)
        QVERIFY(QByteArray(buffer).startsWith(QFile::encodeName(home)));
    QCOMPARE(QByteArray(guard, 8), QByteArray(8, 'G'));
}

QTEST_MAIN(TestNaming)
#include "tst_naming.moc"
