#include "bench/support/benchsupport.h"

#include "device/cameradevice.h"

#include <QFile>
#include <QFileInfo>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QImage>
#include <QTimer>
#include <QTimerEvent>

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace bench {

double median(std::vector<double> samples)
{
    if (samples.empty())
        return 0;
    std::nth_element(samples.begin(), samples.begin() + samples.size() / 2, samples.end());
    return samples[samples.size() / 2];
}

CardEmulator::~CardEmulator()
{
    stop();
}

bool CardEmulator::start(const QString& folder, const QString& mount, const QString& log,
                         int frameMs)
{
    // In the virtual PDA (scripts/bench starts it) the links are nobody else's.
    const QFileInfo node(QString::fromLatin1(linkedNode));
    if (node.exists() || node.isSymLink()) {
        std::fprintf(stderr, "%s exists: run the bench in a virtual PDA (scripts/bench)\n",
                     linkedNode);
        return false;
    }
    mountPath = mount;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(folder + QStringLiteral("/camera-card-emulator"),
                  {QStringLiteral("--mount"), mount, QStringLiteral("--link"),
                   QStringLiteral("--log"), log, QStringLiteral("--frame-ms"),
                   QString::number(frameMs)});
    if (!process.waitForStarted(5000) || !process.waitForReadyRead(5000)
        || !process.readAllStandardOutput().contains("ready")) {
        std::fprintf(stderr, "the camera card emulator did not start (root is needed for --link)\n");
        stop();
        return false;
    }
    return true;
}

void CardEmulator::stop()
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished(2000);
    }
}

long LogCounter::update()
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || !file.seek(offset))
        return matches;
    const QByteArray added = file.readAll();
    offset += added.size();
    partial += added;
    qsizetype start = 0;
    for (qsizetype end = partial.indexOf('\n'); end >= 0; end = partial.indexOf('\n', start)) {
        if (QByteArrayView(partial.constData() + start, end - start) == QByteArrayView(wanted))
            ++matches;
        start = end + 1;
    }
    partial.remove(0, start);
    return matches;
}

double frameCycleMs(const QString& node, int cycles)
{
    QImage image(240, 320, QImage::Format_RGB16);
    const QByteArray path = QFile::encodeName(node);
    CameraDevice device(path.constData());
    bool ok = device.sendGeometry(image, true, 240, 160, 256);
    for (int i = 0; i < 50; ++i)  // warm up: caches, the emulator's threads
        ok = device.readFrame(image) && ok;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < cycles; ++i)
        ok = device.readFrame(image) && ok;
    const std::chrono::duration<double, std::milli> spent = std::chrono::steady_clock::now() - start;
    return ok ? spent.count() / cycles : -1;
}

namespace {

class TickLoop : public QObject {
public:
    TickLoop(CameraDevice& device, Qt::TimerType type) : device(device), type(type)
    {
        id = startTimer(10, type);
    }
    long frames = 0;

protected:
    void timerEvent(QTimerEvent*) override
    {
        killTimer(id);
        device.readStatus();
        if (device.readFrame(image))
            ++frames;
        device.sendC();
        id = startTimer(10, type);
    }

private:
    CameraDevice& device;
    Qt::TimerType type;
    QImage image{240, 320, QImage::Format_RGB16};
    int id = 0;
};

}  // namespace

double tickLoopRate(const QString& node, int seconds, Qt::TimerType type)
{
    const QByteArray path = QFile::encodeName(node);
    CameraDevice device(path.constData());
    QImage image(240, 320, QImage::Format_RGB16);
    device.sendGeometry(image, true, 240, 160, 256);
    TickLoop loop(device, type);
    QEventLoop events;
    QTimer::singleShot(seconds * 1000, &events, &QEventLoop::quit);
    QElapsedTimer clock;
    clock.start();
    events.exec();
    return double(loop.frames) / (double(clock.nsecsElapsed()) / 1e9);
}

long residentKb(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (QByteArray line = status.readLine(); !line.isEmpty(); line = status.readLine()) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

}  // namespace bench
