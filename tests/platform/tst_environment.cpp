// Power status, storage names, icons, QCop messages and the desktop's screen saver of the
// environment stand-in.
#include "e2e/screensaverservice.h"
#include "platform/mountwatcher.h"
#include "platform/powerstatus.h"
#include "platform/qcop.h"
#include "platform/resource.h"
#include "platform/screensaver.h"
#include "platform/storageinfo.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusPendingCallWatcher>
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using Supply = QMap<QString, QString>;  // attribute file -> content
using Supplies = QMap<QString, Supply>; // folder name -> attributes

class TestEnvironment : public QObject {
    Q_OBJECT

private slots:
    void power_data()
    {
        QTest::addColumn<Supplies>("supplies");
        QTest::addColumn<int>("ac");
        QTest::addColumn<int>("battery");
        QTest::addColumn<int>("percent");
        const Supply mainsOn{{"type", "Mains\n"}, {"online", "1\n"}};
        const Supply mainsOff{{"type", "Mains\n"}, {"online", "0\n"}};
        auto bat = [](const char* status, const char* capacity) {
            return Supply{{"type", "Battery\n"}, {"status", QString::fromLatin1(status) + "\n"},
                          {"capacity", QString::fromLatin1(capacity) + "\n"}};
        };
        QTest::newRow("empty folder: mains") << Supplies{} << int(PowerStatus::Online) << 0 << -1;
        QTest::newRow("mains online, charging")
            << Supplies{{"AC", mainsOn}, {"BAT0", bat("Charging", "50")}}
            << int(PowerStatus::Online) << (PowerStatus::Good | PowerStatus::Charging) << 50;
        QTest::newRow("mains offline, good")
            << Supplies{{"AC", mainsOff}, {"BAT0", bat("Discharging", "80")}}
            << int(PowerStatus::Offline) << int(PowerStatus::Good) << 80;
        QTest::newRow("battery only, good") << Supplies{{"BAT0", bat("Discharging", "21")}}
                                            << int(PowerStatus::Offline) << int(PowerStatus::Good) << 21;
        QTest::newRow("battery only, low at the limit") << Supplies{{"BAT0", bat("Discharging", "20")}}
                                                        << int(PowerStatus::Offline) << int(PowerStatus::Low) << 20;
        QTest::newRow("battery only, low charging")
            << Supplies{{"BAT0", bat("Charging", "5")}} << int(PowerStatus::Offline)
            << (PowerStatus::Low | PowerStatus::Charging) << 5;
        QTest::newRow("battery only, full at low capacity")
            << Supplies{{"BAT0", bat("Full", "10")}} << int(PowerStatus::Offline) << int(PowerStatus::Good) << 10;
        QTest::newRow("battery without capacity")
            << Supplies{{"BAT0", Supply{{"type", "Battery"}, {"status", "Discharging"}}}}
            << int(PowerStatus::Offline) << int(PowerStatus::Low) << -1;
        QTest::newRow("mains online without battery") << Supplies{{"AC", mainsOn}} << int(PowerStatus::Online) << 0 << -1;
        QTest::newRow("usb supply online: external power")
            << Supplies{{"usb", Supply{{"type", "USB"}, {"online", "1"}}}, {"BAT0", bat("Discharging", "90")}}
            << int(PowerStatus::Online) << int(PowerStatus::Good) << 90;
        QTest::newRow("usb supply offline, mains offline: battery")
            << Supplies{{"AC", mainsOff}, {"usb", Supply{{"type", "USB"}, {"online", "0"}}},
                        {"BAT0", bat("Discharging", "15")}}
            << int(PowerStatus::Offline) << int(PowerStatus::Low) << 15;
        QTest::newRow("usb-c supply online beside an offline mains")
            << Supplies{{"AC", mainsOff}, {"ucsi", Supply{{"type", "USB"}, {"online", "1"}}},
                        {"BAT0", bat("Charging", "40")}}
            << int(PowerStatus::Online) << (PowerStatus::Good | PowerStatus::Charging) << 40;
    }
    void power()
    {
        QFETCH(Supplies, supplies);
        QFETCH(int, ac);
        QFETCH(int, battery);
        QFETCH(int, percent);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        for (auto it = supplies.cbegin(); it != supplies.cend(); ++it) {
            QVERIFY(QDir(dir.path()).mkdir(it.key()));
            for (auto attr = it->cbegin(); attr != it->cend(); ++attr) {
                QFile f(dir.path() + "/" + it.key() + "/" + attr.key());
                QVERIFY(f.open(QIODevice::WriteOnly));
                f.write(attr->toLatin1());
            }
        }
        qputenv("PDA_POWER_SUPPLY_DIR", QFile::encodeName(dir.path()));
        const PowerStatus s = PowerStatusManager::readStatus();
        QCOMPARE(s.acStatus, ac);
        QCOMPARE(s.batteryStatus, battery);
        QCOMPARE(s.batteryPercent, percent);
    }

