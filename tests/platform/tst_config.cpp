// Settings file: reading, writing back, and the failure paths that must not lose settings.
#include "platform/config.h"
#include "support/syncspy.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

class TestConfig : public QObject {
    Q_OBJECT

private:
    QTemporaryDir dir;
    QString confPath(const QString& name = QStringLiteral("Test")) const
    {
        return dir.path() + QStringLiteral("/xdg/") + name + QStringLiteral(".conf");
    }
    void writeFile(const QByteArray& text, const QString& name = QStringLiteral("Test"))
    {
        QDir().mkpath(dir.path() + QStringLiteral("/xdg"));
        QFile f(confPath(name));
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(text);
    }
    QByteArray readFile(const QString& name = QStringLiteral("Test")) const
    {
        QFile f(confPath(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

private slots:
    void init()
    {
        QVERIFY(dir.isValid());
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.path() + QStringLiteral("/xdg")));
        QFile::remove(confPath());
    }

    void roundTrip()
    {
        {
            Config c(QStringLiteral("Test"));
            c.setGroup(QStringLiteral("Option"));
            c.writeEntry(QStringLiteral("SaveWait"), 1500);
            c.writeEntry(QStringLiteral("Negative"), -7);
            c.writeEntry(QStringLiteral("Prefix"), QStringLiteral("Image_"));
            c.setGroup(QStringLiteral("File"));
            c.writeEntry(QStringLiteral("Serial"), 42);
        }
        QVERIFY(QFileInfo::exists(confPath()));
        Config c(QStringLiteral("Test"));
        c.setGroup(QStringLiteral("Option"));
        QCOMPARE(c.readNumEntry(QStringLiteral("SaveWait"), 0), 1500);
        QCOMPARE(c.readNumEntry(QStringLiteral("Negative"), 0), -7);
        QCOMPARE(c.readEntry(QStringLiteral("Prefix")), QStringLiteral("Image_"));
        QCOMPARE(c.readNumEntry(QStringLiteral("Serial"), -1), -1);  // other group
        c.setGroup(QStringLiteral("File"));
        QCOMPARE(c.readNumEntry(QStringLiteral("Serial"), -1), 42);
    }

    void orderAndUnknownEntriesKept()
    {
        writeFile("[Zeta]\nOther=x y\nAlpha=1\n\n[Option]\nB=2\nA=1\n[Tail]\nK=v\n");
        {
            Config c(QStringLiteral("Test"));
            c.setGroup(QStringLiteral("Option"));
            c.writeEntry(QStringLiteral("A"), 10);
            c.writeEntry(QStringLiteral("C"), 3);
        }
        QCOMPARE(readFile(), QByteArray("[Zeta]\nOther=x y\nAlpha=1\n\n[Option]\nB=2\nA=10\nC=3\n[Tail]\nK=v\n"));
    }

    // The exit write touches only the lines of the keys written (A in [Option], Serial in
    // [File]); everything else a user or another tool put in the file stays, byte for byte.
    void handEditedFileKept_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QByteArray>("after");
        QTest::newRow("comments and blank lines")
            << QByteArray("# top\n[Option]\n; note\nA=1\n\n# end\n")
            << QByteArray("# top\n[Option]\n; note\nA=2\n\n# end\n\n[File]\nSerial=7\n");
        QTest::newRow("unknown keys and groups")
            << QByteArray("[Mine]\nX=1\n[Option]\nA=1\nZ=9\n[File]\nOther=o\n")
            << QByteArray("[Mine]\nX=1\n[Option]\nA=2\nZ=9\n[File]\nOther=o\nSerial=7\n");
        QTest::newRow("lines without =")
            << QByteArray("[Option]\njust words\nA=1\n[File]\nno equals sign\n")
            << QByteArray("[Option]\njust words\nA=2\n[File]\nSerial=7\nno equals sign\n");
        QTest::newRow("new key after the group's last entry")
            << QByteArray("[File]\nNamePrefix=img\n# pictures\n\n[Option]\nA=1\n")
            << QByteArray("[File]\nNamePrefix=img\nSerial=7\n# pictures\n\n[Option]\nA=2\n");
        QTest::newRow("latin-1 byte of another key")
            << QByteArray("[File]\nNamePrefix=Bild\xe4\nSerial=1\n[Option]\nA=1\n")
            << QByteArray("[File]\nNamePrefix=Bild\xe4\nSerial=7\n[Option]\nA=2\n");
        QTest::newRow("control bytes in another line")
            << QByteArray("[Option]\nA=1\nB=\x01\x02\n")
            << QByteArray("[Option]\nA=2\nB=\x01\x02\n\n[File]\nSerial=7\n");
        QTest::newRow("spacing and CRLF")
            << QByteArray("[Option]\r\n  A = 1  \r\n[File]\r\nSerial\t=\t1\r\n")
            << QByteArray("[Option]\r\n  A = 2\r\n[File]\r\nSerial\t=\t7\r\n");
        QTest::newRow("key twice: the line read is replaced")
            << QByteArray("[Option]\nA=1\nA=5\n[File]\nSerial=1\n")
            << QByteArray("[Option]\nA=1\nA=2\n[File]\nSerial=7\n");
        QTest::newRow("group twice")
            << QByteArray("[File]\nSerial=1\n[Option]\nA=1\n[File]\nX=1\n")
            << QByteArray("[File]\nSerial=7\n[Option]\nA=2\n[File]\nX=1\n");
        QTest::newRow("keys before any group")
            << QByteArray("Top=1\n[Option]\nA=1\n")
            << QByteArray("Top=1\n[Option]\nA=2\n\n[File]\nSerial=7\n");
        QTest::newRow("no final line break")
            << QByteArray("[Option]\nA=1")
            << QByteArray("[Option]\nA=2\n\n[File]\nSerial=7\n");
        QTest::newRow("byte-order mark")
            << QByteArray("\xEF\xBB\xBF[Option]\nA=1\n")
            << QByteArray("\xEF\xBB\xBF[Option]\nA=2\n\n[File]\nSerial=7\n");
    }
    void handEditedFileKept()
    {
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, after);
        writeFile(before);
        {
            Config c(QStringLiteral("Test"));
            c.setGroup(QStringLiteral("Option"));
            c.writeEntry(QStringLiteral("A"), 2);
            c.setGroup(QStringLiteral("File"));
            c.writeEntry(QStringLiteral("Serial"), 7);
        }
        QCOMPARE(readFile(), after);
    }

    // Valid UTF-8 reads as UTF-8, anything else as Latin-1; a value written goes out as UTF-8.
    void valueEncoding_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("expected");
        QTest::newRow("utf-8") << QByteArray("Bild\xc3\xa4") << QStringLiteral("Bild\u00e4");
        QTest::newRow("latin-1") << QByteArray("Bild\xe4") << QStringLiteral("Bild\u00e4");
        QTest::newRow("utf-8 outside latin-1") << QByteArray("\xe2\x82\xac") << QStringLiteral("\u20ac");
        QTest::newRow("cut multibyte at end") << QByteArray("Bild\xc3") << QStringLiteral("Bild\u00c3");
        QTest::newRow("overlong slash") << QByteArray("\xc0\xaf") << QStringLiteral("\u00c0\u00af");
        QTest::newRow("lone continuation") << QByteArray("a\x80z") << QStringLiteral("a\u0080z");
    }
    void valueEncoding()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, expected);
        writeFile("[File]\nNamePrefix=" + bytes + "\nSerial=1\n");
        {
            Config c(QStringLiteral("Test"));
            c.setGroup(QStringLiteral("File"));
            QCOMPARE(c.readEntry(QStringLiteral("NamePrefix")), expected);
            c.writeEntry(QStringLiteral("Serial"), 2);
        }
        QCOMPARE(readFile(), "[File]\nNamePrefix=" + bytes + "\nSerial=2\n");  // not re-encoded
        {
            Config c(QStringLiteral("Test"));
            c.setGroup(QStringLiteral("File"));
            c.writeEntry(QStringLiteral("NamePrefix"), c.readEntry(QStringLiteral("NamePrefix")));
        }
        QCOMPARE(readFile(), "[File]\nNamePrefix=" + expected.toUtf8() + "\nSerial=2\n");
    }

    // A file the reader refused is neither read nor replaced.
    void refusedFileUntouched_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("over the size limit") << QStringLiteral("oversize");
        QTest::newRow("fifo") << QStringLiteral("fifo");
    }
    void refusedFileUntouched()
    {
        QFETCH(QString, kind);
        const QByteArray path = QFile::encodeName(confPath());
        QByteArray content;
        if (kind == QLatin1String("fifo")) {
            QDir().mkpath(dir.path() + QStringLiteral("/xdg"));
            QCOMPARE(::mkfifo(path.constData(), 0600), 0);
        } else {
            content = "[Option]\nA=1\n" + QByteArray((1 << 20) - 12, '#');
            writeFile(content);
        }
        struct stat before = {};
        QCOMPARE(::lstat(path.constData(), &before), 0);
        {
            Config c(QStringLiteral("Test"));
            c.setGroup(QStringLiteral("Option"));
            QCOMPARE(c.readNumEntry(QStringLiteral("A"), 5), 5);
            c.writeEntry(QStringLiteral("A"), 2);
        }
        struct stat after = {};
        QCOMPARE(::lstat(path.constData(), &after), 0);
        QCOMPARE(after.st_ino, before.st_ino);
        QCOMPARE(after.st_mode, before.st_mode);
        if (!content.isEmpty())
            QVERIFY(readFile() == content);
        QCOMPARE(QDir(dir.path() + QStringLiteral("/xdg")).entryList(QDir::Files | QDir::System),
                 QStringList{"Test.conf"});
        QVERIFY(QFile::remove(confPath()));
    }

    void numbers_data()
    {
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<int>("expected");
        QTest::newRow("plain") << QByteArray("123") << 123;
        QTest::newRow("plus sign") << QByteArray("+5") << 5;
        QTest::newRow("minus sign") << QByteArray("-5") << -5;
        QTest::newRow("blanks around") << QByteArray("  77 \t") << 77;
        QTest::newRow("int max") << QByteArray("2147483647") << 2147483647;
        QTest::newRow("int min") << QByteArray("-2147483648") << int(-2147483647 - 1);
        QTest::newRow("above int max") << QByteArray("2147483648") << -99;
        QTest::newRow("huge") << QByteArray("99999999999999999999999") << -99;
        QTest::newRow("empty") << QByteArray("") << -99;
        QTest::newRow("word") << QByteArray("abc") << -99;
        QTest::newRow("trailing junk") << QByteArray("12abc") << -99;
        QTest::newRow("hex") << QByteArray("0x10") << -99;
        QTest::newRow("float") << QByteArray("1.5") << -99;
        QTest::newRow("exponent") << QByteArray("1e3") << -99;
        QTest::newRow("sign only") << QByteArray("-") << -99;
        QTest::newRow("inner blank") << QByteArray("1 2") << -99;
    }
    void numbers()
    {
        QFETCH(QByteArray, value);
        QFETCH(int, expected);
        writeFile("[Option]\nN=" + value + "\n");
        Config c(QStringLiteral("Test"));
        c.setGroup(QStringLiteral("Option"));
        QCOMPARE(c.readNumEntry(QStringLiteral("N"), -99), expected);
        QCOMPARE(c.readNumEntry(QStringLiteral("Missing"), -98), -98);
    }

    void hasKeyPerGroup()
    {
        writeFile("[Option]\nNoCheckSDWP=\n[File]\nSerial=1\n");
        Config c(QStringLiteral("Test"));
        c.setGroup(QStringLiteral("Option"));
        QVERIFY(c.hasKey(QStringLiteral("NoCheckSDWP")));  // empty value still a key
        QVERIFY(!c.hasKey(QStringLiteral("Serial")));
        c.setGroup(QStringLiteral("File"));
        QVERIFY(c.hasKey(QStringLiteral("Serial")));
        QVERIFY(!c.hasKey(QStringLiteral("NoCheckSDWP")));
        c.setGroup(QStringLiteral("Nowhere"));
        QVERIFY(!c.hasKey(QStringLiteral("Serial")));
    }

    void notRewrittenWithoutWrite()
    {
        writeFile("[Option]\nA = 1\n#comment\n");
        struct stat before = {};
        QCOMPARE(::stat(QFile::encodeName(confPath()).constData(), &before), 0);
        {
            Config c(QStringLiteral("Test"));
            c.setGroup(QStringLiteral("Option"));
            QCOMPARE(c.readNumEntry(QStringLiteral("A")), 1);
        }
        struct stat after = {};
        QCOMPARE(::stat(QFile::encodeName(confPath()).constData(), &after), 0);
        QCOMPARE(after.st_ino, before.st_ino);
        QCOMPARE(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
        QCOMPARE(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
        QCOMPARE(readFile(), QByteArray("[Option]\nA = 1\n#comment\n"));
    }

    void writeReplacesFileAtomically()
    {
        writeFile("[Option]\nA=1\n");
        QCOMPARE(::chmod(QFile::encodeName(confPath()).constData(), 0644), 0);
        struct stat before = {};
        QCOMPARE(::stat(QFile::encodeName(confPath()).constData(), &before), 0);
        // Keep the old inode alive so the new file cannot reuse its number.
        QFile old(confPath());
        QVERIFY(old.open(QIODevice::ReadOnly));
        {
            // The new file's name is on the medium too: its folder synced once it is in place.
            syncspy::Watch watch([this] { return readFile(); });
            {
                Config c(QStringLiteral("Test"));
                c.setGroup(QStringLiteral("Option"));
                c.writeEntry(QStringLiteral("A"), 2);
            }
            QVERIFY(!watch.syncs().isEmpty());
            QCOMPARE(watch.syncs().last().folder,
                     QFile::encodeName(QFileInfo(dir.path() + QStringLiteral("/xdg")).canonicalFilePath()));
            QCOMPARE(watch.syncs().last().seen, QByteArray("[Option]\nA=2\n"));
        }
        struct stat after = {};
        QCOMPARE(::stat(QFile::encodeName(confPath()).constData(), &after), 0);
        QVERIFY(after.st_ino != before.st_ino);
        QCOMPARE(after.st_mode & 07777, mode_t(0600));  // private, whatever the old file was
        QCOMPARE(old.readAll(), QByteArray("[Option]\nA=1\n"));  // never written in place
        QCOMPARE(readFile(), QByteArray("[Option]\nA=2\n"));
        QCOMPARE(QDir(dir.path() + QStringLiteral("/xdg")).entryList(QDir::Files), QStringList{"Test.conf"});
    }

    void directoryInPlaceOfFile()
    {
        QVERIFY(QDir().mkpath(confPath()));
        {
            Config c(QStringLiteral("Test"));
            c.setGroup(QStringLiteral("Option"));
            QCOMPARE(c.readNumEntry(QStringLiteral("A"), 5), 5);
            c.writeEntry(QStringLiteral("A"), 2);
        }  // the write fails; nothing may crash
        QVERIFY(QFileInfo(confPath()).isDir());
        QVERIFY(QDir().rmdir(confPath()));
    }

    void unwritableFolderKeepsOldContent()
    {
        writeFile("[Option]\nA=1\n");
        const QString folder = dir.path() + QStringLiteral("/xdg");
        QVERIFY(QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner
                                                  | QFileDevice::ReadOther | QFileDevice::ExeOther));
        auto writeTwo = [] {
            Config c(QStringLiteral("Test"));
            c.setGroup(QStringLiteral("Option"));
            c.writeEntry(QStringLiteral("A"), 2);
        };
        if (::geteuid() == 0) {
            // Root writes anywhere: write as an unprivileged user in a child process.
            QVERIFY(QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                                         | QFileDevice::ExeOwner | QFileDevice::ExeOther));
            const pid_t pid = ::fork();
            QVERIFY(pid >= 0);
            if (pid == 0) {
                if (::setgid(65534) != 0 || ::setuid(65534) != 0)
                    ::_exit(3);
                writeTwo();
                ::_exit(0);
            }
            int status = 0;
            QCOMPARE(::waitpid(pid, &status, 0), pid);
            QVERIFY(WIFEXITED(status));
            QCOMPARE(WEXITSTATUS(status), 0);
        } else {
            writeTwo();
        }
        QVERIFY(QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
        QCOMPARE(readFile(), QByteArray("[Option]\nA=1\n"));
    }

    void unreadableFileReadsEmpty()
    {
        if (::geteuid() == 0)
            QSKIP("root reads files without read permission");
        writeFile("[Option]\nA=1\n");
        QVERIFY(QFile::setPermissions(confPath(), QFileDevice::WriteOwner));
        Config c(QStringLiteral("Test"));
        c.setGroup(QStringLiteral("Option"));
        QCOMPARE(c.readNumEntry(QStringLiteral("A"), 9), 9);
    }

    void createsMissingFolder()
    {
        const QString nested = dir.path() + QStringLiteral("/fresh/deeper");
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(nested));
        {
            Config c(QStringLiteral("Test"));
            c.setGroup(QStringLiteral("File"));
            c.writeEntry(QStringLiteral("Serial"), 3);
        }
        QFile f(nested + QStringLiteral("/Test.conf"));
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("[File]\nSerial=3\n"));
    }

    void longValue()
    {
        const QString value(10000, QLatin1Char('x'));
        {
            Config c(QStringLiteral("Test"));
            c.setGroup(QStringLiteral("Option"));
            c.writeEntry(QStringLiteral("Long"), value + QStringLiteral("end"));
        }
        Config c(QStringLiteral("Test"));
        c.setGroup(QStringLiteral("Option"));
        QCOMPARE(c.readEntry(QStringLiteral("Long")), value + QStringLiteral("end"));
    }

    void lineBreakInValueRefused()
    {
        {
            Config c(QStringLiteral("Test"));
            c.setGroup(QStringLiteral("Option"));
            c.writeEntry(QStringLiteral("Prefix"), QStringLiteral("ok"));
            c.writeEntry(QStringLiteral("Prefix"), QStringLiteral("x\n[File]\nSerial=9"));
            c.writeEntry(QStringLiteral("Bad=Key"), 1);
        }
        QCOMPARE(readFile(), QByteArray("[Option]\nPrefix=ok\n"));
    }

    void binaryJunk()
    {
        QByteArray junk;
        for (int i = 0; i < 4096; ++i)
            junk += char((i * 7919 + 13) % 256);
        junk += QByteArray("\0[Option]\0\nA=\x01\x02\n", 16);
        writeFile(junk + "\n[Option]\nGood=4\n");
        Config c(QStringLiteral("Test"));
        c.setGroup(QStringLiteral("Option"));
        QCOMPARE(c.readNumEntry(QStringLiteral("A"), 6), 6);
        QCOMPARE(c.readNumEntry(QStringLiteral("Good"), 6), 4);
    }

    void missingFile()
    {
        {
            Config c(QStringLiteral("Test"));
            c.setGroup(QStringLiteral("Option"));
            QVERIFY(!c.hasKey(QStringLiteral("A")));
            QCOMPARE(c.readEntry(QStringLiteral("A"), QStringLiteral("d")), QStringLiteral("d"));
        }
        QVERIFY(!QFileInfo::exists(confPath()));  // reading alone creates nothing
    }

    void location_data()
    {
        QTest::addColumn<QByteArray>("xdg");
        QTest::addColumn<QByteArray>("home");
        QTest::addColumn<QString>("expected");
        QTest::newRow("xdg set") << QByteArray("/cfg") << QByteArray("/home/u") << QStringLiteral("/cfg/N.conf");
        QTest::newRow("xdg empty") << QByteArray("") << QByteArray("/home/u") << QStringLiteral("/home/u/.config/N.conf");
        QTest::newRow("xdg relative") << QByteArray("rel") << QByteArray("/home/u") << QStringLiteral("/home/u/.config/N.conf");
        QTest::newRow("neither") << QByteArray("") << QByteArray("") << QString();
    }
    void location()
    {
        QFETCH(QByteArray, xdg);
        QFETCH(QByteArray, home);
        QFETCH(QString, expected);
        const QByteArray savedHome = qgetenv("HOME");
        qputenv("XDG_CONFIG_HOME", xdg);
        qputenv("HOME", home);
        const QString path = Config::filePath(QStringLiteral("N"));
        qputenv("HOME", savedHome);
        QCOMPARE(path, expected);
        QCOMPARE(Config::filePath(QStringLiteral("../N")), QString());
    }

    void homeFallbackReadsAndWrites()
    {
        const QByteArray savedHome = qgetenv("HOME");
        qunsetenv("XDG_CONFIG_HOME");
        qputenv("HOME", QFile::encodeName(dir.path() + QStringLiteral("/home")));
        {
            Config c(QStringLiteral("Test"));
            c.setGroup(QStringLiteral("Option"));
            c.writeEntry(QStringLiteral("A"), 8);
        }
        const bool written = QFileInfo::exists(dir.path() + QStringLiteral("/home/.config/Test.conf"));
        qputenv("HOME", savedHome);
        QVERIFY(written);
    }
};

QTEST_GUILESS_MAIN(TestConfig)
#include "tst_config.moc"
