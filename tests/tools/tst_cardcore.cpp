// The card emulator's core without FUSE: commands, state, status word, frames, log lines.
#include "tools/card-emulator/core/cardcommand.h"
#include "tools/card-emulator/core/cardlog.h"
#include "tools/card-emulator/core/cardstate.h"
#include "tools/card-emulator/core/picturerenderer.h"
#include "tools/card-emulator/core/scene.h"
#include "tools/card-emulator/sources/autosource.h"
#include "tools/card-emulator/sources/sources.h"
#include "tools/card-emulator/sources/webcammode.h"

#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

using namespace card;

Q_DECLARE_METATYPE(card::Geometry)

namespace {

// A scene whose colour tells where it was sampled: red = u in 32 steps, green = v in 64.
class CoordinateScene : public Scene {
public:
    std::uint16_t colourAt(std::uint32_t u, std::uint32_t v) const override
    {
        return std::uint16_t(((u >> 11) << 11) | ((v >> 10) << 5));
    }
};

std::uint16_t pixel(const std::vector<std::uint8_t>& buf, const Geometry& g, int x, int y)
{
    std::uint16_t p;
    std::memcpy(&p, buf.data() + std::size_t(y) * g.stride + 2 * x, 2);
    return p;
}

void collect(void* context, const std::string& line)
{
    static_cast<QStringList*>(context)->append(QString::fromStdString(line));
}

void control(CardState& s, const char* text)
{
    std::vector<ControlCommand> commands;
    QVERIFY2(parseControlText(text, std::strlen(text), commands), text);
    for (const ControlCommand& c : commands)
        s.apply(c, 0);
}

WriteOutcome send(CardState& s, const char* text, std::uint64_t handle = 1, std::uint64_t now = 0)
{
    return s.write(text, std::strlen(text), handle, now);
}

// The test card as a still picture of its own size: four quadrants and an upward arrow.
FramePtr testCardPicture(int w, int h)
{
    TestCardScene scene;
    auto picture = std::make_shared<SourceFrame>();
    picture->width = w;
    picture->height = h;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x)
            picture->pixels.push_back(scene.colourAt(std::uint32_t((2 * x + 1) * 32768LL / w),
                                                     std::uint32_t((2 * y + 1) * 32768LL / h)));
    }
    return picture;
}

// The frame's pixel that shows (vx, vy) of the upright view; 'S' frames show the view
// turned a quarter turn counter-clockwise.
std::uint16_t viewPixel(const std::vector<std::uint8_t>& buf, const Geometry& g, int vx, int vy)
{
    const int viewW = g.upright ? g.width : g.height;
    return g.upright ? pixel(buf, g, vx, vy) : pixel(buf, g, vy, viewW - 1 - vx);
}

// The arrow's white on the view's middle column reaches further above the middle than
// below it when the arrow points up.
bool arrowPointsUp(const std::vector<std::uint8_t>& buf, const Geometry& g)
{
    const int viewW = g.upright ? g.width : g.height;
    const int viewH = g.upright ? g.height : g.width;
    auto white = [&](int vy) { return viewPixel(buf, g, viewW / 2, vy) == TestCardScene::white; };
    int first = viewH / 2, last = viewH / 2;
    if (!white(first))
        return false;
    while (first > 0 && white(first - 1))
        --first;
    while (last < viewH - 1 && white(last + 1))
        ++last;
    return viewH / 2 - first > last - viewH / 2;
}

constexpr std::uint16_t R = TestCardScene::red, G = TestCardScene::green,
                        B = TestCardScene::blue, Y = TestCardScene::yellow;

// A webcam stand-in: starts or not as told, delivers one frame of its colour, and fails
// when the test says so.
class FakeDevice : public FrameSource {
public:
    FakeDevice(std::string node, bool delivers, std::uint16_t colour)
        : node(std::move(node)), delivers(delivers), colour(colour) {}
    std::string describe() const override { return "v4l2:" + node; }
    bool start(std::string& error) override
    {
        if (!delivers) {
            error = "no frame";
            return false;
        }
        auto frame = std::make_shared<SourceFrame>();
        frame->width = frame->height = 2;
        frame->pixels.assign(4, colour);
        publish(frame);
        return true;
    }
    void stop() override {}
    void unplug() { fail("unplugged"); }

private:
    std::string node;
    bool delivers;
    std::uint16_t colour;
};

bool eventually(const std::function<bool()>& condition)
{
    QElapsedTimer t;
    t.start();
    while (!condition()) {
        if (t.elapsed() > 10000)
            return false;
        QThread::msleep(20);
    }
    return true;
}

}  // namespace

class TestCardCore : public QObject {
    Q_OBJECT
private slots:
    void nodeCommands_data();
    void nodeCommands();
    void controlLines_data();
    void controlLines();
    void controlTextIsAllOrNothing();
    void statusWord_data();
    void statusWord();
    void shutterClearedByB();
    void malformedKeepsGeometry();
    void injectedFaults();
    void unplugKillsOldDescriptors();
    void freezeAndMotion();
    void slowCaptureHalvesRate();
    void placement_data();
    void placement();
    void quarterPoints_data();
    void quarterPoints();
    void pictureFit_data();
    void pictureFit();
    void sourceFailureMakesCardAbsent();
    void zoomField_data();
    void zoomField();
    void rotationOrder();
    void logLines();
    void autoSourceFollowsWebcams();
    void autoSourceTriesUnchangedDevicesNowAndThen();
    void videoCaptureDevicesInNumberOrder();
    void heldFrameStaysPut();
    void webcamModeChoice_data();
    void webcamModeChoice();
};

