// QPEApplication: SIGTERM and SIGINT close the main widget like its close button; memory-card
// notices from the mount table; one instance at a time.
#include "platform/qcop.h"
#include "e2e/privatemounts.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/mount.h>

namespace {

// Set by main: this process and its children have a mount namespace of their own, so the
// mount table changes only when a test changes it.
bool privateMounts = false;

QProcessEnvironment withoutBus()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("DBUS_SESSION_BUS_ADDRESS");
    env.remove("DISPLAY");
    env.insert("XDG_RUNTIME_DIR", "/nonexistent-runtime");
    return env;
}

} // namespace

class TestApplication : public QObject {
    Q_OBJECT

    QString helper() const { return QCoreApplication::applicationDirPath() + "/pda_signal_helper"; }

    void startAndWaitReady(QProcess& p, const QStringList& args)
    {
        p.start(helper(), args);
        QVERIFY2(p.waitForStarted(5000), qPrintable(p.errorString()));
        QByteArray out;
        QTRY_VERIFY_WITH_TIMEOUT((out += p.readAllStandardOutput()).contains("ready"),
                                 10000);
        QVERIFY2(out == "ready\n", out.constData());
    }

private slots:
    void signalClosesMainWidget_data()
    {
        QTest::addColumn<int>("signo");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGINT") << int(SIGINT);
    }
    void signalClosesMainWidget()
    {
        QFETCH(int, signo);
        const bool bus = QDBusConnection::sessionBus().isConnected();
        QCopChannel system("QPE/System");
        QSignalSpy spy(&system, &QCopChannel::received);
        QProcess p;
        startAndWaitReady(p, {});
        ::kill(pid_t(p.processId()), signo);
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 0);
        const QByteArray out = p.readAllStandardOutput();
        QVERIFY2(out.contains("closeEvent\ndestroyed\n"), out.constData());
        if (bus) {
            // The message sent by the closing window left before the process ended.
            QByteArray expected;
            QDataStream(&expected, QIODevice::WriteOnly) << "";
            QTRY_COMPARE(spy.count(), 1);
            QCOMPARE(spy.at(0).at(0).toByteArray(), QByteArray("linkChanged(QString)"));
            QCOMPARE(spy.at(0).at(1).toByteArray(), expected);
        }
    }

    void secondSignalEndsAtOnce()
    {
        QProcess p;
        startAndWaitReady(p, {"slow"});
        ::kill(pid_t(p.processId()), SIGTERM);
        QByteArray out;
        QTRY_VERIFY_WITH_TIMEOUT((out += p.readAllStandardOutput()).contains("closeEvent"), 10000);
        ::kill(pid_t(p.processId()), SIGTERM);
        QVERIFY(p.waitForFinished(1500));  // well before the two-second close ends
        QCOMPARE(p.exitCode(), 128 + SIGTERM);
        QVERIFY(!(out + p.readAllStandardOutput()).contains("destroyed"));
    }

    void quietWithoutSessionBus()
    {
        QProcess p;
        p.setProcessEnvironment(withoutBus());
        startAndWaitReady(p, {});
        ::kill(pid_t(p.processId()), SIGTERM);
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitCode(), 0);
        const QByteArray err = p.readAllStandardError();
        QVERIFY2(!err.contains("DBus") && !err.contains("D-Bus"), err.constData());
    }

    // A file system mounted and unmounted under the running application: one "mtabChanged()"
    // on "QPE/Card" each time, none while nothing changes, and the environment's own notice
    // of the same change (sent over the bus before or after the kernel's) does not repeat it.
    void cardNoticeOncePerChange_data()
    {
        QTest::addColumn<bool>("bus");
        QTest::addColumn<int>("environment");  // 0: none, 1: notice after ours, 2: at once
        QTest::newRow("kernel only") << true << 0;
        QTest::newRow("environment's notice follows") << true << 1;
        QTest::newRow("environment's notice races the kernel's") << true << 2;
        QTest::newRow("without a session bus") << false << 0;
    }
    void cardNoticeOncePerChange()
    {
        QFETCH(bool, bus);
        QFETCH(int, environment);
        if (!privateMounts)
            QSKIP("needs root for a mount namespace of the test's own");
        if (bus && !QDBusConnection::sessionBus().isConnected())
            QSKIP("no D-Bus session bus (run under dbus-run-session)");
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QByteArray point = QFile::encodeName(dir.path());

        QProcess p;
        if (!bus)
            p.setProcessEnvironment(withoutBus());
        startAndWaitReady(p, {"card"});
        QByteArray out;
        const auto notices = [&] { return (out += p.readAllStandardOutput()).count("mtabChanged()\n"); };
        const auto environmentNotice = [] { QCopEnvelope e("QPE/Card", "mtabChanged()"); };

        for (int change = 1; change <= 2; ++change) {
            if (change == 1)
                QCOMPARE(::mount("pda-test", point.constData(), "tmpfs", 0, "size=64k"), 0);
            else
                QCOMPARE(::umount2(point.constData(), 0), 0);
            if (environment == 2)
                environmentNotice();
            QTRY_COMPARE(notices(), change);
            if (environment == 1)
                environmentNotice();
            QTest::qWait(300);
            QCOMPARE(notices(), change);
        }
        if (bus) {
            // With no change of ours to repeat, the environment's word counts. Only right
            // after a change the kernel told of is a notice taken for the environment's.
            const int echo = environment == 0 ? 1 : 0;
            environmentNotice();
            environmentNotice();
            QTRY_COMPARE(notices(), 4 - echo);
            QTest::qWait(300);
            QCOMPARE(notices(), 4 - echo);
        }
        p.terminate();
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitCode(), 0);
    }

    // A second start while one runs: it asks the first to come to the front and ends at once
    // with status 0; the first, minimized, is shown again. Without a bus both simply run.
    void secondInstance_data()
    {
        QTest::addColumn<bool>("bus");
        QTest::newRow("on the session bus") << true;
        QTest::newRow("without a session bus") << false;
    }
    void secondInstance()
    {
        QFETCH(bool, bus);
        if (bus && !QDBusConnection::sessionBus().isConnected())
            QSKIP("no D-Bus session bus (run under dbus-run-session)");
        QProcess first;
        QProcess second;
        if (!bus) {
            first.setProcessEnvironment(withoutBus());
            second.setProcessEnvironment(withoutBus());
        }
        startAndWaitReady(first, {"single", "minimized"});
        if (bus) {
            QElapsedTimer clock;
            clock.start();
            second.start(helper(), {"single"});
            QVERIFY(second.waitForFinished(5000));
            QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
            QCOMPARE(second.exitCode(), 0);
            QCOMPARE(second.readAllStandardOutput(), QByteArray("second\n"));
            QByteArray out;
            QTRY_VERIFY((out += first.readAllStandardOutput()).contains("normal\n"));
        } else {
            startAndWaitReady(second, {"single"});
            second.terminate();
            QVERIFY(second.waitForFinished(10000));
            QCOMPARE(second.exitCode(), 0);
        }
        QCOMPARE(first.state(), QProcess::Running);
        // A first instance that died leaves the name free for the next.
        first.kill();
        QVERIFY(first.waitForFinished(5000));
        QProcess third;
        startAndWaitReady(third, {"single"});
        third.terminate();
        QVERIFY(third.waitForFinished(10000));
        QCOMPARE(third.exitCode(), 0);
    }
};

int main(int argc, char** argv)
{
    privateMounts = e2e::privateMounts();
    QCoreApplication app(argc, argv);
    TestApplication test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_application.moc"
