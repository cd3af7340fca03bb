// Picture names: the numbering from the stored serial, its wrap, the folders per storage,
// and base folders that do not fit their buffers.
#include "storage/naming.h"
#include "storage/storageprobe.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <cstring>

namespace {

void touch(const QString& path)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
}

// An internal storage (HOME) and a memory card folder of the test's own.
struct Storages {
    Storages()
    {
        home = dir.filePath("home");
        card = dir.filePath("card") + '/';
        QDir().mkpath(home);
        QDir().mkpath(card);
        setHome(home);
        cardPath = QFile::encodeName(card);
    }
    void setHome(const QString& path) { homePath = QFile::encodeName(path); }

    // The next picture's name on storage `index`, as the camera names it with `prefix`
    // and `suffix` (UTF-8).
    char* name(int index, char* buffer, size_t size, int* number, const char* prefix = "pic",
               const char* suffix = "jpg") const
    {
        const char* base
            = storageBasePath(index, homePath.constData(), cardPath.constData(), buffer, size);
        return makePictureName(base, index == MemoryCard, prefix, suffix, buffer, size, number);
    }

    QTemporaryDir dir;
    QString home;
    QString card;
    QByteArray homePath;
    QByteArray cardPath;
};

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
    Storages env;
    const QString folder = env.home + "/Documents/Image_Files/";
    QDir().mkpath(folder);
    for (int n = takenFrom; n <= takenTo; ++n)
        touch(folder + QString::asprintf("pic%04d.jpg", n));

    char buffer[300] = {};
    int value = serial;
    QCOMPARE(env.name(InternalStorage, buffer, sizeof buffer, &value), buffer);
    QCOMPARE(value, number);
    QCOMPARE(QFile::decodeName(buffer), folder + name);
}

void TestNaming::namesAsTheUserSetThem_data()
{
    QTest::addColumn<QByteArray>("prefix");
    QTest::addColumn<QByteArray>("suffix");
    QTest::addColumn<QString>("name");
    QTest::newRow("UTF-8 umlaut") << QByteArray("Bild\xc3\xa4") << QByteArray("jpg") << QString("Bild\u00e4" "0001.jpg");
    QTest::newRow("Latin-1 suffix") << QByteArray("pic") << QByteArray("j\xc3\xa9g") << QString("pic0001.j\u00e9g");
    QTest::newRow("outside Latin-1") << QByteArray("Bild\xe2\x82\xac") << QByteArray("jpg") << QString("Bild\u20ac" "0001.jpg");
    QTest::newRow("CJK") << QByteArray("\xe5\x86\x99\xe7\x9c\x9f") << QByteArray("jpg") << QString("\u5199\u771f" "0001.jpg");
}

// The name on disk is in the file system's encoding, with the characters the user wrote.
void TestNaming::namesAsTheUserSetThem()
{
    QFETCH(QByteArray, prefix);
    QFETCH(QByteArray, suffix);
    QFETCH(QString, name);
    Storages env;
    char buffer[300] = {};
    QVERIFY(env.name(InternalStorage, buffer, sizeof buffer, nullptr, prefix.constData(),
                     suffix.constData()));
    QCOMPARE(QFileInfo(QString::fromUtf8(buffer)).fileName(), name);
}

void TestNaming::nullNumberStartsAtOne()
{
    Storages env;
    char buffer[300] = {};
    QVERIFY(env.name(InternalStorage, buffer, sizeof buffer, nullptr));
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
    Storages env;
    const QString base = index == 0 ? env.home : env.card;
    if (folderExists)
        QDir().mkpath(base + "/Documents/Image_Files");
    char buffer[300] = {};
    int number = 0;
    QVERIFY(env.name(index, buffer, sizeof buffer, &number));
    QCOMPARE(QFile::decodeName(buffer), base + relative);
    QCOMPARE(QFileInfo(base + "/Documents/Image_Files").isDir(), folderAfter);
}

void TestNaming::folderTakenByAFile()
{
    Storages env;
    QDir().mkpath(env.home + "/Documents");
    touch(env.home + "/Documents/Image_Files");
    char buffer[300] = {};
    int number = 7;
    QVERIFY(!env.name(InternalStorage, buffer, sizeof buffer, &number));
    QCOMPARE(number, 7);
}

void TestNaming::homeUnset()
{
    Storages env;
    char buffer[100];
    QCOMPARE(QByteArray(storageBasePath(InternalStorage, nullptr, env.cardPath.constData(), buffer,
                                        sizeof buffer)),
             QByteArray("/home/"));
    QCOMPARE(QByteArray(storageBasePath(MemoryCard, nullptr, env.cardPath.constData(), buffer,
                                        sizeof buffer)),
             env.cardPath);
}

void TestNaming::specialCharactersInHome()
{
    Storages env;
    const QString home = env.dir.filePath("my home 'q' \"d\" $(touch x) ; rm -rf y\nz");
    QDir().mkpath(home);
    env.setHome(home);
    QDir::setCurrent(env.dir.path());
    char buffer[300] = {};
    QVERIFY(env.name(InternalStorage, buffer, sizeof buffer, nullptr));
    QCOMPARE(QFile::decodeName(buffer), home + "/Documents/Image_Files/pic0001.jpg");
    QVERIFY(QFileInfo(home + "/Documents/Image_Files").isDir());
    QVERIFY(!QFile::exists(env.dir.filePath("x")));
    QVERIFY(!QFile::exists(home + "/x"));
}

void TestNaming::longBaseFolders_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<bool>("named");
    QTest::newRow("99 characters") << 99 << true;
    QTest::newRow("100 characters") << 100 << true;
    QTest::newRow("250 characters: named") << 250 << true;
    QTest::newRow("280 characters: no name fits") << 280 << false;
    QTest::newRow("4000 characters") << 4000 << false;
}

void TestNaming::longBaseFolders()
{
    QFETCH(int, length);
    QFETCH(bool, named);
    Storages env;
    QString home = env.dir.path() + '/';
    while (home.size() < length)
        home += 'h';
    env.setHome(home);
    if (length < 4000)
        QDir().mkpath(home);
    char buffer[300];
    std::memset(buffer, 'X', sizeof buffer);
    char guard[8];
    std::memset(guard, 'G', sizeof guard);
    const bool made = env.name(InternalStorage, buffer, sizeof buffer, nullptr) != nullptr;
    QCOMPARE(made, named);
    if (made)
        QVERIFY(QByteArray(buffer).startsWith(QFile::encodeName(home)));
    QCOMPARE(QByteArray(guard, 8), QByteArray(8, 'G'));
}

QTEST_MAIN(TestNaming)
#include "tst_naming.moc"