void TestCardCore::nodeCommands_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("value");  // mode, or the geometry's width
    QTest::addColumn<QString>("reason");

    QTest::newRow("M=0") << QByteArray("M=0") << int(NodeCommand::Mode) << 0 << "";
    QTest::newRow("M=15") << QByteArray("M=15") << int(NodeCommand::Mode) << 15 << "";
    QTest::newRow("M=16 out of range") << QByteArray("M=16") << 0 << 0 << "mode";
    QTest::newRow("M=-1") << QByteArray("M=-1") << 0 << 0 << "mode";
    QTest::newRow("M= no digits") << QByteArray("M=") << 0 << 0 << "syntax";
    QTest::newRow("M alone") << QByteArray("M") << 0 << 0 << "syntax";
    QTest::newRow("M=1 newline") << QByteArray("M=1\n") << 0 << 0 << "trailing";
    QTest::newRow("M=1 NUL") << QByteArray("M=1\0", 4) << 0 << 0 << "trailing";
    QTest::newRow("M=+1") << QByteArray("M=+1") << 0 << 0 << "syntax";
    QTest::newRow("M huge") << QByteArray("M=99999999999") << 0 << 0 << "syntax";
    QTest::newRow("M=2147483647, the largest int") << QByteArray("M=2147483647") << 0 << 0 << "mode";
    QTest::newRow("M=2147483648, past the int range") << QByteArray("M=2147483648") << 0 << 0
                                                      << "syntax";
    QTest::newRow("R preview") << QByteArray("R=240,160,256,480") << int(NodeCommand::SetGeometry)
                               << 240 << "";
    QTest::newRow("S direct") << QByteArray("S=160,240,256,640") << int(NodeCommand::SetGeometry)
                              << 160 << "";
    QTest::newRow("R full buffer") << QByteArray("R=640,480,1024,1280")
                                   << int(NodeCommand::SetGeometry) << 640 << "";
    QTest::newRow("R one row past the buffer") << QByteArray("R=640,481,256,1280") << 0 << 0
                                               << "too-large";
    QTest::newRow("R huge stride") << QByteArray("R=2,2,256,2147483647") << 0 << 0
                                   << "too-large";
    QTest::newRow("R stride past the int range") << QByteArray("R=2,2,256,2147483648") << 0 << 0
                                                 << "syntax";
    QTest::newRow("R huge width") << QByteArray("R=99999999999,160,256,480") << 0 << 0
                                  << "syntax";
    QTest::newRow("R=1,2") << QByteArray("R=1,2") << 0 << 0 << "syntax";
    QTest::newRow("R negative width") << QByteArray("R=-5,10,256,480") << 0 << 0 << "size";
    QTest::newRow("R zero height") << QByteArray("R=5,0,256,480") << 0 << 0 << "size";
    QTest::newRow("R stride below row") << QByteArray("R=240,160,256,479") << 0 << 0
                                        << "stride";
    QTest::newRow("R zoom 255") << QByteArray("R=240,160,255,480") << 0 << 0 << "zoom";
    QTest::newRow("R zoom 4097") << QByteArray("R=240,160,4097,480") << 0 << 0 << "zoom";
    QTest::newRow("R trailing") << QByteArray("R=240,160,256,480x") << 0 << 0 << "trailing";
    QTest::newRow("R five numbers") << QByteArray("R=240,160,256,480,1") << 0 << 0
                                    << "trailing";
    QTest::newRow("R spaces") << QByteArray("R=240, 160,256,480") << 0 << 0 << "syntax";
    QTest::newRow("B") << QByteArray("B") << int(NodeCommand::ShutterDone) << 0 << "";
    QTest::newRow("C") << QByteArray("C") << int(NodeCommand::Clear) << 0 << "";
    QTest::newRow("BB") << QByteArray("BB") << 0 << 0 << "trailing";
    QTest::newRow("empty") << QByteArray("") << 0 << 0 << "empty";
    QTest::newRow("lower case m") << QByteArray("m=1") << 0 << 0 << "unknown";
}

void TestCardCore::nodeCommands()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, kind);
    QFETCH(int, value);
    QFETCH(QString, reason);
    const NodeCommand c = parseNodeCommand(bytes.constData(), std::size_t(bytes.size()));
    QCOMPARE(int(c.kind), kind);
    if (kind == NodeCommand::Mode)
        QCOMPARE(c.mode, value);
    if (kind == NodeCommand::SetGeometry) {
        QCOMPARE(c.geometry.width, value);
        QCOMPARE(c.geometry.upright, bytes.startsWith('R'));
    }
    if (kind == NodeCommand::Invalid)
        QCOMPARE(QString(c.reason), reason);
}

void TestCardCore::controlLines_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("value");

    QTest::newRow("shutter") << "shutter" << true << int(ControlCommand::Shutter) << 0;
    QTest::newRow("blanks and CR") << "  busy\t1 \r" << true << int(ControlCommand::Busy) << 1;
    QTest::newRow("orientation 0") << "orientation 0" << true
                                   << int(ControlCommand::Orientation) << 0;
    QTest::newRow("busy 2") << "busy 2" << false << 0 << 0;
    QTest::newRow("busy no value") << "busy" << false << 0 << 0;
    QTest::newRow("present 1x") << "present 1x" << false << 0 << 0;
    QTest::newRow("fail-reads 3") << "fail-reads 3" << true << int(ControlCommand::FailReads)
                                  << 3;
    QTest::newRow("fail-reads -1") << "fail-reads -1" << false << 0 << 0;
    QTest::newRow("short-read 0") << "short-read 0" << true << int(ControlCommand::ShortRead)
                                  << 0;
    QTest::newRow("frame-ms 10000") << "frame-ms 10000" << true << int(ControlCommand::FrameMs)
                                    << 10000;
    QTest::newRow("frame-ms 10001") << "frame-ms 10001" << false << 0 << 0;
    QTest::newRow("unplug now") << "unplug now" << false << 0 << 0;
    QTest::newRow("plug") << "plug" << true << int(ControlCommand::Plug) << 0;
    QTest::newRow("prefix of a word") << "shut" << false << 0 << 0;
    QTest::newRow("unknown") << "explode" << false << 0 << 0;
}

