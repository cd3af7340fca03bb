// The real camera binary on Qt's wayland platform, a client of a real weston: what the
// compositor shows of it, the keys and buttons, the card's button while another client has
// the keyboard, the screen saver's hold, a second start and SIGTERM. Then of sway, for the
// idle inhibitor on each window shown, and of phoc, a phone's compositor. Each case runs its
// own compositor (see weston.h) and its own virtual PDA (see virtualpda.h).
#include "e2e/cardlog.h"
#include "e2e/inhibitportal.h"
#include "e2e/privatemounts.h"
#include "e2e/screensaverservice.h"
#include "e2e/virtualpda.h"
#include "e2e/weston.h"
#include "support/scene.h"

#include <QDBusConnection>
#include <QFile>
#include <QImage>
#include <QRegularExpression>
#include <QtTest>

#include <algorithm>
#include <cstdlib>

using e2e::Compositor;
using e2e::VirtualPda;
using e2e::Weston;
using e2e::waitFor;
using e2e::captureRead;
using e2e::count;
using e2e::painterGeometry;
using e2e::waitForFrames;

namespace {

// On Wayland the preview is painted: the card sends upright frames, never turned ones.
const QString directGeometry = QStringLiteral("write S=");
const QByteArray platformDebug = "pda.application.debug=true";
const QByteArray raisedLine = "raise(): camera brought to the front";

int countStarting(const QStringList& lines, int from, const QString& text)
{
    int n = 0;
    for (int i = qMax(0, from); i < lines.size(); ++i)
        n += lines[i].startsWith(text);
    return n;
}

// Where the card's test scene lies in a screenshot: the bounding box of its red, green,
// blue and yellow pixels; null when there are none.
QRect sceneArea(const QImage& shot)
{
    const QImage image = shot.convertToFormat(QImage::Format_RGB32);
    QRect box;
    for (int y = 0; y < image.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const int r = qRed(line[x]), g = qGreen(line[x]), b = qBlue(line[x]);
            const auto on = [](int v) { return v > 200; };
            const auto off = [](int v) { return v < 60; };
            const bool primary = (on(r) && off(g) && off(b)) || (off(r) && on(g) && off(b))
                || (off(r) && off(g) && on(b)) || (on(r) && on(g) && off(b));
            if (primary)
                box |= QRect(x, y, 1, 1);
        }
    }
    return box;
}

// The screenshot once the scene shows in it at `size` (at any size when that is empty), a
// few columns or rows of it perhaps past the output's edge (the compositor places the
// window, decorations and all); a null image otherwise. Kept as NAME.png in
// CAMERA_SCREENSHOT_DIR when that is set.
// What the camera wrote to its standard error besides the protocol trace (a sanitizer's
// report, a warning), its last lines: why it did not end cleanly.
QString untraced(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QStringLiteral("no trace at %1").arg(path);
    QStringList lines;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (!line.isEmpty() && !line.startsWith('[') && !line.startsWith(" ->"))
            lines.append(QString::fromLocal8Bit(line));
    return lines.mid(qMax(0, int(lines.size()) - 400)).join('\n');
}

QImage waitForScene(Weston& weston, const QSize& size, QRect* where, const char* name = nullptr,
                    int ms = 8000)
{
    QImage shot;
    // Found in two shots in a row at one place: a window weston is still placing, or a
    // frame still being entered, would send a click elsewhere.
    QRect before;
    const bool shown = waitFor(
        [&] {
            shot = weston.screenshot();
            const QRect found = sceneArea(shot);
            const bool steady = found == before;
            before = found;
            *where = found;
            if (size.isEmpty())
                return steady && !found.isEmpty();
            const QSize missing = size - found.size();
            return steady && missing.width() >= 0 && missing.height() >= 0
                && missing.width() <= 8 && missing.height() <= 8;
        },
        ms);
    const QString folder = qEnvironmentVariable("CAMERA_SCREENSHOT_DIR");
    if (name && !folder.isEmpty() && !shot.isNull())
        shot.save(folder + '/' + name + ".png");
    return shown ? shot : QImage();
}

