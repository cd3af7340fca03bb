// The direct copy into the frame buffer: target rectangles per rotation, clipping, block
// and row copies, and that nothing is read or written outside the two buffers.
#include "viewfinder/blit.h"

#include <QTest>
#include <QVector>
#include <cstdint>

Q_DECLARE_METATYPE(QRect)

namespace {

BlitInput input(int rotation, int x, int y, int w, int h, QRect visible, int lineStep,
                int imageWidth, int imageHeight)
{
    BlitInput in;
    in.rotation = rotation;
    in.x = x;
    in.y = y;
    in.width = w;
    in.height = h;
    in.screenWidth = 240;
    in.screenHeight = 320;
    in.visible = visible;
    in.lineStep = lineStep;
    in.imageBytesPerLine = imageWidth * 2;
    in.imageHeight = imageHeight;
    return in;
}

} // namespace

class TestBlit : public QObject {
    Q_OBJECT
private slots:
    void corners_data();
    void corners();
    void workedExamples();
    void clippedToVisible();
    void unknownRotation();
    void absurdGeometryCopiesNothing_data();
    void absurdGeometryCopiesNothing();
    void copiesStayInside_data();
    void copiesStayInside();
    void pixelsLandWhereRotationSays();
};

void TestBlit::corners_data()
{
    QTest::addColumn<int>("rotation");
    QTest::addColumn<int>("x");
    QTest::addColumn<int>("y");
    QTest::addColumn<int>("w");
    QTest::addColumn<int>("h");
    QTest::addColumn<QRect>("corner");
    QTest::newRow("r0") << 0 << 10 << 20 << 100 << 50 << QRect(QPoint(10, 20), QPoint(109, 69));
    QTest::newRow("r1 square full screen") << 1 << 0 << 40 << 240 << 240
                                           << QRect(QPoint(40, 0), QPoint(279, 239));
    QTest::newRow("r1 portrait") << 1 << 0 << 0 << 240 << 320 << QRect(QPoint(0, 0), QPoint(319, 239));
    QTest::newRow("r2 square") << 2 << 0 << 40 << 240 << 240 << QRect(QPoint(0, 40), QPoint(239, 279));
    QTest::newRow("r3") << 3 << 10 << 20 << 100 << 50 << QRect(QPoint(250, 10), QPoint(299, 109));
}

void TestBlit::corners()
{
    QFETCH(int, rotation);
    QFETCH(int, x);
    QFETCH(int, y);
    QFETCH(int, w);
    QFETCH(int, h);
    QFETCH(QRect, corner);
    const BlitPlan plan = planBlit(input(rotation, x, y, w, h, QRect(0, 0, 320, 320), 640, 320, 240));
    QCOMPARE(plan.corner, corner);
}

void TestBlit::workedExamples()
{
    // Square full-screen preview in rotation 1: 240 rows of 480 bytes from offset 80.
    BlitPlan square = planBlit(input(1, 0, 40, 240, 240, QRect(0, 0, 320, 240), 640, 320, 240));
    QCOMPARE(square.target, QRect(QPoint(40, 0), QPoint(279, 239)));
    QCOMPARE(square.rowBytes, 480);
    QCOMPARE(square.rows, 240);
    QCOMPARE(square.destination, ptrdiff_t(80));
    QCOMPARE(square.source, ptrdiff_t(0));
    QVERIFY(!square.block);

    // Portrait full-screen preview: one block of the whole 153600-byte picture.
    BlitPlan portrait = planBlit(input(1, 0, 0, 240, 320, QRect(0, 0, 320, 240), 640, 320, 240));
    QCOMPARE(portrait.rowBytes, 640);
    QCOMPARE(portrait.rows, 240);
    QVERIFY(portrait.block);
    QCOMPARE(portrait.rows * portrait.rowBytes, 153600);
}

void TestBlit::clippedToVisible()
{
    // Only the lower-right part of the widget is visible: the source skips what is cut.
    const QRect visible(QPoint(100, 50), QPoint(319, 239));
    BlitPlan plan = planBlit(input(1, 0, 40, 240, 240, visible, 640, 320, 240));
    QCOMPARE(plan.target, QRect(QPoint(100, 50), QPoint(279, 239)));
    QCOMPARE(plan.destination, ptrdiff_t(2 * 100 + 640 * 50));
    QCOMPARE(plan.source, ptrdiff_t(2 * (100 - 40) + 640 * 50));
    QCOMPARE(plan.rowBytes, 2 * 180);
    QCOMPARE(plan.rows, 190);

    BlitPlan outside = planBlit(input(1, 0, 40, 240, 240, QRect(300, 0, 20, 10), 640, 320, 240));
    QVERIFY(outside.empty());
}

void TestBlit::unknownRotation()
{
    QVERIFY(planBlit(input(4, 0, 0, 240, 240, QRect(0, 0, 320, 240), 640, 320, 240)).empty());
    QVERIFY(planBlit(input(-1, 0, 0, 240, 240, QRect(0, 0, 320, 240), 640, 320, 240)).empty());
}

