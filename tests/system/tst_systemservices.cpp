// System services against a private session bus and the card emulator: screen saver
// messages on power changes, the document-list notice, memory-card notices, the buzzer.
#include "platform/qcop.h"
#include "system/systemservices.h"
#include "support/busready.h"
#include "support/testenvironment.h"
#include "tools/cardmount.h"

#include <QDBusConnection>
#include <QPushButton>
#include <QSignalSpy>

namespace {

// A power-supply folder as the kernel lists it.
class PowerFixture {
public:
    PowerFixture()
    {
        qputenv("PDA_POWER_SUPPLY_DIR", QFile::encodeName(dir.path()));
    }
    ~PowerFixture() { qunsetenv("PDA_POWER_SUPPLY_DIR"); }
    void supply(const QString& name, const QMap<QString, QString>& files)
    {
        QDir().mkpath(dir.filePath(name));
        for (auto it = files.cbegin(); it != files.cend(); ++it) {
            QFile f(dir.filePath(name + '/' + it.key()));
            QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
            f.write(it.value().toLatin1() + '\n');
        }
    }
    QTemporaryDir dir;
};

QList<int> screenSaverValues(const QSignalSpy& spy)
{
    QList<int> values;
    for (const QList<QVariant>& message : spy) {
        if (message.at(0).toByteArray() != "setScreenSaverMode(int)")
            continue;
        QDataStream in(message.at(1).toByteArray());
        int value = -1;
        in >> value;
        values << value;
    }
    return values;
}

bool haveBus()
{
    return QDBusConnection::sessionBus().isConnected();
}

} // namespace

class TestSystemServices : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY(busDeliversInOrder()); }
    void screenSaverLevels_data();
    void screenSaverLevels();
    void screenSaverFollowsPowerOnTicks_data();
    void screenSaverFollowsPowerOnTicks();
    void powerReadAtMostEveryRefresh();
    void exitSendsOneLinkChanged();
    void cardNoticeRechecksStorage();
    void otherCardMessagesIgnored();
    void cardLockNeverFromAFailingNode();
    void buzzerAndCardShutter();
};

void TestSystemServices::screenSaverLevels_data()
{
    QTest::addColumn<QList<unsigned>>("levels");
    QTest::addColumn<QList<bool>>("results");
    QTest::addColumn<QList<int>>("sent");
    QTest::newRow("each level once") << QList<unsigned>{0, 1, 2, 3} << QList<bool>{true, true, true, true}
                                     << QList<int>{100, 2, 1, 0};
    QTest::newRow("repeats send nothing") << QList<unsigned>{3, 3, 0, 0} << QList<bool>{true, true, true, true}
                                          << QList<int>{0, 100};
    QTest::newRow("refused above 3") << QList<unsigned>{4, unsigned(-1), 3} << QList<bool>{false, false, true}
                                     << QList<int>{0};
}

void TestSystemServices::screenSaverLevels()
{
    if (!haveBus())
        QSKIP("no session bus");
    QFETCH(QList<unsigned>, levels);
    QFETCH(QList<bool>, results);
    QFETCH(QList<int>, sent);
    TestEnvironment env;
    auto c = env.makeCamera();
    QCopChannel system("QPE/System");
    QSignalSpy spy(&system, &QCopChannel::received);
    for (int i = 0; i < levels.size(); ++i) {
        const int before = c->screenSaverLevel();
        QCOMPARE(c->setScreenSaver(levels[i]), results[i]);
        if (!results[i])
            QCOMPARE(c->screenSaverLevel(), before);
    }
    QTRY_COMPARE(screenSaverValues(spy), sent);
    QTest::qWait(50);
    QCOMPARE(screenSaverValues(spy), sent);
}