// What the camera asked of its compositor, read from its WAYLAND_DEBUG=client trace: its
// surfaces alive, those of them that are windows, the idle inhibitors that stand and on
// which surface, the surfaces it asked to activate. Surface ids are reused once the
// compositor lets them go: each surface is known by the order it was made in.
struct ClientTrace {
    QMap<int, int> surfaces;   // id of a live surface -> its number
    QSet<int> windows;         // numbers of live surfaces with a window's role
    int newestWindow = -1;
    QMap<int, int> inhibitors; // id of a standing inhibitor -> its surface's number
    int inhibitorsMade = 0;
    QList<QPair<QString, int>> activated; // tokens given to activate, and the surfaces' numbers
    QStringList tokens;        // activation tokens the compositor issued
    int pointerOn = -1;        // number of the surface the pointer last entered and is on

    static ClientTrace read(const QString& path)
    {
        ClientTrace t;
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly))
            return t;
        static const QRegularExpression request(
            QStringLiteral(R"(-> ([a-z0-9_]+)@(\d+)\.([a-z_]+)\((.*)\)$)"));
        static const QRegularExpression surfaceArg(QStringLiteral(R"(wl_surface@(\d+))"));
        static const QRegularExpression newId(QStringLiteral(R"(new id [a-z0-9_]+@(\d+))"));
        static const QRegularExpression token(
            QStringLiteral("xdg_activation_token_v1@\\d+\\.done\\(\"(.*)\"\\)$"));
        static const QRegularExpression quoted(QStringLiteral("^\"([^\"]*)\""));
        static const QRegularExpression pointer(
            QStringLiteral(R"(] wl_pointer@\d+\.(enter|leave)\(\d+, wl_surface@(\d+))"));
        int made = 0;
        while (!f.atEnd()) {
            const QString line = QString::fromUtf8(f.readLine()).trimmed();
            const QRegularExpressionMatch issued = token.match(line);
            if (issued.hasMatch())
                t.tokens.append(issued.captured(1));
            const QRegularExpressionMatch crossed = pointer.match(line);
            if (crossed.hasMatch()) {
                t.pointerOn = crossed.captured(1) == "enter"
                    ? t.surfaces.value(crossed.captured(2).toInt(), -1) : -1;
            }
            const QRegularExpressionMatch m = request.match(line);
            if (!m.hasMatch())
                continue;
            const QString interface = m.captured(1), method = m.captured(3), args = m.captured(4);
            const int id = m.captured(2).toInt();
            const QRegularExpressionMatch surfaceMatch = surfaceArg.match(args);
            const int surface = surfaceMatch.hasMatch()
                ? t.surfaces.value(surfaceMatch.captured(1).toInt(), -1) : -1;
            const int created = newId.match(args).captured(1).toInt();
            if (interface == "wl_compositor" && method == "create_surface") {
                t.surfaces[created] = made++;
            } else if (interface == "wl_surface" && method == "destroy") {
                t.windows.remove(t.surfaces.value(id, -1));
                t.surfaces.remove(id);
            } else if (interface == "xdg_wm_base" && method == "get_xdg_surface") {
                t.windows.insert(surface);
                t.newestWindow = surface;
            } else if (interface == "zwp_idle_inhibit_manager_v1" && method == "create_inhibitor") {
                t.inhibitors[created] = surface;
                ++t.inhibitorsMade;
            } else if (interface == "zwp_idle_inhibitor_v1" && method == "destroy") {
                t.inhibitors.remove(id);
            } else if (interface == "xdg_activation_v1" && method == "activate") {
                t.activated.append({quoted.match(args).captured(1), surface});
            }
        }
        return t;
    }

    // Empty when each window the camera shows has one idle inhibitor and none stands on a
    // surface that is gone; otherwise what is wrong.
    QString inhibitorProblem() const
    {
        for (int window : windows) {
            const auto n = std::count(inhibitors.cbegin(), inhibitors.cend(), window);
            if (n != 1)
                return QStringLiteral("window surface #%1 has %2 inhibitors").arg(window).arg(n);
        }
        for (auto it = inhibitors.cbegin(); it != inhibitors.cend(); ++it) {
            if (!windows.contains(it.value()))
                return QStringLiteral("inhibitor %1 stands on surface #%2, which is no window shown")
                    .arg(it.key()).arg(it.value());
        }
        return {};
    }
};

// The click or tap at `point` of a form whose 240x320 layout shows scaled by `scale`, its
// viewfinder's top left at `viewfinder`.
QPoint onForm(const QPoint& viewfinder, double scale, const QPoint& point)
{
    return viewfinder + QPoint(qRound(point.x() * scale), qRound(point.y() * scale));
}

} // namespace

