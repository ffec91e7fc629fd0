// renameat2(RENAME_NOREPLACE) where the file system has it; else link(2),
// which never replaces either, and then unlink(2) of the old name.
#include "move_new.h"

#include <QFile>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

#include "base/system_error.h"

std::function<void(const QString&)> g_before_move;

std::string MoveToNewName(const QString& from, const QString& to, bool* existed) {
    *existed = false;
    if (g_before_move) g_before_move(to);
    const QByteArray a = QFile::encodeName(from), b = QFile::encodeName(to);
    if (::renameat2(AT_FDCWD, a.constData(), AT_FDCWD, b.constData(), RENAME_NOREPLACE) == 0) return std::string();
    int err = errno;
    if (err == EINVAL || err == ENOSYS || err == ENOTSUP) {
        // A file system without the flag (some network ones): a hard link
        // fails with EEXIST as well.
        if (::link(a.constData(), b.constData()) == 0) {
            ::unlink(a.constData());
            return std::string();
        }
        err = errno;
    }
    *existed = err == EEXIST;
    return SystemErrorOf(err).text;
}
