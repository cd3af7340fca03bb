// The open() family of the preloaded device libraries: which opens carry a mode argument
// that must be passed on, as the C library's own open() decides it.
#include "tools/devices/openinterpose.h"

#include <QTest>

class TestOpenInterpose : public QObject {
    Q_OBJECT
private slots:
    void modeArgument_data()
    {
        QTest::addColumn<int>("flags");
        QTest::addColumn<bool>("mode");
        QTest::newRow("read") << int(O_RDONLY) << false;
        QTest::newRow("write, truncate") << int(O_WRONLY | O_TRUNC) << false;
        QTest::newRow("create") << int(O_WRONLY | O_CREAT) << true;
        QTest::newRow("create exclusively") << int(O_RDWR | O_CREAT | O_EXCL) << true;
        QTest::newRow("unnamed file") << int(O_WRONLY | O_TMPFILE) << true;
        // O_TMPFILE holds O_DIRECTORY's bit: a folder opened for listing passes no mode.
        QTest::newRow("folder") << int(O_RDONLY | O_DIRECTORY) << false;
        QTest::newRow("folder, close on exec") << int(O_RDONLY | O_DIRECTORY | O_CLOEXEC) << false;
    }
    void modeArgument()
    {
        QFETCH(int, flags);
        QFETCH(bool, mode);
        QCOMPARE(openTakesMode(flags) != 0, mode);
    }
};

QTEST_MAIN(TestOpenInterpose)
#include "tst_openinterpose.moc"