void TestBlit::absurdGeometryCopiesNothing_data()
{
    QTest::addColumn<int>("x");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("lineStep");
    QTest::newRow("position near INT_MAX") << 0x7ffffff0 << 240 << 640;
    QTest::newRow("width near INT_MIN") << 0 << int(0x80000010) << 640;
    QTest::newRow("negative line step") << 0 << 240 << -640;
}

void TestBlit::absurdGeometryCopiesNothing()
{
    QFETCH(int, x);
    QFETCH(int, width);
    QFETCH(int, lineStep);
    // Found by fuzzing: sums of such values overflowed before the clip.
    const BlitPlan plan = planBlit(input(1, x, 0, width, 240, QRect(0, 0, 320, 240), lineStep, 320, 240));
    QVERIFY(plan.empty());
}

void TestBlit::copiesStayInside_data()
{
    QTest::addColumn<int>("rotation");
    QTest::addColumn<int>("x");
    QTest::addColumn<int>("y");
    QTest::addColumn<int>("w");
    QTest::addColumn<int>("h");
    QTest::addColumn<int>("imageWidth");
    QTest::addColumn<int>("imageHeight");
    // Rotations 0 and 2 with a portrait preview: 320 rows would run past a 240-row image.
    QTest::newRow("r0 portrait") << 0 << 0 << 0 << 240 << 320 << 320 << 240;
    QTest::newRow("r2 portrait") << 2 << 0 << 0 << 240 << 320 << 320 << 240;
    QTest::newRow("r0 landscape in 240x320 image") << 0 << 0 << 0 << 240 << 160 << 240 << 320;
    QTest::newRow("r1 window portrait") << 1 << 60 << 0 << 120 << 160 << 320 << 240;
    QTest::newRow("r3 offset") << 3 << 5 << 7 << 240 << 240 << 320 << 240;
    QTest::newRow("r1 negative centring") << 1 << -10 << -20 << 240 << 240 << 320 << 240;
    QTest::newRow("r0 image narrower than target") << 0 << 0 << 0 << 240 << 240 << 100 << 100;
}

void TestBlit::copiesStayInside()
{
    QFETCH(int, rotation);
    QFETCH(int, x);
    QFETCH(int, y);
    QFETCH(int, w);
    QFETCH(int, h);
    QFETCH(int, imageWidth);
    QFETCH(int, imageHeight);
    const bool sideways = rotation & 1;
    const int fbWidth = sideways ? 320 : 240;
    const int fbHeight = sideways ? 240 : 320;
    const int lineStep = fbWidth * 2;
    const QRect visible(0, 0, fbWidth, fbHeight);
    const BlitPlan plan = planBlit(input(rotation, x, y, w, h, visible, lineStep, imageWidth,
                                         imageHeight));

    // Guard bytes on both sides of both buffers catch any stray access.
    const int guard = 4096;
    QVector<uint8_t> fb(size_t(lineStep) * fbHeight + 2 * guard, 0xAA);
    QVector<uint8_t> image(size_t(imageWidth) * 2 * imageHeight + 2 * guard, 0x55);
    std::fill(image.begin() + guard, image.end() - guard, 0x11);
    runBlit(plan, fb.data() + guard, image.data() + guard);

    for (int i = 0; i < guard; ++i) {
        QCOMPARE(fb[i], uint8_t(0xAA));
        QCOMPARE(fb[fb.size() - 1 - i], uint8_t(0xAA));
    }
    // Every byte written lies inside T; the copy never reads a guard byte (0x55).
    for (int py = 0; py < fbHeight; ++py) {
        for (int px = 0; px < fbWidth; ++px) {
            const uint8_t b = fb[guard + py * lineStep + 2 * px];
            if (b == 0xAA)
                continue;
            QVERIFY2(plan.target.contains(px, py), qPrintable(QString("wrote %1,%2").arg(px).arg(py)));
            QCOMPARE(b, uint8_t(0x11));
        }
    }
    QVERIFY(plan.rows <= imageHeight);
}

void TestBlit::pixelsLandWhereRotationSays()
{
    // A frame delivered sideways (H wide, W high) shows upright in rotation 1: the image's
    // pixel (i, j) is the logical pixel (W - 1 - j, i) of the preview.
    const int w = 240, h = 240;
    QVector<uint16_t> image(320 * 240, 0);
    image[0 * 320 + 0] = 0x1111;       // image top-left: logical top-right of the preview
    image[(w - 1) * 320 + 0] = 0x2222; // image bottom-left: logical top-left
    QVector<uint16_t> fb(320 * 240, 0);
    const BlitPlan plan = planBlit(input(1, 0, 40, w, h, QRect(0, 0, 320, 240), 640, 320, 240));
    runBlit(plan, reinterpret_cast<uint8_t*>(fb.data()), reinterpret_cast<const uint8_t*>(image.data()));
    // Logical (x, y) is physical (y, 239 - x) in rotation 1 on a 240-wide screen.
    auto logical = [&](int lx, int ly) { return fb[(239 - lx) * 320 + ly]; };
    QCOMPARE(logical(239, 40), uint16_t(0x1111));
    QCOMPARE(logical(0, 40), uint16_t(0x2222));
}

QTEST_APPLESS_MAIN(TestBlit)
#include "tst_blit.moc"
