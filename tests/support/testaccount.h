#pragma once
// The unprivileged account that tests running as root hand the camera and its card to, as
// a user who ran "sudo scripts/demo" would have them: made by the test_account fixture
// (tests/support/test-account.sh) and never logged into.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QStringList>

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

} // namespace testaccount