    void powerMissingFolder()
    {
        qputenv("PDA_POWER_SUPPLY_DIR", "/nonexistent/power_supply");
        const PowerStatus s = PowerStatusManager::readStatus();
        QCOMPARE(s.acStatus, int(PowerStatus::Online));
        QCOMPARE(s.batteryStatus, 0);
    }

    void storageNames()
    {
        QCOMPARE(StorageInfo::getDefaultStorageName(0, false), QStringLiteral("Internal"));
        QCOMPARE(StorageInfo::getDefaultStorageName(1, false), QStringLiteral("Memory Card"));
        QCOMPARE(StorageInfo::getDefaultStorageName(2, false), QString());
        QCOMPARE(StorageInfo::getDefaultStorageName(-1, false), QString());
    }

    void icons_data()
    {
        QTest::addColumn<QString>("name");
        for (const char* name : {"Camera", "fullscreen", "camera/CameraN.png", "camera/CameraR.png", "up", "back"})
            QTest::newRow(name) << QString::fromLatin1(name);
    }
    void icons()
    {
        QFETCH(QString, name);
        const QPixmap p = Resource::loadPixmap(name);
        QVERIFY(!p.isNull());
        QCOMPARE(p.size(), QSize(24, 24));
        // Something is drawn: not one flat colour.
        const QImage img = p.toImage();
        QSet<QRgb> colours;
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x)
                colours.insert(img.pixel(x, y));
        QVERIFY(colours.size() > 2);
    }

    void iconsDiffer()
    {
        const QImage normal = Resource::loadPixmap("camera/CameraN.png").toImage();
        const QImage mirror = Resource::loadPixmap("camera/CameraR.png").toImage();
        QVERIFY(normal != mirror);
        // The mirror image, up to anti-aliasing at the edges.
        const QImage flipped = normal.mirrored(true, false);
        int differing = 0;
        for (int y = 0; y < 24; ++y) {
            for (int x = 0; x < 24; ++x) {
                const QRgb a = flipped.pixel(x, y), b = mirror.pixel(x, y);
                if (qAbs(qRed(a) - qRed(b)) > 48 || qAbs(qGreen(a) - qGreen(b)) > 48
                    || qAbs(qBlue(a) - qBlue(b)) > 48 || qAbs(qAlpha(a) - qAlpha(b)) > 48)
                    ++differing;
            }
        }
        QVERIFY2(differing < 24 * 24 / 20, qPrintable(QString::number(differing)));
        QVERIFY(Resource::loadPixmap("up").toImage() != Resource::loadPixmap("back").toImage());
    }

    void unknownIcon()
    {
        QVERIFY(Resource::loadPixmap("nothing").isNull());
        QVERIFY(Resource::loadPixmap("").isNull());
        QVERIFY(Resource::loadPixmap("camera").isNull());  // names are case-sensitive
    }

    // Notices from the kernel ("k") and from the bus ("b"), each with the mount table as it
    // then reads (a letter) and the time in seconds; which of them reach the listeners. The
    // table starts as "a".
    void cardNotices_data()
    {
        QTest::addColumn<QStringList>("notices");
        QTest::addColumn<QString>("delivered");
        QTest::newRow("kernel, each change once") << QStringList{"kb0", "kc1", "ka2"} << "yyy";
        QTest::newRow("kernel wake-up without a change") << QStringList{"ka0", "kb0", "kb1"} << "nyn";
        QTest::newRow("environment follows the kernel: its echo dropped")
            << QStringList{"kb0", "bb0", "kc5", "bc6"} << "ynyn";
        QTest::newRow("environment first: the kernel's wake-up finds nothing new")
            << QStringList{"bb0", "kb0", "bc5", "kc5"} << "ynyn";
        QTest::newRow("environment alone, table unchanged: always through")
            << QStringList{"ba0", "ba0", "ba9"} << "yyy";
        QTest::newRow("one echo only: a second bus notice passes")
            << QStringList{"kb0", "bb1", "bb1"} << "yny";
        QTest::newRow("two changes in one wake-up, one echo each side")
            << QStringList{"kc0", "bc0", "kc0"} << "ynn";
        QTest::newRow("echo window: 2 s still an echo") << QStringList{"kb0", "bb2"} << "yn";
        QTest::newRow("echo window: 3 s later a notice of its own") << QStringList{"kb0", "bb3"} << "yy";
    }
    void cardNotices()
    {
        QFETCH(QStringList, notices);
        QFETCH(QString, delivered);
        pda::CardNoticeFilter filter("a");
        QString got;
        for (const QString& n : notices) {
            const QByteArray table = n.mid(1, 1).toLatin1();
            const qint64 ms = n.mid(2).toLongLong() * 1000;
            const bool through = n.startsWith('k') ? filter.fromKernel(table, ms)
                                                   : filter.fromBus(table, ms);
            got += through ? 'y' : 'n';
        }
        QCOMPARE(got, delivered);
    }

    // The levels the camera asks for reach the session's screen saver as Inhibit and
    // UnInhibit, also when the hold is given up before the session has granted it.
    void screenSaverHolds_data()
    {
        QTest::addColumn<QStringList>("steps"); // modes set; "answer": the bus delivers
        QTest::addColumn<QStringList>("events");
        QTest::addColumn<int>("held");
        QTest::newRow("held") << QStringList{"0", "answer"} << QStringList{"Inhibit camera 1"} << 1;
        QTest::newRow("held, then let go")
            << QStringList{"0", "answer", "3"} << QStringList{"Inhibit camera 1", "UnInhibit 1"} << 0;
        QTest::newRow("let go while the hold is being granted")
            << QStringList{"0", "3"} << QStringList{"Inhibit camera 1", "UnInhibit 1"} << 0;
        QTest::newRow("let go and held again while it is being granted")
            << QStringList{"0", "3", "0"} << QStringList{"Inhibit camera 1"} << 1;
        QTest::newRow("held again after letting go")
            << QStringList{"0", "answer", "3", "answer", "0"}
            << QStringList{"Inhibit camera 1", "UnInhibit 1", "Inhibit camera 2"} << 1;
    }
    void screenSaverHolds()
    {
        QFETCH(QStringList, steps);
        QFETCH(QStringList, events);
        QFETCH(int, held);
        if (!QDBusConnection::sessionBus().isConnected())
            QSKIP("no D-Bus session bus (run under dbus-run-session)");
        const QString name = QStringLiteral("screensaver-service");
        auto service = std::make_unique<ScreenSaverService>(
            QDBusConnection::connectToBus(QDBusConnection::SessionBus, name));
        QVERIFY(service->start());
        pda::ScreenSaverInhibitor inhibitor(QStringLiteral("camera"), QStringLiteral("in use"));
        int answers = 0;
        for (const QString& step : steps) {
            if (step != "answer") {
                inhibitor.setMode(step.toInt());
                continue;
            }
            // The service has answered and the answer has come back: no call under way.
            ++answers;
            QTRY_COMPARE(int(service->events.size()), answers);
            QTRY_VERIFY(inhibitor.findChildren<QDBusPendingCallWatcher*>().isEmpty());
        }
        QTRY_COMPARE(service->events, events);
        QTest::qWait(100);
        QCOMPARE(service->events, events);
        QCOMPARE(service->held(), held);
        // Gone before the inhibitor lets go at its end, which then waits for no answer.
        service.reset();
        QDBusConnection::disconnectFromBus(name);
    }

    void qcopDelivered()
    {
        if (!QDBusConnection::sessionBus().isConnected())
            QSKIP("no D-Bus session bus (run under dbus-run-session)");
        QCopChannel card("QPE/Card");
        QCopChannel system("QPE/System");
        QSignalSpy cardSpy(&card, &QCopChannel::received);
        QSignalSpy systemSpy(&system, &QCopChannel::received);
        QByteArray expected;
        {
            QDataStream ds(&expected, QIODevice::WriteOnly);
            ds << 42 << "" << QString("text");
        }
        {
            QCopEnvelope e("QPE/System", "setScreenSaverMode(int)");
            e << 42 << "" << QString("text");
        }
        {
            QCopEnvelope e("QPE/Other", "ignored()");
        }
        QTRY_COMPARE(systemSpy.count(), 1);
        QCOMPARE(systemSpy.at(0).at(0).toByteArray(), QByteArray("setScreenSaverMode(int)"));
        QCOMPARE(systemSpy.at(0).at(1).toByteArray(), expected);
        {
            QCopEnvelope e("QPE/Card", "mtabChanged()");
        }
        QTRY_COMPARE(cardSpy.count(), 1);
        QCOMPARE(cardSpy.at(0).at(0).toByteArray(), QByteArray("mtabChanged()"));
        QVERIFY(cardSpy.at(0).at(1).toByteArray().isEmpty());
        QTest::qWait(50);
        QCOMPARE(systemSpy.count(), 1);  // neither the card nor the other channel's message
    }
};

QTEST_MAIN(TestEnvironment)
#include "tst_environment.moc"