void TestSystemServices::screenSaverFollowsPowerOnTicks_data()
{
    QTest::addColumn<QString>("supply");
    QTest::addColumn<int>("value");
    // The supply a running camera then sees, and the value that follows; empty: no change.
    QTest::addColumn<QString>("changed");
    QTest::addColumn<int>("changedValue");
    QTest::newRow("mains online") << "mains" << 0 << "" << 0;
    QTest::newRow("battery good") << "good" << 0 << "" << 0;
    QTest::newRow("battery charging") << "charging" << 0 << "" << 0;
    QTest::newRow("battery low") << "low" << 100 << "" << 0;
    QTest::newRow("mains, then unplugged on a low battery") << "mains" << 0 << "low" << 100;
    QTest::newRow("battery low, then charging") << "low" << 100 << "charging" << 0;
}

void TestSystemServices::screenSaverFollowsPowerOnTicks()
{
    if (!haveBus())
        QSKIP("no session bus");
    const QString reason = CardMount::unavailableReason();
    if (!reason.isEmpty())
        QSKIP(qPrintable(reason));
    QFETCH(QString, supply);
    QFETCH(int, value);
    QFETCH(QString, changed);
    QFETCH(int, changedValue);
    PowerFixture power;
    const auto plug = [&power](const QString& state) {
        if (state == "mains") {
            power.supply("AC", {{"type", "Mains"}, {"online", "1"}});
            return;
        }
        power.supply("AC", {{"type", "Mains"}, {"online", "0"}});
        const QString status = state == "charging" ? "Charging" : "Discharging";
        const QString capacity = state == "low" ? "5" : (state == "good" ? "80" : "10");
        power.supply("BAT0", {{"type", "Battery"}, {"status", status}, {"capacity", capacity}});
    };
    plug(supply);
    CardMount card;
    QVERIFY(card.start());
    const QByteArray node = card.node("vdc");
    TestEnvironment env;
    env.paths.deviceNode = node.constData();
    QCopChannel system("QPE/System");
    QSignalSpy spy(&system, &QCopChannel::received);
    QList<int> expected{value};
    {
        Camera camera(nullptr, nullptr, {}, env.paths);
        QTest::qWait(300); // many ticks
        QTRY_COMPARE(screenSaverValues(spy), expected);
        if (!changed.isEmpty()) {
            // A running camera follows the supply: the power state is not read once only.
            plug(changed);
            expected << changedValue;
            QTRY_COMPARE(screenSaverValues(spy), expected);
        }
    }
    // Leaving restores level 0 (sends 100) unless it was already in force.
    if (expected.last() != 100)
        expected << 100;
    QTRY_COMPARE(screenSaverValues(spy), expected);
}

// The power state is read again once 250 ms of the clock have passed since the last read,
// not before: a change shows within that time.
void TestSystemServices::powerReadAtMostEveryRefresh()
{
    PowerFixture power;
    power.supply("AC", {{"type", "Mains"}, {"online", "1"}});
    TestEnvironment env;
    SystemServices services(env.missingNode.constData(), env.missingNode.constData(), nullptr);
    uint64_t now = 5000000;
    services.setClock([&now] { return now; });
    QVERIFY(services.isPowerOk());
    power.supply("AC", {{"type", "Mains"}, {"online", "0"}});
    power.supply("BAT0", {{"type", "Battery"}, {"status", "Discharging"}, {"capacity", "5"}});
    now += 249;
    QVERIFY(services.isPowerOk()); // not read again yet
    now += 1;
    QVERIFY(!services.isPowerOk());
    power.supply("AC", {{"type", "Mains"}, {"online", "1"}});
    now += 250;
    QVERIFY(services.isPowerOk());
}

