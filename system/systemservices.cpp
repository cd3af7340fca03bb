#include "system/systemservices.h"

#include "platform/devicenodes.h"
#include "platform/powerstatus.h"
#include "platform/qcop.h"
#include "platform/uniquefd.h"

#include <cstdint>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

namespace {

constexpr int screenSaverModes[4] = {100, 2, 1, 0};

// The coarse clock is read without a system call; its few milliseconds of granularity do
// not matter at the power state's interval.
uint64_t coarseMonotonicMs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
    return uint64_t(now.tv_sec) * 1000u + uint64_t(now.tv_nsec) / 1000000u;
}

} // namespace

SystemServices::SystemServices(const char* buzzerNode, const char* slotStatusNode,
                               QObject* parent)
    : QObject(parent)
    , buzzerNode(buzzerNode)
    , slotStatusNode(slotStatusNode)
    , monotonicMs(coarseMonotonicMs)
{
    auto* channel = new QCopChannel(QByteArrayLiteral("QPE/Card"), this);
    connect(channel, &QCopChannel::received, this, &SystemServices::cardMessage);
}

bool SystemServices::isPowerOk() const
{
    const uint64_t nowMs = monotonicMs();
    if (powerKnown && nowMs - powerReadMs < powerRefreshMs)
        return powerOk;
    const PowerStatus status = PowerStatusManager::readStatus();
    powerOk = status.acStatus != 0
        || (status.batteryStatus & (PowerStatus::Good | PowerStatus::Charging));
    powerKnown = true;
    powerReadMs = nowMs;
    return powerOk;
}

bool SystemServices::setScreenSaver(unsigned wanted)
{
    if (wanted > 3)
        return false;
    if (int(wanted) == level)
        return true;
    level = int(wanted);
    QCopEnvelope e(QByteArrayLiteral("QPE/System"), QByteArrayLiteral("setScreenSaverMode(int)"));
    e << screenSaverModes[wanted];
    return true;
}

void SystemServices::notifyLinkChanged()
{
    QCopEnvelope e(QByteArrayLiteral("QPE/System"), QByteArrayLiteral("linkChanged(QString)"));
    // Written as a C string, as the receiver has always read it.
    e << static_cast<const char*>("");
}

void SystemServices::soundBuzzer() const
{
    const UniqueFd node(::open(buzzerNode, O_RDWR | O_NONBLOCK));
    if (!node.valid())
        return;
    ::ioctl(node.get(), pdaBuzzerRequest, 2);
}

bool SystemServices::isCardLocked() const
{
    const UniqueFd node(::open(slotStatusNode, O_RDONLY));
    if (!node.valid())
        return false;
    int32_t record[3] = {0, 0, 0};
    const int result = ::ioctl(node.get(), pdaSlotStatusRequest, record);
    return result == 0 && record[1] != 0;
}