class TestCameraWayland : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();

    void previewPictureAndKeys();
    void fullScreenOnAndOff();
    void cardButtonWhileAnotherClientHasFocus();
    void screenSaverHold_data();
    void screenSaverHold();
    void secondStartHandsOver();
    void cardButtonWithoutKeyboard();
    void idleInhibitorFollowsTheWindowOnSway_data();
    void idleInhibitorFollowsTheWindowOnSway();
    void phoneScreenOnPhoc();

private:
    // A virtual PDA whose camera is a client of `weston`, its preview under way.
    bool startOnWeston(VirtualPda& pda, const Weston& weston, const QByteArray& settings = {},
                       bool keepErrors = false);
};

void TestCameraWayland::initTestCase()
{
    const QString reason = e2e::unavailableReason();
    if (!reason.isEmpty())
        QSKIP(qPrintable(reason));
    testaccount::Account account;
    if (!testaccount::lookUp(account))
        QSKIP("no account orvane-test to run the camera as (the test_account fixture makes it)");
    const QString noWeston = Weston::unavailableReason(Weston::Backend::X11);
    if (!noWeston.isEmpty())
        QSKIP(qPrintable(noWeston));
}

void TestCameraWayland::init()
{
    const bool free = waitFor(
        [] { return !e2e::nodeExists(e2e::deviceNode) && !e2e::nodeExists(e2e::buzzerNode); },
        90000);
    QVERIFY2(free, "/dev/orvane_vdc or /dev/orvane_buz is held by another emulator");
}

bool TestCameraWayland::startOnWeston(VirtualPda& pda, const Weston& weston,
                                      const QByteArray& settings, bool keepErrors)
{
    if (!weston.isUp()) {
        qWarning("weston did not come up");
        return false;
    }
    if (!pda.ready() || !pda.startEmulator())
        return false;
    pda.cameraEnv.insert("QT_QPA_PLATFORM", "wayland");
    pda.cameraEnv.insert("WAYLAND_DISPLAY", weston.socketPath());
    // Where the camera is sanitized: full stacks, so that what Qt's Wayland plugin leaves at
    // exit is told apart from a leak of ours.
    pda.cameraEnv.insert("ASAN_OPTIONS", "fast_unwind_on_malloc=0");
    pda.writeSettings(settings);
    if (!pda.startCamera(keepErrors))
        return false;
    if (!waitForFrames(pda, 0, 3, 15000)) {
        qWarning("no preview; log:\n%s", qPrintable(pda.log().join('\n')));
        return false;
    }
    return true;
}

// The window shows the scene upright and live in its 240x160 viewfinder; the card's button
// and the Return key each take a picture; SIGTERM ends the camera with 0.
void TestCameraWayland::previewPictureAndKeys()
{
    Weston weston;
    VirtualPda pda;
    QVERIFY(startOnWeston(pda, weston));

    QRect where;
    const QImage first = waitForScene(weston, QSize(240, 160), &where, "wayland-window");
    QVERIFY2(!first.isNull(), qPrintable(QStringLiteral("the scene shows at %1,%2 %3x%4")
                                             .arg(where.x()).arg(where.y())
                                             .arg(where.width()).arg(where.height())));
    QString problem = sceneProblem(first.copy(where));
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    // Live: the card numbers its frames in the scene, so a later screenshot differs there.
    QImage later;
    QVERIFY(waitFor([&] { later = weston.screenshot(); return later.copy(where) != first.copy(where); },
                    3000));
    QCOMPARE(sceneArea(later), where);

    const QStringList lines = pda.log();
    QVERIFY2(lines.contains(painterGeometry), qPrintable(lines.mid(0, 12).join('\n')));
    QCOMPARE(countStarting(lines, 0, directGeometry), 0);

    // The card's button: buzzer, capture, picture.
    int from = int(pda.log().size());
    QVERIFY(pda.control("shutter"));
    const QString firstPicture = pda.picturesDir() + "/pic0001.jpg";
    QVERIFY(waitFor([&] { return QImage(firstPicture).size() == QSize(480, 320); }, 5000));
    problem = sceneProblem(QImage(firstPicture));
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    QCOMPARE(count(pda.log(), from, "ioctl 0x5680 2"), 1);
    QVERIFY(waitFor([&] { return count(pda.log(), from, "write B") == 1; }, 5000));

    // Return in the control window, typed on the compositor's keyboard.
    QVERIFY(waitForFrames(pda, int(pda.log().size()), 2));
    from = int(pda.log().size());
    QVERIFY(weston.key("Return"));
    QVERIFY(waitFor([&] { return QFile::exists(pda.picturesDir() + "/pic0002.jpg"); }, 5000));
    QCOMPARE(count(pda.log(), from, "ioctl 0x5680 2"), 0);

    QCOMPARE(pda.terminateCamera(), 0);
    QVERIFY(waitFor([&] { return pda.log().contains("close"); }, 3000));
    QVERIFY(pda.settings().contains("Serial=2"));
}

