// The 16-to-24-bit expansion gives exactly Qt's colours, for every 16-bit value.
#include "storage/rgbexpand.h"

#include <QImage>
#include <QTest>

class TestRgbExpand : public QObject {
    Q_OBJECT
private slots:
    void everyValueMatchesQt();
    void keptTargetFollowsSize();
};

void TestRgbExpand::everyValueMatchesQt()
{
    QImage source(256, 256, QImage::Format_RGB16);
    for (int y = 0; y < 256; ++y) {
        auto* line = reinterpret_cast<quint16*>(source.scanLine(y));
        for (int x = 0; x < 256; ++x)
            line[x] = quint16(y * 256 + x);
    }
    QImage mine;
    expandRgb565(source, mine);
    QCOMPARE(mine, source.convertToFormat(QImage::Format_RGB888));
    QCOMPARE(mine.convertToFormat(QImage::Format_RGB32), source.convertToFormat(QImage::Format_RGB32));
}

void TestRgbExpand::keptTargetFollowsSize()
{
    QImage target;
    QImage big(480, 640, QImage::Format_RGB16);
    big.fill(Qt::red);
    expandRgb565(big, target);
    const uchar* kept = target.constBits();
    expandRgb565(big, target);
    QCOMPARE(target.constBits(), kept);
    QImage small(64, 64, QImage::Format_RGB16);
    small.fill(Qt::blue);
    expandRgb565(small, target);
    QCOMPARE(target.size(), QSize(64, 64));
    QCOMPARE(target.pixelColor(10, 10), QColor(Qt::blue));
}

QTEST_APPLESS_MAIN(TestRgbExpand)
#include "tst_rgbexpand.moc"
