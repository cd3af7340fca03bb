// The camera's dealings with its surroundings: memory-card notices, power and screen
// saver, document-list refresh, the buzzer and the card's write protection.
#include "app/camera.h"

#include "platform/powerstatus.h"
#include "platform/qcop.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

const char* Camera::buzzerNode = "/dev/orvane_buz";
const char* Camera::slotStatusNode = "/dev/sd_slotstat";

namespace {

constexpr unsigned long buzzerRequest = 0x5680;
constexpr unsigned long slotStatusRequest = 0x5681;
constexpr int screenSaverModes[4] = {100, 2, 1, 0};

// A node opened for one request and closed on every path.
class NodeHandle {
public:
    NodeHandle(const char* path, int flags)
        : fd(::open(path, flags))
    {
    }
    ~NodeHandle()
    {
        if (fd >= 0)
            ::close(fd);
    }
    NodeHandle(const NodeHandle&) = delete;
    NodeHandle& operator=(const NodeHandle&) = delete;
    int fd;
};

} // namespace

void Camera::initSystemServices()
{
    auto* channel = new QCopChannel(QByteArrayLiteral("QPE/Card"), this);
    connect(channel, &QCopChannel::received, this, &Camera::cardMessage);

    struct stat st;
    rootDevice = stat("/", &st) == 0 ? int32_t(uint32_t(st.st_dev)) : -1;
}

void Camera::cardMessage(const QByteArray& message, const QByteArray&)
{
    if (message == "mtabChanged()")
        selectSaveTo(saveTo);
}

bool Camera::isPowerOk() const
{
    const PowerStatus status = PowerStatusManager::readStatus();
    if (status.acStatus != 0)
        return true;
    return status.batteryStatus & (PowerStatus::Good | PowerStatus::Charging);
}

bool Camera::setScreenSaver(unsigned level)
{
    if (level > 3)
        return false;
    if (int(level) == screenSaverLevel)
        return true;
    screenSaverLevel = int(level);
    QCopEnvelope e(QByteArrayLiteral("QPE/System"), QByteArrayLiteral("setScreenSaverMode(int)"));
    e << screenSaverModes[level];
    return true;
}

void Camera::notifyLinkChanged()
{
    QCopEnvelope e(QByteArrayLiteral("QPE/System"), QByteArrayLiteral("linkChanged(QString)"));
    // Written as a C string, as the receiver has always read it.
    e << static_cast<const char*>("");
}

void Camera::soundBuzzer()
{
    NodeHandle node(buzzerNode, O_RDWR | O_NONBLOCK);
    if (node.fd < 0)
        return;
    ::ioctl(node.fd, buzzerRequest, 2);
}

bool Camera::isCardLocked() const
{
    if (noCheckSdWp)
        return false;
    NodeHandle node(slotStatusNode, O_RDONLY);
    if (node.fd < 0)
        return false;
    int32_t record[3] = {0, 0, 0};
    const int result = ::ioctl(node.fd, slotStatusRequest, record);
    return result == 0 && record[1] != 0;
}