// F fills the output with the upright preview; Space brings the control window back, and
// Escape there ends the camera with its settings written.
void TestCameraWayland::fullScreenOnAndOff()
{
    Weston weston;
    VirtualPda pda;
    QVERIFY(startOnWeston(pda, weston, "[Option]\nDispMode=1\n"));

    QRect window;
    QVERIFY(!waitForScene(weston, QSize(120, 160), &window).isNull());
    // The viewfinder is the window's top 240x160 with the preview centred in it; the F
    // button sits just below it, at the left.
    const QPoint viewfinder = window.center() - QPoint(119, 79);
    // One click: the full-screen frame that it shows covers the button, and a second click
    // there would be a tap on the frame, which leaves full screen again.
    const QPoint f(viewfinder.x() + 12, viewfinder.y() + 174);
    QVERIFY(weston.click(f.x(), f.y()));
    QRect full;
    const QImage shot = waitForScene(weston, QSize(240, 320), &full, "wayland-fullscreen");
    QVERIFY2(!shot.isNull(),
             qPrintable(QStringLiteral("the scene shows %1x%2 at %3,%4; clicked at %5,%6, the X "
                                       "pointer: %7")
                            .arg(full.width()).arg(full.height()).arg(full.x()).arg(full.y())
                            .arg(f.x()).arg(f.y()).arg(weston.pointer())));
    QCOMPARE(full.topLeft(), QPoint(0, 0));
    const QString problem = sceneProblem(shot.copy(full));
    QVERIFY2(problem.isEmpty(), qPrintable(problem));

    // Keys reach the full-screen frame: Space leaves it.
    QVERIFY(weston.key("space"));
    QRect back;
    QVERIFY(!waitForScene(weston, QSize(120, 160), &back).isNull());
    QCOMPARE(back, window);

    QVERIFY(weston.key("Escape"));
    QVERIFY(waitFor([&] { return !pda.cameraRunning(); }, 5000));
    QCOMPARE(pda.camera.exitStatus(), QProcess::NormalExit);
    QCOMPARE(pda.camera.exitCode(), 0);
    QVERIFY(pda.settings().contains("SlowCapture=12"));
}

// While another client has the keyboard, a press of the card's button gets "B" and no
// picture; once the camera has the keyboard again, the next press takes one.
void TestCameraWayland::cardButtonWhileAnotherClientHasFocus()
{
    Weston weston;
    VirtualPda pda;
    QVERIFY(startOnWeston(pda, weston));
    QRect window;
    QVERIFY(!waitForScene(weston, QSize(240, 160), &window).isNull());

    // A new window takes the keyboard.
    QVERIFY(weston.startClient(QStandardPaths::findExecutable("weston-simple-shm")));
    QVERIFY(waitFor([&] { return sceneArea(weston.screenshot()) != window; }, 5000));
    int from = int(pda.log().size());
    QVERIFY(pda.control("shutter"));
    QVERIFY(waitFor([&] { return count(pda.log(), from, "write B") >= 1; }, 5000));
    QTest::qWait(300);
    QCOMPARE(count(pda.log(), from, captureRead), 0);
    QCOMPARE(count(pda.log(), from, "ioctl 0x5680 2"), 0);
    QVERIFY(!QFile::exists(pda.picturesDir() + "/pic0001.jpg"));

    // The other window goes; a click on the camera's viewfinder gives it the keyboard.
    weston.stopClients();
    QVERIFY(!waitForScene(weston, QSize(240, 160), &window).isNull());
    QVERIFY(weston.click(window.center().x(), window.center().y()));
    from = int(pda.log().size());
    QVERIFY(pda.control("shutter"));
    QVERIFY(waitFor([&] { return QFile::exists(pda.picturesDir() + "/pic0001.jpg"); }, 5000));
    QCOMPARE(count(pda.log(), from, "ioctl 0x5680 2"), 1);
    QCOMPARE(pda.terminateCamera(), 0);
}