void TestSystemServices::exitSendsOneLinkChanged()
{
    if (!haveBus())
        QSKIP("no session bus");
    TestEnvironment env;
    QCopChannel system("QPE/System");
    QSignalSpy spy(&system, &QCopChannel::received);
    env.makeCamera().reset();
    QByteArray emptyCString;
    {
        QDataStream out(&emptyCString, QIODevice::WriteOnly);
        out << static_cast<const char*>("");
    }
    QCOMPARE(emptyCString, QByteArray("\0\0\0\1\0", 5));
    QTRY_VERIFY(!spy.isEmpty());
    QTest::qWait(50);
    int links = 0;
    for (const QList<QVariant>& message : spy) {
        if (message.at(0).toByteArray() == "linkChanged(QString)") {
            ++links;
            QCOMPARE(message.at(1).toByteArray(), emptyCString);
        }
    }
    QCOMPARE(links, 1);
}

void TestSystemServices::cardNoticeRechecksStorage()
{
    if (!haveBus())
        QSKIP("no session bus");
    TestEnvironment env;
    auto c = env.makeCamera();
    QCOMPARE(c->selectSaveTo(1), 1);
    QDir(env.card).removeRecursively(); // the card is taken out
    {
        QCopEnvelope e("QPE/Card", "mtabChanged()");
    }
    QTRY_COMPARE(c->settings().saveTo, 0);
    QVERIFY(!c->PushButton3->isEnabled());
    QCOMPARE(c->PushButton3->text(), QString("Internal"));

    QDir().mkpath(env.card); // and put back: the storage stays internal until chosen
    {
        QCopEnvelope e("QPE/Card", "mtabChanged()");
    }
    QTRY_VERIFY(c->PushButton3->isEnabled());
    QCOMPARE(c->settings().saveTo, 0);
}

void TestSystemServices::otherCardMessagesIgnored()
{
    if (!haveBus())
        QSKIP("no session bus");
    TestEnvironment env;
    auto c = env.makeCamera();
    QCOMPARE(c->selectSaveTo(1), 1);
    QDir(env.card).removeRecursively();
    {
        QCopEnvelope e("QPE/Card", "stabChanged()");
    }
    {
        QCopEnvelope e("QPE/System", "mtabChanged()");
    }
    QTest::qWait(100);
    QCOMPARE(c->settings().saveTo, 1);
}

void TestSystemServices::cardLockNeverFromAFailingNode()
{
    TestEnvironment env;
    auto c = env.makeCamera();
    QVERIFY(!c->isCardLocked()); // missing node
    const QByteArray plain = QFile::encodeName(env.dir.filePath("plain"));
    QFile(env.dir.filePath("plain")).open(QIODevice::WriteOnly);
    // The ioctl fails on a plain file and on a node of another kind.
    QVERIFY(!SystemServices(env.missingNode.constData(), plain.constData(), nullptr).isCardLocked());
    QVERIFY(!SystemServices(env.missingNode.constData(), "/dev/null", nullptr).isCardLocked());
}

void TestSystemServices::buzzerAndCardShutter()
{
    const QString reason = CardMount::unavailableReason();
    if (!reason.isEmpty())
        QSKIP(qPrintable(reason));
    CardMount card;
    QVERIFY(card.start());
    const QByteArray node = card.node("vdc");
    const QByteArray buzzer = card.node("buz");
    TestEnvironment env;
    env.paths.deviceNode = node.constData();
    env.paths.buzzerNode = buzzer.constData();
    SystemServices(buzzer.constData(), env.missingNode.constData(), nullptr).soundBuzzer();
    QTRY_COMPARE(card.logLines().count("ioctl 0x5680 2"), 1);

    Camera camera(nullptr, nullptr, {}, env.paths);
    camera.show();
    camera.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&camera));
    QTRY_VERIFY(card.logLines().contains("read 153600 153600"));
    QVERIFY(card.control("shutter\n"));
    QTRY_VERIFY(camera.settings().serial == 1);
    QCOMPARE(card.logLines().count("ioctl 0x5680 2"), 2);
    QVERIFY(QFile::exists(env.home + "/Documents/Image_Files/pic0001.jpg"));
}

QTEST_MAIN(TestSystemServices)
#include "tst_systemservices.moc"
