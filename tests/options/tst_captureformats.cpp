// The packed capture format table against its documented values, field by field, and the
// option rules that search it.
#include "options/captureformats.h"
#include "options/optionrules.h"

#include <QTest>

class TestCaptureFormats : public QObject {
    Q_OBJECT
private slots:
    void fields_data();
    void fields();
    void packedLayout();
    void nameLists_data();
    void nameLists();
    void previewEntriesExist();
    void resolutionSearch_data();
    void resolutionSearch();
    void zoomRule_data();
    void zoomRule();
};

void TestCaptureFormats::fields_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("window");
    QTest::addColumn<int>("full");
    QTest::addColumn<int>("maxZoom");
    QTest::addColumn<bool>("allowed");
    QTest::addColumn<int>("normal");
    QTest::addColumn<int>("fine");
    struct Row { int w, h, mode, win, full, zoom; bool allowed; int normal, fine; };
    const Row rows[] = {
        {480, 640, 1, 7, 3, 0, true, 25, 90}, {480, 480, 2, 6, 4, 0, true, 21, 74},
        {480, 320, 0, 5, 5, 0, false, 15, 52}, {240, 320, 1, 7, 3, 1, true, 10, 33},
        {240, 240, 2, 6, 4, 1, true, 9, 25}, {240, 160, 0, 5, 5, 1, false, 6, 18},
        {160, 160, 2, 6, 4, 1, true, 5, 13}, {120, 160, 1, 7, 3, 2, true, 4, 11},
        {120, 80, 0, 5, 5, 2, false, 3, 7}, {80, 80, 2, 6, 4, 2, true, 2, 5},
        {256, 256, 2, 6, 4, 0, true, 9, 28}, {128, 128, 2, 6, 4, 1, true, 4, 10},
        {64, 64, 2, 6, 4, 2, true, 2, 4},
    };
    int i = 0;
    for (const Row& r : rows) {
        QTest::addRow("%dx%d", r.w, r.h) << i++ << r.w << r.h << r.mode << r.win << r.full
                                        << r.zoom << r.allowed << r.normal << r.fine;
    }
}

void TestCaptureFormats::fields()
{
    QFETCH(int, index);
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(int, mode);
    QFETCH(int, window);
    QFETCH(int, full);
    QFETCH(int, maxZoom);
    QFETCH(bool, allowed);
    QFETCH(int, normal);
    QFETCH(int, fine);
    const CaptureFormat& f = captureFormats[index];
    QCOMPARE(int(f.width), width);
    QCOMPARE(int(f.height), height);
    QCOMPARE(f.displayMode(), mode);
    QCOMPARE(f.windowPreview(), window);
    QCOMPARE(f.fullScreenPreview(), full);
    QCOMPARE(f.maxZoom(), maxZoom);
    QCOMPARE(f.fullScreenAllowed(), allowed);
    QCOMPARE(f.normalSizeKiB(), normal);
    QCOMPARE(f.fineSizeKiB(), fine);
    QVERIFY2(f.fineSizeKiB() > f.normalSizeKiB(), "Fine pictures are larger");
    QCOMPARE(f.attributes >> 31, 0u);
}

void TestCaptureFormats::packedLayout()
{
    // Each field in its own bits: a stored table must not depend on the accessors alone.
    QCOMPARE(packFormatAttributes(31, 0, 0, 0, 0, 0, 0), 0x1fu);
    QCOMPARE(packFormatAttributes(0, 31, 0, 0, 0, 0, 0), 0x3e0u);
    QCOMPARE(packFormatAttributes(0, 0, 3, 0, 0, 0, 0), 0xc00u);
    QCOMPARE(packFormatAttributes(0, 0, 0, 3, 0, 0, 0), 0x3000u);
    QCOMPARE(packFormatAttributes(0, 0, 0, 0, 1, 0, 0), 0x4000u);
    QCOMPARE(packFormatAttributes(0, 0, 0, 0, 0, 255, 0), 0x7f8000u);
    QCOMPARE(packFormatAttributes(0, 0, 0, 0, 0, 0, 255), 0x7f800000u);
    // 480x640: preview 7 and 3, zoom 0, Portrait, full screen, 25 and 90 KiB.
    QCOMPARE(captureFormats[0].attributes, 7u | 3u << 5 | 1u << 12 | 1u << 14 | 25u << 15 | 90u << 23);
}

