#pragma once
// A settings file of the environment: INI text in $XDG_CONFIG_HOME/<name>.conf
// ($HOME/.config when unset). Read when the object is made; written back, atomically and
// only when something was written, when it is destroyed.
#include <QMap>
#include <QString>

class Config {
public:
    enum Domain { File = 0, User = 1 };
    explicit Config(const QString& name, int domain = User);
    ~Config();
    Config(const Config&) = delete;
    Config& operator=(const Config&) = delete;

    void setGroup(const QString& group);
    // A missing key, or a value that is not a number, reads as the default.
    int readNumEntry(const QString& key, int deflt = -1) const;
    QString readEntry(const QString& key, const QString& deflt = QString()) const;
    bool hasKey(const QString& key) const;
    void writeEntry(const QString& key, int value);
    void writeEntry(const QString& key, const QString& value);

    // Where the file of a name lives; empty when neither XDG_CONFIG_HOME nor HOME is set.
    static QString filePath(const QString& name);

private:
    bool write() const;
    QString path;
    QString group;
    QList<QString> groupOrder;
    QMap<QString, QList<QPair<QString, QString>>> groups;
    bool dirty = false;
};