void TestCardCore::controlLines()
{
    QFETCH(QString, line);
    QFETCH(bool, ok);
    QFETCH(int, kind);
    QFETCH(int, value);
    const QByteArray bytes = line.toLatin1();
    ControlCommand c;
    QCOMPARE(parseControlLine(std::string_view(bytes.constData(), bytes.size()), c), ok);
    if (ok) {
        QCOMPARE(int(c.kind), kind);
        QCOMPARE(c.value, long(value));
    }
}

void TestCardCore::controlTextIsAllOrNothing()
{
    std::vector<ControlCommand> out(1);
    const char bad[] = "busy 1\nbogus\n";
    QVERIFY(!parseControlText(bad, sizeof bad - 1, out));
    QCOMPARE(out.size(), std::size_t(1));  // untouched

    const char good[] = "busy 1\n\nshutter\n";
    QVERIFY(parseControlText(good, sizeof good - 1, out));
    QCOMPARE(out.size(), std::size_t(2));
    QCOMPARE(int(out[1].kind), int(ControlCommand::Shutter));
}

void TestCardCore::statusWord_data()
{
    QTest::addColumn<QString>("commands");
    QTest::addColumn<QString>("word");
    QTest::addColumn<int>("bits");

    QTest::newRow("fresh card") << "" << "sowP" << 0x08;
    QTest::newRow("shutter") << "shutter" << "SowP" << 0x09;
    QTest::newRow("orientation") << "orientation 1" << "sOwP" << 0x0a;
    QTest::newRow("busy") << "busy 1" << "soWP" << 0x0c;
    QTest::newRow("absent") << "present 0" << "sowp" << 0x00;
    QTest::newRow("all") << "shutter\norientation 1\nbusy 1" << "SOWP" << 0x0f;
    QTest::newRow("busy and back") << "busy 1\nbusy 0" << "sowP" << 0x08;
}

void TestCardCore::statusWord()
{
    QFETCH(QString, commands);
    QFETCH(QString, word);
    QFETCH(int, bits);
    CardState s(0);
    control(s, commands.toLatin1().constData());
    std::uint64_t h = 0;
    QCOMPARE(s.open(h), 0);
    const ReadPlan plan = s.read(4, h, 0);
    QCOMPARE(plan.error, 0);
    QVERIFY(plan.status);
    QCOMPARE(QString::fromLatin1(plan.word.data(), 4), word);
    int decoded = 0;
    for (int i = 0; i < 4; ++i)
        decoded |= (plan.word[i] >= 'A' && plan.word[i] <= 'Z') << i;
    QCOMPARE(decoded, bits);
}

void TestCardCore::shutterClearedByB()
{
    CardState s(0);
    std::uint64_t h = 0;
    s.open(h);
    control(s, "shutter");
    QCOMPARE(s.read(4, h, 0).word[0], 'S');
    QCOMPARE(s.read(4, h, 0).word[0], 'S');  // stays until the application answers
    send(s, "C", h);
    QCOMPARE(s.read(4, h, 0).word[0], 'S');
    send(s, "B", h);
    QCOMPARE(s.read(4, h, 0).word[0], 's');
}

void TestCardCore::malformedKeepsGeometry()
{
    CardState s(0);
    std::uint64_t h = 0;
    s.open(h);
    QCOMPARE(send(s, "R=240,160,512,480", h).ignored, false);
    const Geometry good = s.geometry();
    for (const char* bad : {"R=1,2", "R=-5,10,256,480", "R=640,480,256,1280x", "S=641,480,256,1282",
                            "R=", "M=", "M=99"}) {
        const WriteOutcome out = send(s, bad, h);
        QCOMPARE(out.error, 0);
        QVERIFY2(out.ignored, bad);
    }
    QCOMPARE(s.geometry(), good);
    QCOMPARE(s.mode(), 0);
}

void TestCardCore::injectedFaults()
{
    CardState s(0);
    std::uint64_t h = 0;
    s.open(h);
    control(s, "fail-reads 2");
    QCOMPARE(s.read(4, h, 0).error, EIO);
    QCOMPARE(s.read(153600, h, 0).error, EIO);
    QCOMPARE(s.read(4, h, 0).error, 0);

    control(s, "short-read 2");
    ReadPlan p = s.read(4, h, 0);
    QCOMPARE(p.length, std::size_t(2));
    QVERIFY(p.status);  // the asked length decides: still the status word
    QCOMPARE(s.read(4, h, 0).length, std::size_t(4));  // once only

    control(s, "short-read 9999");
    QCOMPARE(s.read(100, h, 0).length, std::size_t(100));  // never more than asked

    control(s, "fail-writes 1");
    QCOMPARE(send(s, "M=1", h).error, EIO);
    QCOMPARE(s.mode(), 0);  // a failed write changes nothing
    QCOMPARE(send(s, "M=1", h).error, 0);
    QCOMPARE(s.mode(), 1);
}

