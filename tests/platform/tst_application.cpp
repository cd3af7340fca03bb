// QPEApplication: SIGTERM and SIGINT close the main widget like its close button.
#include "platform/qcop.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QSignalSpy>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTest>

#include <csignal>

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
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("DBUS_SESSION_BUS_ADDRESS");
        env.remove("DISPLAY");
        env.insert("XDG_RUNTIME_DIR", "/nonexistent-runtime");
        p.setProcessEnvironment(env);
        startAndWaitReady(p, {});
        ::kill(pid_t(p.processId()), SIGTERM);
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitCode(), 0);
        const QByteArray err = p.readAllStandardError();
        QVERIFY2(!err.contains("DBus") && !err.contains("D-Bus"), err.constData());
    }
};

QTEST_GUILESS_MAIN(TestApplication)
#include "tst_application.moc"
