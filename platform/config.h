#pragma once
// A settings file of the environment: INI text in $XDG_CONFIG_HOME/<name>.conf
// ($HOME/.config when unset). Read when the object is made; written back, atomically and
// only when something was written, when it is destroyed. The write changes only the lines
// of the keys written: comments, unknown keys and groups, and every other byte stay as the
// user left them. A file the reader refused (too large, not a regular file, unreadable) is
// never rewritten. Values are read as UTF-8 where they are valid UTF-8, else as Latin-1,
// and written as UTF-8.
#include <QByteArray>
#include <QList>
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
    struct Entry {
        QString key;
        QString value;
        int line = -1;  // index in `lines` of the line read, -1 for a new key
        bool written = false;
    };
    struct Group {
        QList<Entry> entries;
        int anchor = -1;  // new keys go after this line: the last entry, else the header
    };
    Entry* find(const QString& key);
    const Entry* find(const QString& key) const;
    QByteArray text() const;
    bool write() const;

    QString path;
    QString group;
    QList<QByteArray> lines;  // the file split at '\n': joined again it gives the file back
    QList<QString> groupOrder;
    QMap<QString, Group> groups;
    bool refused = false;
    bool dirty = false;
};