void TestCardCore::unplugKillsOldDescriptors()
{
    CardState s(0);
    std::uint64_t old = 0;
    QCOMPARE(s.open(old), 0);
    control(s, "unplug");
    std::uint64_t h = 0;
    QCOMPARE(s.open(h), ENODEV);
    QCOMPARE(s.read(4, old, 0).error, EIO);
    QCOMPARE(send(s, "M=1", old).error, EIO);
    control(s, "plug");
    QCOMPARE(s.open(h), 0);
    QCOMPARE(s.read(4, h, 0).error, 0);
    // A descriptor of the card that was taken out stays dead.
    QCOMPARE(s.read(4, old, 0).error, EIO);
    QCOMPARE(send(s, "B", old).error, EIO);
}

void TestCardCore::freezeAndMotion()
{
    CardState s(0);
    std::uint64_t h = 0;
    s.open(h);
    send(s, "M=1", h, 1000);
    send(s, "M=0", h, 1250);  // takes the picture
    const SceneTime a = s.read(153600, h, 5000).time;
    const SceneTime b = s.read(153600, h, 9000).time;
    QCOMPARE(a.motionMs, 250u);
    QCOMPARE(b.motionMs, a.motionMs);
    QCOMPARE(b.frame, a.frame);
    send(s, "M=1", h, 10000);
    const SceneTime live = s.read(153600, h, 10100).time;
    QCOMPARE(live.motionMs, 350u);
    QCOMPARE(live.frame, a.frame + 1);
    send(s, "M=3", h, 10200);  // slow capture switched on: capture stays enabled
    QCOMPARE(s.read(153600, h, 10300).time.motionMs, 550u);
}

void TestCardCore::slowCaptureHalvesRate()
{
    CardState s(40);
    std::uint64_t h = 0;
    s.open(h);
    QCOMPARE(s.frameDelayMs(), 40);
    send(s, "M=3", h);
    QCOMPARE(s.frameDelayMs(), 80);
    send(s, "M=1", h);
    QCOMPARE(s.frameDelayMs(), 40);
}

void TestCardCore::placement_data()
{
    QTest::addColumn<Geometry>("geometry");
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("rows");  // whole rows that must be delivered

    QTest::newRow("packed") << Geometry{true, 4, 3, 256, 8} << 24 << 3;
    QTest::newRow("stride gap") << Geometry{true, 4, 3, 256, 16} << 64 << 3;
    QTest::newRow("exactly three rows") << Geometry{true, 4, 3, 256, 16} << 40 << 3;
    QTest::newRow("one byte short") << Geometry{true, 4, 3, 256, 16} << 39 << 2;
    QTest::newRow("less than a row") << Geometry{true, 4, 3, 256, 16} << 7 << 0;
    QTest::newRow("odd stride") << Geometry{true, 3, 2, 256, 7} << 20 << 2;
    QTest::newRow("S") << Geometry{false, 3, 5, 256, 10} << 50 << 5;
    QTest::newRow("default in a status-size read") << Geometry{} << 6 << 0;
    QTest::newRow("default clamped") << Geometry{} << 4800 << 10;
}

void TestCardCore::placement()
{
    QFETCH(Geometry, geometry);
    QFETCH(int, length);
    QFETCH(int, rows);
    CoordinateScene scene;
    FrameRenderer renderer(scene);
    // Guard bytes after the buffer catch any write past its end.
    std::vector<std::uint8_t> buf(std::size_t(length) + 16, 0xAA);
    renderer.render(geometry, 0, SceneTime{}, buf.data(), std::size_t(length));
    for (int i = 0; i < 16; ++i)
        QCOMPARE(int(buf[std::size_t(length) + i]), 0xAA);
    for (int b = 0; b < length; ++b) {
        const int row = b / geometry.stride;
        const int col = b % geometry.stride;
        const bool inFrame = row < rows && col < 2 * geometry.width;
        if (!inFrame) {
            QVERIFY2(buf[std::size_t(b)] == 0, qPrintable(QString("byte %1").arg(b)));
            continue;
        }
        std::uint32_t u, v;
        renderer.sceneCoordinates(geometry, 0, col / 2, row, u, v);
        if (col % 2 == 1)
            QCOMPARE(pixel(buf, geometry, col / 2, row), scene.colourAt(u, v));
    }
}

void TestCardCore::quarterPoints_data()
{
    QTest::addColumn<Geometry>("geometry");
    QTest::addColumn<int>("mode");
    // Colours at a quarter from each corner of the frame: top-left, top-right, bottom-left,
    // bottom-right.
    QTest::addColumn<QList<int>>("colours");
    // The synthetic scene, or the test card as a still picture of this size.
    QTest::addColumn<QSize>("picture");

    // Landscape, Portrait as the direct preview sends it, Square.
    const Geometry r{true, 240, 160, 256, 480};
    const Geometry s{false, 160, 240, 256, 320};
    const Geometry q{true, 240, 240, 256, 480};
    for (const QSize picture : {QSize(), QSize(300, 200), QSize(200, 300)}) {
        const QByteArray p = picture.isEmpty()
            ? QByteArray()
            : " picture " + QByteArray::number(picture.width()) + "x"
                + QByteArray::number(picture.height());
        for (int zoom : {256, 512, 1024}) {
            // At 4x a cropped picture shows little more than the arrow.
            if (zoom == 1024 && !picture.isEmpty())
                continue;
            Geometry rz = r, sz = s, qz = q;
            rz.zoom = sz.zoom = qz.zoom = zoom;
            const QByteArray z = " " + QByteArray::number(zoom) + p;
            QTest::newRow("R" + z) << rz << 1 << QList<int>{R, G, B, Y} << picture;
            QTest::newRow("R mirror" + z) << rz << 5 << QList<int>{G, R, Y, B} << picture;
            QTest::newRow("R flip" + z) << rz << 9 << QList<int>{B, Y, R, G} << picture;
            QTest::newRow("R both" + z) << rz << 13 << QList<int>{Y, B, G, R} << picture;
            // Turned counter-clockwise: the scene's right column is the frame's top row.
            QTest::newRow("S" + z) << sz << 1 << QList<int>{G, Y, R, B} << picture;
            QTest::newRow("S mirror" + z) << sz << 5 << QList<int>{R, B, G, Y} << picture;
            QTest::newRow("S flip" + z) << sz << 9 << QList<int>{Y, G, B, R} << picture;
            QTest::newRow("S both" + z) << sz << 13 << QList<int>{B, R, Y, G} << picture;
            QTest::newRow("square" + z) << qz << 1 << QList<int>{R, G, B, Y} << picture;
            QTest::newRow("square both" + z) << qz << 13 << QList<int>{Y, B, G, R} << picture;
        }
    }
}