// The hold goes to the first of the session's screen saver, the desktop portal's Inhibit and
// the compositor's idle-inhibit protocol that is there; it ends with the camera.
void TestCameraWayland::screenSaverHold_data()
{
    QTest::addColumn<bool>("screenSaver");
    QTest::addColumn<bool>("portal");
    QTest::addColumn<QStringList>("screenSaverEvents");
    QTest::addColumn<QStringList>("portalEvents");

    QTest::newRow("session screen saver first, the portal untouched")
        << true << true << QStringList{"Inhibit camera 1", "UnInhibit 1"} << QStringList{};
    QTest::newRow("no screen saver: the portal's idle flag")
        << false << true << QStringList{}
        << QStringList{"Inhibit 8 1", "Close 1"};
    // Then the compositor's idle-inhibit protocol, which weston 10 does not offer: the
    // camera asks nothing more and runs on.
    QTest::newRow("neither service: nothing asked, the camera unharmed")
        << false << false << QStringList{} << QStringList{};
}

void TestCameraWayland::screenSaverHold()
{
    QFETCH(bool, screenSaver);
    QFETCH(bool, portal);
    QFETCH(QStringList, screenSaverEvents);
    QFETCH(QStringList, portalEvents);
    if (!QDBusConnection::sessionBus().isConnected())
        QSKIP("no D-Bus session bus (run under dbus-run-session)");

    ScreenSaverService screenSaverService;
    InhibitPortal portalService;
    if (screenSaver)
        QVERIFY(screenSaverService.start());
    if (portal)
        QVERIFY(portalService.start());

    Weston weston;
    VirtualPda pda;
    QVERIFY(startOnWeston(pda, weston));
    const bool asked = !screenSaverEvents.isEmpty() || !portalEvents.isEmpty();
    if (asked)
        QVERIFY(waitFor([&] { return screenSaverService.events.size() + portalService.events.size() >= 1; },
                        3000));
    QTest::qWait(300);
    QCOMPARE(screenSaverService.events, screenSaverEvents.mid(0, 1));
    QCOMPARE(portalService.events, portalEvents.mid(0, 1));

    QVERIFY(waitForFrames(pda, int(pda.log().size()), 3));
    QCOMPARE(pda.terminateCamera(), 0);
    if (asked)
        QVERIFY(waitFor([&] { return screenSaverService.events.size() + portalService.events.size() >= 2; },
                        3000));
    QTest::qWait(200);
    QCOMPARE(screenSaverService.events, screenSaverEvents);
    QCOMPARE(portalService.events, portalEvents);
    QCOMPARE(screenSaverService.held() + portalService.held(), 0);
}

// A second start asks the first to come to the front and ends with 0, opening no window and
// leaving the card and the settings alone.
void TestCameraWayland::secondStartHandsOver()
{
    if (!QDBusConnection::sessionBus().isConnected())
        QSKIP("no D-Bus session bus (run under dbus-run-session)");
    Weston weston;
    VirtualPda pda;
    pda.cameraEnv.insert("QT_LOGGING_RULES", platformDebug);
    const QByteArray settings("[Option]\nSaveTo=0\nSerial=7\n");
    QVERIFY(startOnWeston(pda, weston, settings, true));
    QRect window;
    QVERIFY(!waitForScene(weston, QSize(240, 160), &window).isNull());

    // A whole second program starts, asks over the session bus and ends, and the bus
    // carries the request on to the first: on a loaded machine that takes its time, so
    // the limits below are for a hang, not a measure of speed.
    QProcess second;
    QVERIFY(pda.startCameraProcess(second));
    QVERIFY(second.waitForFinished(30000));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);

    QByteArray errors;
    QVERIFY2(waitFor([&] { return (errors += pda.camera.readAllStandardError()).contains(raisedLine); },
                     20000),
             errors.right(2000).constData());
    QVERIFY(waitForFrames(pda, int(pda.log().size()), 5, 15000));
    QCOMPARE(count(pda.log(), 0, "open"), 1);
    QCOMPARE(pda.settings(), settings);
    QCOMPARE(sceneArea(weston.screenshot()), window);
    QCOMPARE(pda.terminateCamera(), 0);
}

