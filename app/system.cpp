// The system services: memory-card notices, power and screen saver, document-list
// refresh, the buzzer and the card's write protection.
#include "app/camera.h"

#include "storage/storageprobe.h"
#include "system/systemservices.h"

void Camera::initSystemServices()
{
    services = new SystemServices(paths.buzzerNode, paths.slotStatusNode, this);
    connect(services, &SystemServices::cardMessage, this, &Camera::cardMessage);
    rootDevice = paths.refuseRootFileSystem ? rootFileSystemDevice() : -1;
}

void Camera::cardMessage(const QByteArray& message, const QByteArray&)
{
    if (message == "mtabChanged()")
        selectSaveTo(values.saveTo);
}

bool Camera::isPowerOk() const
{
    return services->isPowerOk();
}

bool Camera::setScreenSaver(unsigned level)
{
    return services->setScreenSaver(level);
}

int Camera::screenSaverLevel() const
{
    return services->screenSaverLevel();
}

void Camera::notifyLinkChanged()
{
    services->notifyLinkChanged();
}

void Camera::soundBuzzer()
{
    services->soundBuzzer();
}

bool Camera::isCardLocked() const
{
    return !values.noCheckSdWp && services->isCardLocked();
}