void TestCardCore::quarterPoints()
{
    QFETCH(Geometry, geometry);
    QFETCH(int, mode);
    QFETCH(QList<int>, colours);
    QFETCH(QSize, picture);
    std::vector<std::uint8_t> buf(std::size_t(geometry.stride) * geometry.height);
    if (picture.isEmpty()) {
        TestCardScene scene;
        FrameRenderer renderer(scene);
        renderer.render(geometry, mode, SceneTime{1234, 5678}, buf.data(), buf.size());
    } else {
        PictureRenderer renderer;
        renderer.render(geometry, mode, testCardPicture(picture.width(), picture.height()), 1,
                        buf.data(), buf.size());
    }
    const int x0 = geometry.width / 4, x1 = geometry.width - 1 - geometry.width / 4;
    const int y0 = geometry.height / 4, y1 = geometry.height - 1 - geometry.height / 4;
    QCOMPARE(int(pixel(buf, geometry, x0, y0)), colours[0]);
    QCOMPARE(int(pixel(buf, geometry, x1, y0)), colours[1]);
    QCOMPARE(int(pixel(buf, geometry, x0, y1)), colours[2]);
    QCOMPARE(int(pixel(buf, geometry, x1, y1)), colours[3]);
    // Seen upright the arrow points up, unless the card flips it.
    QCOMPARE(arrowPointsUp(buf, geometry), !(mode & 8));
}

void TestCardCore::pictureFit_data()
{
    QTest::addColumn<QSize>("picture");
    QTest::addColumn<Geometry>("geometry");
    QTest::addColumn<int>("mode");
    // The picture pixels shown by the frame's first and last pixel.
    QTest::addColumn<QPoint>("first");
    QTest::addColumn<QPoint>("last");

    // Never stretched: the largest centred crop of the frame's proportions.
    QTest::newRow("wide picture, square frame")
        << QSize(400, 200) << Geometry{true, 200, 200, 256, 400} << 1 << QPoint(100, 0)
        << QPoint(299, 199);
    QTest::newRow("tall picture, landscape frame")
        << QSize(200, 400) << Geometry{true, 200, 100, 256, 400} << 1 << QPoint(0, 150)
        << QPoint(199, 249);
    // A capture as large as the picture takes every pixel of it, none enlarged.
    QTest::newRow("capture at the picture's size")
        << QSize(480, 640) << Geometry{true, 480, 640, 256, 960} << 1 << QPoint(0, 0)
        << QPoint(479, 639);
    QTest::newRow("zoom 2: the central half")
        << QSize(480, 640) << Geometry{true, 240, 320, 512, 480} << 1 << QPoint(120, 160)
        << QPoint(359, 479);
    QTest::newRow("zoom 4: the central quarter")
        << QSize(480, 640) << Geometry{true, 240, 320, 1024, 480} << 1 << QPoint(180, 240)
        << QPoint(299, 399);
    // 'S': the first row is the crop's right column, read top to bottom.
    QTest::newRow("S, wide picture")
        << QSize(400, 200) << Geometry{false, 160, 240, 256, 320} << 1 << QPoint(349, 0)
        << QPoint(50, 199);
    QTest::newRow("mirrored") << QSize(400, 200) << Geometry{true, 200, 200, 256, 400} << 5
                              << QPoint(299, 0) << QPoint(100, 199);
    QTest::newRow("flipped") << QSize(400, 200) << Geometry{true, 200, 200, 256, 400} << 9
                             << QPoint(100, 199) << QPoint(299, 0);
    QTest::newRow("one pixel") << QSize(1, 1) << Geometry{true, 240, 160, 256, 480} << 1
                               << QPoint(0, 0) << QPoint(0, 0);
}

void TestCardCore::pictureFit()
{
    QFETCH(QSize, picture);
    QFETCH(Geometry, geometry);
    QFETCH(int, mode);
    QFETCH(QPoint, first);
    QFETCH(QPoint, last);
    PictureRenderer renderer;
    QPoint p;
    renderer.pictureCoordinates(geometry, mode, picture.width(), picture.height(), 0, 0, p.rx(),
                                p.ry());
    QCOMPARE(p, first);
    renderer.pictureCoordinates(geometry, mode, picture.width(), picture.height(),
                                geometry.width - 1, geometry.height - 1, p.rx(), p.ry());
    QCOMPARE(p, last);
}