// A seat without a keyboard (weston's headless back end, a kiosk without one): no window
// can be the active one, so the card's button takes the picture while the camera's
// viewfinder is on the screen.
void TestCameraWayland::cardButtonWithoutKeyboard()
{
    const QString reason = Weston::unavailableReason(Weston::Backend::Headless);
    if (!reason.isEmpty())
        QSKIP(qPrintable(reason));
    Weston weston(Weston::Backend::Headless);
    VirtualPda pda;
    QVERIFY(startOnWeston(pda, weston));
    QRect window;
    QVERIFY(!waitForScene(weston, QSize(240, 160), &window, "wayland-headless").isNull());
    const int from = int(pda.log().size());
    QVERIFY(pda.control("shutter"));
    QVERIFY(waitFor([&] { return QFile::exists(pda.picturesDir() + "/pic0001.jpg"); }, 5000));
    QCOMPARE(count(pda.log(), from, "ioctl 0x5680 2"), 1);
    QCOMPARE(pda.terminateCamera(), 0);
}

// On sway, which offers idle-inhibit: the window the user sees holds an inhibitor on mains,
// the control window and the full-screen frame alike, and again on the new surface of a
// second full screen; the surfaces that are gone keep none. On a low battery none stands.
// On the handheld's 240x320 output, and on a phone's, where sway tiles the window to the
// whole output and the form is scaled to it.
void TestCameraWayland::idleInhibitorFollowsTheWindowOnSway_data()
{
    QTest::addColumn<QSize>("output");
    QTest::newRow("240x320") << QSize(240, 320);
    QTest::newRow("360x720, the form scaled") << QSize(360, 720);
}

