#pragma once
// The unprivileged account that tests running as root hand the camera and its card to, as
// a user who ran "sudo scripts/demo" would have them: made by the test_account fixture
// (tests/support/test-account.sh) and never logged into.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testaccount {

inline const char* const name = "orvane-test";

struct Account {
    uid_t uid = 0;
    gid_t gid = 0;
};

// False when the account is missing, e.g. the fixture did not run.
inline bool lookUp(Account& account)
{
    const passwd* pw = ::getpwnam(name);
    if (!pw)
        return false;
    account.uid = pw->pw_uid;
    account.gid = pw->pw_gid;
    return true;
}

// setpriv's arguments that run the rest of a command line as uid and gid, without root's
// supplementary groups.
inline QStringList setprivAs(uid_t uid, gid_t gid)
{
    return {QStringLiteral("--reuid=%1").arg(uid), QStringLiteral("--regid=%1").arg(gid),
            QStringLiteral("--clear-groups"), QStringLiteral("--")};
}

// Whether `account` can reach and run the file at `path`: every folder on the way searchable.
inline bool canRun(const Account& account, const QString& path)
{
    const QByteArray file = QFile::encodeName(path);
    const pid_t pid = ::fork();
    if (pid == 0) {
        // Only calls that are safe between fork and exec.
        const bool ok = ::setgroups(0, nullptr) == 0
            && ::setresgid(account.gid, account.gid, account.gid) == 0
            && ::setresuid(account.uid, account.uid, account.uid) == 0
            && ::access(file.constData(), R_OK | X_OK) == 0;
        ::_exit(ok ? 0 : 1);
    }
    int status = 0;
    return pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status)
        && WEXITSTATUS(status) == 0;
}

// The program or library at `path` as the account can run it: the file itself, or, from a
// checkout the account cannot enter (a home of mode 0700), a copy in a folder open to all
// that the test's end removes. Copied once per file and test.
inline QString reachable(const QString& path)
{
    Account account;
    if (::geteuid() != 0 || !lookUp(account) || canRun(account, path))
        return path;
    static QTemporaryDir copies(QDir::tempPath() + QStringLiteral("/orvane-test-programs-XXXXXX"));
    static QMap<QString, QString> made;
    if (made.contains(path))
        return made.value(path);
    // Each in a folder of its own, so that files of one name do not meet.
    const QString folder = copies.filePath(QString::number(made.size()));
    const QString copy = folder + QLatin1Char('/') + QFileInfo(path).fileName();
    if (!copies.isValid() || !QDir().mkpath(folder) || !QFile::copy(path, copy))
        return path;
    ::chmod(QFile::encodeName(copies.path()).constData(), 0755);
    ::chmod(QFile::encodeName(folder).constData(), 0755);
    ::chmod(QFile::encodeName(copy).constData(), 0755);
    made.insert(path, copy);
    return copy;
}

} // namespace testaccount