void TestCardCore::sourceFailureMakesCardAbsent()
{
    CardState s(0);
    s.setSource(false, "cannot open /dev/video7");
    QCOMPARE(QString::fromLatin1(s.statusWord().data(), 4), QString("sowp"));
    QVERIFY(s.describe().find("source error cannot open /dev/video7\n") != std::string::npos);
    s.setSource(false, "cannot open /dev/video7");  // each retry counts
    QVERIFY(s.describe().find("source-failures 2\n") != std::string::npos);
    s.setSource(true);
    QCOMPARE(QString::fromLatin1(s.statusWord().data(), 4), QString("sowP"));
    // A card taken out stays absent whatever its source does.
    control(s, "present 0");
    QCOMPARE(QString::fromLatin1(s.statusWord().data(), 4), QString("sowp"));
}

void TestCardCore::zoomField_data()
{
    QTest::addColumn<int>("zoom");
    QTest::addColumn<double>("left");  // the scene coordinate the first column shows

    QTest::newRow("whole field") << 256 << 0.0;
    QTest::newRow("central half") << 512 << 0.25;
    QTest::newRow("central quarter") << 1024 << 0.375;
}

void TestCardCore::zoomField()
{
    QFETCH(int, zoom);
    QFETCH(double, left);
    CoordinateScene scene;
    FrameRenderer renderer(scene);
    const Geometry g{true, 320, 240, zoom, 640};
    std::uint32_t u0, v0, u1, v1;
    renderer.sceneCoordinates(g, 0, 0, 0, u0, v0);
    renderer.sceneCoordinates(g, 0, g.width - 1, g.height - 1, u1, v1);
    const double tolerance = 1.0 / g.width;
    QVERIFY2(qAbs(u0 / 65536.0 - left) < tolerance, qPrintable(QString::number(u0 / 65536.0)));
    QVERIFY(qAbs(v0 / 65536.0 - left) < tolerance);
    QVERIFY(qAbs(u1 / 65536.0 - (1.0 - left)) < tolerance);
    QVERIFY(qAbs(v1 / 65536.0 - (1.0 - left)) < tolerance);
}

void TestCardCore::rotationOrder()
{
    // 'S': frame row 0 is the scene's rightmost column read top to bottom.
    CoordinateScene scene;
    FrameRenderer renderer(scene);
    const Geometry g{false, 100, 60, 256, 200};  // the scene seen is 60 wide, 100 high
    std::uint32_t u, v, uPrev = 0, vPrev = 0;
    for (int x = 0; x < g.width; ++x) {
        renderer.sceneCoordinates(g, 0, x, 0, u, v);
        QVERIFY(u > 65536 - 65536 / 60);  // the rightmost scene column
        if (x > 0) {
            QCOMPARE(u, uPrev);
            QVERIFY(v > vPrev);  // top to bottom
        }
        uPrev = u;
        vPrev = v;
    }
    renderer.sceneCoordinates(g, 0, 0, g.height - 1, u, v);
    QVERIFY(u < 65536 / 60);  // the last row is the leftmost column
}

void TestCardCore::logLines()
{
    QStringList lines;
    CardLog log;
    log.setSink(collect, &lines);
    CardState s(0);
    std::uint64_t h = 0;
    log.open(s.open(h));
    const char* cmds[] = {"M=1", "R=1,2", "A B"};
    for (const char* c : cmds)
        log.write(c, std::strlen(c), send(s, c, h));
    control(s, "fail-writes 1");
    log.write("B", 1, send(s, "B", h));
    const ReadPlan p = s.read(4, h, 0);
    log.read(4, p.length, p.error);
    log.read(153600, 0, EIO);
    log.ioctl("ioctl", 0x5680, 2, 0);
    log.ioctl("ioctl", 0x5681, 0, ENOTTY);
    const char ctl[] = "busy  1\nshutter\n";
    log.control(ctl, sizeof ctl - 1, true);
    log.control("bogus\n", 6, false);
    log.source(false, "Internal data stream error.\nmore");
    log.source(true, "");
    control(s, "unplug");
    log.open(s.open(h));
    log.close();
    QCOMPARE(lines, QStringList({"open", "write M=1", "write R=1,2 ignored syntax",
                                 "write A\\x20B ignored unknown", "write B EIO", "read 4 4",
                                 "read 153600 EIO", "ioctl 0x5680 2", "ioctl 0x5681 0 ENOTTY",
                                 "control busy 1", "control shutter", "control bogus EINVAL",
                                 "source error Internal data stream error. more", "source ok",
                                 "open ENODEV", "close"}));
}

// --source auto: the test card until a webcam delivers, the first that does in number
// order, and the test card again when it goes away.
void TestCardCore::autoSourceFollowsWebcams()
{
    std::mutex lock;
    std::vector<std::string> devices;
    std::map<std::string, bool> delivers{{"/dev/video0", false}, {"/dev/video1", true},
                                         {"/dev/video2", true}};
    std::map<std::string, FakeDevice*> made;
    QStringList chosen;
    const auto list = [&] {
        std::lock_guard<std::mutex> g(lock);
        return devices;
    };
    const auto make = [&](const std::string& node) -> std::unique_ptr<FrameSource> {
        auto device = std::make_unique<FakeDevice>(node, delivers[node],
                                                   node == "/dev/video1" ? 0x1111 : 0x2222);
        std::lock_guard<std::mutex> g(lock);
        made[node] = device.get();
        return device;
    };
    const auto chose = [&](const std::string& which) {
        std::lock_guard<std::mutex> g(lock);
        chosen << QString::fromStdString(which);
    };
    const auto chosenList = [&] {
        std::lock_guard<std::mutex> g(lock);
        return chosen;
    };
    AutoSource source(list, make, chose);
    std::string error;
    QVERIFY(source.start(error));
    QCOMPARE(chosenList(), QStringList{"pattern"});
    QVERIFY(!source.hasFrames());

    {
        std::lock_guard<std::mutex> g(lock);
        devices = {"/dev/video0", "/dev/video1", "/dev/video2"};
    }
    QVERIFY(eventually([&] { return chosenList().size() == 2; }));
    QCOMPARE(chosenList().last(), QString("v4l2:/dev/video1"));
    QVERIFY(source.hasFrames());
    std::uint64_t number = 0;
    QVERIFY(eventually([&] { return source.newest(number) != nullptr; }));
    QCOMPARE(source.newest(number)->pixels.front(), std::uint16_t(0x1111));

    {
        std::lock_guard<std::mutex> g(lock);
        devices = {"/dev/video0", "/dev/video2"};
        made["/dev/video1"]->unplug();
    }
    QVERIFY(eventually([&] { return chosenList().size() >= 4; }));
    QCOMPARE(chosenList().mid(2), (QStringList{"pattern", "v4l2:/dev/video2"}));
    QVERIFY(source.hasFrames());
    QVERIFY(eventually([&] {
        const FramePtr frame = source.newest(number);
        return frame && frame->pixels.front() == 0x2222;
    }));
    source.stop();
    QVERIFY(source.failure().empty());
}