void TestCameraWayland::idleInhibitorFollowsTheWindowOnSway()
{
    QFETCH(QSize, output);
    const QString reason = Compositor::unavailableReason(Compositor::Kind::Sway);
    if (!reason.isEmpty())
        QSKIP(qPrintable(reason));
    Compositor sway(Compositor::Kind::Sway, output);
    // The form's scale in a window as large as the output.
    const double scale = std::min(output.width() / 240.0, output.height() / 320.0);
    VirtualPda pda;
    const QString tracePath = pda.dir.path() + "/wayland.trace";
    pda.errorFile = tracePath;
    pda.cameraEnv.insert("WAYLAND_DEBUG", "client");
    QVERIFY(startOnWeston(pda, sway, "[Option]\nDispMode=1\n"));
    ClientTrace trace;
    // Each window the camera shows holds one inhibitor, the newest (the one on top) among
    // them; none stands on a surface that is gone.
    const auto held = [&](int windows, int made) {
        return waitFor(
            [&] {
                trace = ClientTrace::read(tracePath);
                return trace.windows.size() == windows && trace.inhibitorsMade == made
                    && trace.inhibitorProblem().isEmpty();
            },
            5000);
    };
    const auto state = [&] {
        return QStringLiteral("%1 windows, inhibitors made %2, standing %3: %4")
            .arg(trace.windows.size()).arg(trace.inhibitorsMade).arg(trace.inhibitors.size())
            .arg(trace.inhibitorProblem());
    };

    // sway tiles the window to the whole output: the portrait preview is centred at the top.
    // On the way there the window shows for a moment at other sizes: only the end counts.
    const QSize preview = QSize(120, 160) * scale;
    const QRect expected(QPoint((output.width() - preview.width()) / 2, 0), preview);
    const auto near = [](const QRect& a, const QRect& b) {
        return std::abs(a.left() - b.left()) <= 2 && std::abs(a.top() - b.top()) <= 2
            && std::abs(a.right() - b.right()) <= 2 && std::abs(a.bottom() - b.bottom()) <= 2;
    };
    QRect window;
    waitFor([&] { return !waitForScene(sway, preview, &window, "sway-window", 3000).isNull() && near(window, expected); },
            20000);
    QVERIFY2(near(window, expected),
             qPrintable(QStringLiteral("the scene shows %1x%2 at %3,%4, not at %5,%6")
                            .arg(window.width()).arg(window.height()).arg(window.x()).arg(window.y())
                            .arg(expected.x()).arg(expected.y())));
    QVERIFY2(held(1, 1), qPrintable(state()));
    const int control = trace.newestWindow;

    // The viewfinder is the form's top 240x160 with the preview centred in it; the
    // full-screen button sits just below it, at the left.
    const QPoint viewfinder = window.center() - QPoint(qRound(119 * scale), qRound(79 * scale));
    const QPoint fullScreenButton = onForm(viewfinder, scale, QPoint(12, 174));
    // The frame fills the screen in its proportions.
    const QSize fullScreen = QSize(240, 320).scaled(output, Qt::KeepAspectRatio);
    QRect full;
    for (int time = 1; time <= 2; ++time) {
        // Clicked only once the camera has been told the pointer is on its window: the
        // pointer may still be where the last click left it, on a surface now gone, and a
        // button sent before the enter goes nowhere. A step aside makes sure it moves.
        QVERIFY(sway.xdotool({"mousemove", QString::number(fullScreenButton.x() + 2),
                              QString::number(fullScreenButton.y())}));
        QVERIFY(sway.xdotool({"mousemove", QString::number(fullScreenButton.x()),
                              QString::number(fullScreenButton.y())}));
        QVERIFY2(waitFor([&] { trace = ClientTrace::read(tracePath); return trace.pointerOn == control; },
                         10000),
                 qPrintable(QStringLiteral("the pointer is on surface #%1, the window is #%2")
                                .arg(trace.pointerOn).arg(control)));
        QVERIFY(sway.click(fullScreenButton.x(), fullScreenButton.y()));
        const QImage shot = waitForScene(sway, fullScreen, &full, "sway-fullscreen");
        QVERIFY2(!shot.isNull(),
                 qPrintable(QStringLiteral("the scene shows %1x%2 at %3,%4; clicked at %5,%6, the X "
                                           "pointer: %7")
                                .arg(full.width()).arg(full.height()).arg(full.x()).arg(full.y())
                                .arg(fullScreenButton.x()).arg(fullScreenButton.y())
                                .arg(sway.pointer())));
        QVERIFY2(held(2, 1 + time), qPrintable(state()));
        QVERIFY(trace.newestWindow != control);
        QVERIFY(trace.inhibitors.values().contains(trace.newestWindow));

        // Back in the control window, once sway has laid it out where it was: the button
        // is clicked where it was found.
        QVERIFY(sway.key("space"));
        QRect back;
        QVERIFY2(waitFor([&] {
                     return !waitForScene(sway, QSize(120, 160) * scale, &back, "sway-back", 2000).isNull()
                         && back == window;
                 }, 20000),
                 qPrintable(QStringLiteral("the scene shows %1x%2 at %3,%4, first at %5,%6")
                                .arg(back.width()).arg(back.height()).arg(back.x()).arg(back.y())
                                .arg(window.x()).arg(window.y())));
        // The full-screen frame's surface is gone, and its inhibitor with it.
        QVERIFY2(held(1, 1 + time), qPrintable(state()));
        QVERIFY(trace.windows.contains(control));
    }

    // A low battery lets the screen blank: no inhibitor stands.
    QVERIFY(QDir().mkpath(pda.power + "/BAT0"));
    VirtualPda::writeFile(pda.power + "/BAT0/type", "Battery\n");
    VirtualPda::writeFile(pda.power + "/BAT0/status", "Discharging\n");
    VirtualPda::writeFile(pda.power + "/BAT0/capacity", "5\n");
    VirtualPda::writeFile(pda.power + "/AC/online", "0\n");
    QVERIFY2(waitFor([&] { trace = ClientTrace::read(tracePath); return trace.inhibitors.isEmpty(); },
                     5000),
             qPrintable(state()));
    QVERIFY(waitForFrames(pda, int(pda.log().size()), 5));
    trace = ClientTrace::read(tracePath);
    QVERIFY2(trace.inhibitors.isEmpty() && trace.windows.contains(control), qPrintable(state()));
    QVERIFY2(pda.terminateCamera() == 0, qPrintable(untraced(tracePath)));
}