void TestCaptureFormats::nameLists_data()
{
    QTest::addColumn<QByteArray>("list");
    QTest::addColumn<int>("index");
    QTest::addColumn<QByteArray>("name");
    QTest::newRow("mode 0") << QByteArray("d") << 0 << QByteArray("Landscape");
    QTest::newRow("mode 2") << QByteArray("d") << 2 << QByteArray("Square");
    QTest::newRow("format 0") << QByteArray("f") << 0 << QByteArray("480x640");
    QTest::newRow("format 8") << QByteArray("f") << 8 << QByteArray("120x80");
    QTest::newRow("format 9") << QByteArray("f") << 9 << QByteArray("80x80");
    QTest::newRow("format 11") << QByteArray("f") << 11 << QByteArray("128x128");
    QTest::newRow("format 12") << QByteArray("f") << 12 << QByteArray("64x64");
    QTest::newRow("quality 1") << QByteArray("q") << 1 << QByteArray("Fine");
    QTest::newRow("mirror 1") << QByteArray("m") << 1 << QByteArray("camera/CameraR.png");
    QTest::newRow("direction 1") << QByteArray("r") << 1 << QByteArray("back");
}

void TestCaptureFormats::nameLists()
{
    QFETCH(QByteArray, list);
    QFETCH(int, index);
    QFETCH(QByteArray, name);
    const char* lists[] = {displayModeNames, formatNames, qualityNames, mirrorIconNames,
                           directionIconNames};
    const int which = QByteArray("dfqmr").indexOf(list);
    QCOMPARE(QByteArray(listEntry(lists[which], index)), name);
}

void TestCaptureFormats::previewEntriesExist()
{
    for (int i = 0; i < captureFormatCount; ++i) {
        const CaptureFormat& f = captureFormats[i];
        QVERIFY(f.windowPreview() < captureFormatCount);
        QVERIFY(f.fullScreenPreview() < captureFormatCount);
        // The window's viewfinder is 240x160.
        QVERIFY(captureFormats[f.windowPreview()].width <= 240);
        QVERIFY(captureFormats[f.windowPreview()].height <= 160);
        // Every format of a window preview family shares its display mode.
        QCOMPARE(captureFormats[f.windowPreview()].displayMode(), f.displayMode());
    }
    QCOMPARE(mirrorModeBits[0], 0);
    QCOMPARE(mirrorModeBits[1], 3);
}

// The option rules alone, without a window: the wraps and searches at their edges.
void TestCaptureFormats::resolutionSearch_data()
{
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("dispMode");
    QTest::addColumn<int>("resolutionMax");
    QTest::addColumn<int>("found");
    QTest::newRow("Landscape from 0") << 0 << int(Landscape) << 8 << 2;
    QTest::newRow("Portrait past the last wraps to 0") << 8 << int(Portrait) << 8 << 0;
    QTest::newRow("below 0 starts at the last offered") << -1 << int(Portrait) << 8 << 7;
    QTest::newRow("Square from 7 wraps round to 1") << 7 << int(Square) << 7 << 1;
    QTest::newRow("none of the mode among the offered: the start") << 1 << int(Landscape) << 2 << 1;
    QTest::newRow("every format, Square from 11") << 11 << int(Square) << 13 << 11;
    QTest::newRow("every format, Square after 12 wraps to 1") << 13 << int(Square) << 13 << 1;
}

void TestCaptureFormats::resolutionSearch()
{
    QFETCH(int, start);
    QFETCH(int, dispMode);
    QFETCH(int, resolutionMax);
    QFETCH(int, found);
    QCOMPARE(findResolution(start, dispMode, resolutionMax), found);
}

void TestCaptureFormats::zoomRule_data()
{
    QTest::addColumn<int>("level");
    QTest::addColumn<int>("resolution");
    QTest::addColumn<bool>("zoomAny");
    QTest::addColumn<int>("zoom");
    QTest::addColumn<int>("movesTo");
    QTest::newRow("-1 takes the maximum") << -1 << 7 << false << 2 << -1;
    QTest::newRow("above the maximum: off") << 3 << 7 << false << 0 << -1;
    QTest::newRow("480x640 cannot zoom") << 1 << 0 << false << 0 << -1;
    QTest::newRow("with Z: 480x640 moves to 240x320") << 1 << 0 << true << 1 << 3;
    QTest::newRow("with Z: 480x640 at 2 moves to 120x160") << 2 << 0 << true << 2 << 7;
    QTest::newRow("with Z: a format that zooms does not move") << 2 << 3 << true << 0 << -1;
}

void TestCaptureFormats::zoomRule()
{
    QFETCH(int, level);
    QFETCH(int, resolution);
    QFETCH(bool, zoomAny);
    QFETCH(int, zoom);
    QFETCH(int, movesTo);
    const ZoomChoice choice = settleZoom(level, resolution, 8, zoomAny);
    QCOMPARE(choice.zoom, zoom);
    QCOMPARE(choice.resolution, movesTo);
}

QTEST_APPLESS_MAIN(TestCaptureFormats)
#include "tst_captureformats.moc"