// A device that failed is not tried again while the set of devices stays the same, though
// the devices are listed again every second.
// A device that would not start (another program holds it) is not opened again at every
// look while the devices stay the same, but again after a few looks, and taken once it works.
void TestCardCore::autoSourceTriesUnchangedDevicesNowAndThen()
{
    std::atomic<int> looks{0};
    std::atomic<int> tries{0};
    std::atomic<bool> held{true};
    const auto list = [&] {
        ++looks;
        return std::vector<std::string>{"/dev/video0"};
    };
    const auto make = [&](const std::string& node) -> std::unique_ptr<FrameSource> {
        ++tries;
        return std::make_unique<FakeDevice>(node, !held, 0x1111);
    };
    AutoSource source(list, make, [](const std::string&) {});
    std::string error;
    QVERIFY(source.start(error));
    QCOMPARE(tries.load(), 1);
    QVERIFY(eventually([&] { return looks >= 3; }));
    QCOMPARE(tries.load(), 1);
    QVERIFY(!source.hasFrames());
    held = false;
    QVERIFY(eventually([&] { return source.hasFrames(); }));
    QCOMPARE(tries.load(), 2);
    QVERIFY(looks > AutoSource::retryLooks);
    source.stop();
}

// The capture nodes of a folder by their numbers, not as their names sort: video10 after
// video2; names that are not "video" and a number are left out, as are nodes that do not
// capture.
void TestCardCore::videoCaptureDevicesInNumberOrder()
{
    QTemporaryDir dir;
    const std::string folder = QFile::encodeName(dir.path()).toStdString();
    for (const char* name : {"video10", "video2", "video0", "video1", "video", "videoX",
                             "video3a", "video-1", "media0", "vbi4"}) {
        QFile node(dir.filePath(name));
        QVERIFY(node.open(QIODevice::WriteOnly));
    }
    QStringList asked;
    const auto captures = [&](const std::string& node) {
        asked << QString::fromStdString(node);
        return node != folder + "/video1"; // an output-only node
    };
    const std::vector<std::string> nodes = videoCaptureDevices(folder, captures);
    QStringList found;
    for (const std::string& node : nodes)
        found << QString::fromStdString(node).mid(dir.path().size() + 1);
    QCOMPARE(found, QStringList({"video0", "video2", "video10"}));
    asked.sort();
    const QString at = dir.path() + '/';
    QCOMPARE(asked, QStringList({at + "video0", at + "video1", at + "video10", at + "video2"}));
}

// A frame a reader holds is never written into, however many frames come after it: the
// source fills again only frames that nobody holds any more.
void TestCardCore::heldFrameStaysPut()
{
    std::unique_ptr<FrameSource> source;
    std::string error;
    if (!makeSource("gst:videotestsrc is-live=true pattern=ball ! "
                    "video/x-raw,width=160,height=120,framerate=30/1",
                    source, error))
        QSKIP(error.c_str());
    QVERIFY2(source->start(error), error.c_str());
    std::uint64_t number = 0;
    const FramePtr held = source->newest(number);
    QVERIFY(held);
    const std::vector<std::uint16_t> before = held->pixels;
    // Many more frames than a source keeps to fill again, the ball moving in each.
    int unlike = 0;
    for (int i = 0; i < 20; ++i) {
        const FramePtr next = source->waitNewer(
            number, std::chrono::steady_clock::now() + std::chrono::seconds(5), number);
        QVERIFY2(next && source->failure().empty(), source->failure().c_str());
        unlike += next->pixels != before;
    }
    source->stop();
    QVERIFY(unlike > 0);
    QVERIFY(held->pixels == before);
}

// "YUYV 640x480@30, MJPG 1280x720@15/2": the modes as a webcam lists them.
std::vector<WebcamMode> webcamModes(const QString& list)
{
    std::vector<WebcamMode> modes;
    const QRegularExpression form("^(\\w+) (\\d+)x(\\d+)@(\\d+)(?:/(\\d+))?$");
    for (const QString& item : list.split(',', Qt::SkipEmptyParts)) {
        const QRegularExpressionMatch m = form.match(item.trimmed());
        if (!m.hasMatch())
            qFatal("not a mode: %s", qPrintable(item));
        WebcamMode mode;
        mode.format = m.captured(1).toStdString();
        mode.raw = mode.format != "MJPG";
        mode.width = m.captured(2).toInt();
        mode.height = m.captured(3).toInt();
        mode.rateNum = m.captured(4).toInt();
        mode.rateDen = m.captured(5).isEmpty() ? 1 : m.captured(5).toInt();
        modes.push_back(mode);
    }
    return modes;
}