// On a phone's compositor, which maximises every window to its 360x720 screen: the scene
// upright across the screen's width; a tap on Shutter takes an upright picture; the
// full-screen frame fills the screen; a second start activates the first's window.
void TestCameraWayland::phoneScreenOnPhoc()
{
    const QString reason = Compositor::unavailableReason(Compositor::Kind::Phoc);
    if (!reason.isEmpty())
        QSKIP(qPrintable(reason));
    if (!QDBusConnection::sessionBus().isConnected())
        QSKIP("no D-Bus session bus (run under dbus-run-session)");
    Compositor phoc(Compositor::Kind::Phoc);
    VirtualPda pda;
    const QString tracePath = pda.dir.path() + "/wayland.trace";
    pda.errorFile = tracePath;
    pda.cameraEnv.insert("WAYLAND_DEBUG", "client");
    QVERIFY(startOnWeston(pda, phoc, "[Option]\nSaveTo=0\n"));

    // Landscape: the scene fills the viewfinder, the form scaled to the screen's width with
    // no title bar above it. On the way there the window shows for a moment at its own size
    // and then with the toolkit's bar: only the form's place at the end counts.
    const QSize screen = phoc.size();
    const double scale = screen.width() / 240.0;
    const QRect filled(0, 0, screen.width(), qRound(160 * scale));
    QRect landscape;
    QImage shot;
    waitFor([&] {
        shot = waitForScene(phoc, QSize(), &landscape, "phoc-window", 3000);
        return !shot.isNull() && landscape == filled;
    }, 20000);
    QVERIFY2(!shot.isNull() && landscape == filled,
             qPrintable(QStringLiteral("the scene shows %1x%2 at %3,%4, not across the top")
                            .arg(landscape.width()).arg(landscape.height())
                            .arg(landscape.x()).arg(landscape.y())));
    QString problem = sceneProblem(shot.copy(landscape));
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    const QPoint viewfinder = landscape.topLeft();

    // A tap on Shutter, at the form's bottom right.
    const QPoint shutter = onForm(viewfinder, scale, QPoint(192, 264));
    QVERIFY(phoc.click(shutter.x(), shutter.y()));
    const QString picture = pda.picturesDir() + "/pic0001.jpg";
    QVERIFY(waitFor([&] { return QImage(picture).size() == QSize(480, 320); }, 5000));
    problem = sceneProblem(QImage(picture));
    QVERIFY2(problem.isEmpty(), qPrintable(problem));

    // The display mode button to Portrait, then the full-screen button beside it.
    const QPoint displayMode = onForm(viewfinder, scale, QPoint(101, 173));
    QVERIFY(phoc.click(displayMode.x(), displayMode.y()));
    QRect portrait;
    QVERIFY(!waitForScene(phoc, QSize(120, 160) * scale, &portrait).isNull());
    const QPoint fullScreenButton = onForm(viewfinder, scale, QPoint(12, 174));
    QVERIFY(phoc.click(fullScreenButton.x(), fullScreenButton.y()));
    QRect full;
    shot = QImage();
    QVERIFY(waitFor([&] {
        shot = waitForScene(phoc, QSize(), &full, "phoc-fullscreen", 1000);
        return !shot.isNull() && full.height() >= 320;
    }, 15000));
    problem = sceneProblem(shot.copy(full));
    QVERIFY2(problem.isEmpty(), qPrintable(problem));

    // A second start asks the first's window to the front and ends.
    // Qt activates the camera's own windows as they show: only those after the second
    // start count.
    QVERIFY(phoc.key("space"));
    QVERIFY(!waitForScene(phoc, portrait.size(), &portrait).isNull());
    ClientTrace trace = ClientTrace::read(tracePath);
    const auto before = trace.activated.size();
    QProcess second;
    pda.errorFile = pda.dir.path() + "/second.trace";
    QVERIFY(pda.startCameraProcess(second));
    QVERIFY(second.waitForFinished(30000));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
    // With the token the compositor issued to the second start: Qt's own activation of
    // the shown window uses one of the first's.
    const QStringList secondTokens = ClientTrace::read(pda.errorFile).tokens;
    QCOMPARE(secondTokens.size(), 1);
    const auto handedOver = [&] {
        for (const auto& [given, surface] : trace.activated.mid(before))
            if (given == secondTokens.first() && trace.windows.contains(surface))
                return true;
        return false;
    };
    QVERIFY(waitFor([&] { trace = ClientTrace::read(tracePath); return handedOver(); }, 20000));
    QVERIFY2(pda.terminateCamera() == 0, qPrintable(untraced(tracePath)));

    // What a phone's user should see: the full-screen frame across the whole screen,
    // upright and in its proportions.
    QVERIFY2(full.width() >= screen.width() - 8 && qAbs(full.height() - full.width() * 4 / 3) <= 8,
             qPrintable(QStringLiteral("the full screen shows %1x%2").arg(full.width()).arg(full.height())));
    QVERIFY(qAbs(full.center().y() - screen.height() / 2) <= 8);
}

int main(int argc, char** argv)
{
    e2e::privateMounts();
    QCoreApplication app(argc, argv);
    TestCameraWayland test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_camera_wayland.moc"
