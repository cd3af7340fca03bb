// The settings file: read once at start, a few values written back at exit.
#include "app/camera.h"

#include "platform/config.h"
#include "settings/settings.h"

void Camera::loadSettings()
{
    Config config(cameraSettingsName(), Config::User);
    values = readCameraSettings(config, tr("pic"));
}

void Camera::saveSettings()
{
    Config config(cameraSettingsName(), Config::User);
    writeCameraSettings(config, values);
}