void TestCardCore::webcamModeChoice_data()
{
    QTest::addColumn<QString>("modes");
    QTest::addColumn<QString>("chosen");  // empty: none
    QTest::addColumn<QString>("scaled");  // the size the frames are scaled to
    QTest::addColumn<QString>("decoded"); // a motion JPEG frame's size out of the decoder

    const QString laptop = "YUYV 1920x1080@5, YUYV 1280x720@10, YUYV 640x480@30, "
                           "MJPG 1920x1080@30, MJPG 1280x720@30, MJPG 640x480@30";
    QTest::newRow("laptop webcam") << laptop << "YUYV 640x480 30/1" << "640x480" << "";
    QTest::newRow("cheap, raw only")
        << "YUYV 1280x720@15/2, YUYV 640x480@30" << "YUYV 640x480 30/1" << "640x480" << "";
    QTest::newRow("motion JPEG only")
        << "MJPG 1920x1080@30, MJPG 1280x720@30, MJPG 640x480@30" << "MJPG 640x480 30/1"
        << "640x480" << "640x480";
    QTest::newRow("1080p motion JPEG alone: decoded at a half")
        << "MJPG 1920x1080@30" << "MJPG 1920x1080 30/1" << "854x480" << "960x540";
    QTest::newRow("raw reaches the rate only larger")
        << "MJPG 640x480@30, YUYV 1280x720@30" << "YUYV 1280x720 30/1" << "854x480" << "";
    QTest::newRow("only motion JPEG reaches the rate: 720p at three quarters")
        << "YUYV 1280x720@10, MJPG 1280x720@30, YUYV 640x480@15" << "MJPG 1280x720 30/1"
        << "854x480" << "960x540";
    QTest::newRow("5 megapixel motion JPEG: a quarter")
        << "MJPG 2592x1944@15" << "MJPG 2592x1944 15/1" << "640x480" << "648x486";
    QTest::newRow("a quarter exactly covers")
        << "MJPG 2560x1920@15" << "MJPG 2560x1920 15/1" << "640x480" << "640x480";
    QTest::newRow("a quarter one line short: three eighths")
        << "MJPG 2544x1908@15" << "MJPG 2544x1908 15/1" << "640x480" << "954x716";
    QTest::newRow("a quarter covers once rounded up as the decoder does")
        << "MJPG 2558x1918@15" << "MJPG 2558x1918 15/1" << "641x480" << "640x480";
    QTest::newRow("an eighth, the least the decoder gives")
        << "MJPG 5120x3840@5" << "MJPG 5120x3840 5/1" << "640x480" << "640x480";
    QTest::newRow("portrait motion JPEG")
        << "MJPG 1080x1920@30" << "MJPG 1080x1920 30/1" << "480x854" << "540x960";
    QTest::newRow("a faster mode beats a smaller one")
        << "YUYV 640x480@15, YUYV 800x600@30" << "YUYV 800x600 30/1" << "640x480" << "";
    QTest::newRow("16:9 at 640 does not cover")
        << "YUYV 640x360@30, YUYV 1280x720@30" << "YUYV 1280x720 30/1" << "854x480" << "";
    QTest::newRow("one line short does not cover")
        << "YUYV 640x479@30, YUYV 1024x768@15" << "YUYV 1024x768 15/1" << "640x480" << "";
    QTest::newRow("portrait covers 480x640")
        << "YUYV 1080x1920@30, YUYV 480x640@30" << "YUYV 480x640 30/1" << "480x640" << "";
    QTest::newRow("portrait scaled")
        << "YUYV 1080x1920@30" << "YUYV 1080x1920 30/1" << "480x854" << "";
    QTest::newRow("fractional rates compared exactly")
        << "YUYV 1280x720@15/2, YUYV 1920x1080@8/1" << "YUYV 1920x1080 8/1" << "854x480" << "";
    QTest::newRow("smaller webcam: its largest mode, decoded whole")
        << "YUYV 320x240@30, YUYV 352x288@15, MJPG 352x288@30"
        << "MJPG 352x288 30/1" << "352x288" << "352x288";
    QTest::newRow("no modes") << "" << "" << "" << "";
}

void TestCardCore::webcamModeChoice()
{
    QFETCH(QString, modes);
    QFETCH(QString, chosen);
    QFETCH(QString, scaled);
    QFETCH(QString, decoded);
    const std::vector<WebcamMode> list = webcamModes(modes);
    const int index = chooseWebcamMode(list);
    if (chosen.isEmpty()) {
        QCOMPARE(index, -1);
        return;
    }
    QVERIFY(index >= 0);
    const WebcamMode& m = list[std::size_t(index)];
    QCOMPARE(QString::fromStdString(describeMode(m)), chosen);
    const FrameSize size = leastCoveringSize(m.width, m.height);
    QCOMPARE(QStringLiteral("%1x%2").arg(size.width).arg(size.height), scaled);
    if (!m.raw) {
        const int eighths = jpegScaleEighths(m.width, m.height);
        const FrameSize out = scaledByEighths(m.width, m.height, eighths);
        QCOMPARE(QStringLiteral("%1x%2").arg(out.width).arg(out.height), decoded);
    } else {
        QCOMPARE(QString(), decoded);
    }
    // The order a webcam lists its modes in does not matter.
    std::vector<WebcamMode> reversed(list.rbegin(), list.rend());
    QCOMPARE(QString::fromStdString(describeMode(reversed[std::size_t(chooseWebcamMode(reversed))])),
             chosen);
}

QTEST_GUILESS_MAIN(TestCardCore)
#include "tst_cardcore.moc"
