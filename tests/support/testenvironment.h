#pragma once
// Shared by the window tests: a private HOME and settings folder per test, and the
// window's nodes pointed at paths the test controls.
#include "app/camera.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cstdlib>
#include <memory>

class TestEnvironment {
public:
    TestEnvironment()
    {
        home = QDir(dir.path()).filePath(QStringLiteral("home"));
        config = QDir(dir.path()).filePath(QStringLiteral("config"));
        card = QDir(dir.path()).filePath(QStringLiteral("card")) + QLatin1Char('/');
        QDir().mkpath(home);
        QDir().mkpath(config);
        QDir().mkpath(card);
        qputenv("HOME", QFile::encodeName(home));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(config));
        cardPath = QFile::encodeName(card);
        paths.cardFolder = cardPath.constData();
        homePath = QFile::encodeName(home);
        paths.home = homePath.constData();
        missingNode = QFile::encodeName(QDir(dir.path()).filePath(QStringLiteral("no-node")));
        paths.deviceNode = missingNode.constData();
        paths.buzzerNode = missingNode.constData();
        paths.slotStatusNode = missingNode.constData();
        // The test folders lie on the root file system, which the storage probe refuses.
        paths.refuseRootFileSystem = false;
    }

    QString settingsPath() const { return QDir(config).filePath(QStringLiteral("OrvaneCamera.conf")); }

    void writeSettings(const QByteArray& text) const
    {
        QFile file(settingsPath());
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text);
    }

    QByteArray readSettings() const
    {
        QFile file(settingsPath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    // A window whose capture cycle does not run: tests drive it by hand.
    std::unique_ptr<Camera> makeCamera(CameraRuntime runtime = CameraRuntime()) const
    {
        auto camera = std::make_unique<Camera>(nullptr, nullptr, Qt::WindowFlags(), paths,
                                               std::move(runtime));
        camera->killTimers();
        return camera;
    }

    QTemporaryDir dir;
    QString home;
    QString config;
    QString card;
    QByteArray cardPath;
    QByteArray homePath;
    QByteArray missingNode;
    CameraPaths paths;
};
