#pragma once
// The settings file "OrvaneCamera": its keys, defaults, limits and write-back rules.
// readCameraSettings serves Camera::loadSettings, writeCameraSettings Camera::saveSettings.
#include <QString>
#include <cstdint>

class Config;

// Every value the file holds, settled into its range. Strings are UTF-8, NUL-terminated, and
// keep the whole characters that fit their buffers.
struct CameraSettings {
    int32_t slowCapture = 12;
    int32_t dispModeMax = 2;
    int32_t dispMode = 0;
    int32_t resolutionMax = 8;
    int32_t resolution = 0;
    int32_t quality = 0;
    int32_t qualityNormal = 30;
    int32_t qualityFine = 90;
    int32_t saveTo = 0;
    int32_t saveDirection = -1;
    bool noCheckSdWp = false;
    int32_t serial = 0;
    int32_t remainFlags = 4;
    int32_t saveWait = 1000;
    char namePrefix[16] = "pic";
    char nameSuffix[8] = "jpg";
    char saveFormat[8] = "JPEG";
};

// The settings file's name in the environment's settings store.
QString cameraSettingsName();

// Reads every key from `config`, settling each by its rule. `defaultPrefix` is the name
// prefix when the file has none (translated by the caller).
CameraSettings readCameraSettings(Config& config, const QString& defaultPrefix);

// Writes what the camera writes back at exit: "SlowCapture", "Serial", "Remain" and
// "SaveWait" always; the choices only where the file already holds their keys.
void writeCameraSettings(Config& config, const CameraSettings& values);
