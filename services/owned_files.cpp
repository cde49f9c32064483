// SPDX-License-Identifier: GPL-3.0-or-later
#include "services/owned_files.h"

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

FileDescriptor::~FileDescriptor()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool FileDescriptor::isRegularFile() const
{
    struct stat status = {};
    return m_fd >= 0 && ::fstat(m_fd, &status) == 0 && S_ISREG(status.st_mode);
}

QByteArray folderOf(const QByteArray &path)
{
    const qsizetype slash = path.lastIndexOf('/');
    return slash > 0 ? path.left(slash) : QByteArray("/");
}

bool makeFolders(const QByteArray &folder)
{
    struct stat status = {};
    if (::stat(folder.constData(), &status) == 0)
        return S_ISDIR(status.st_mode);
    if (folder == "/" || !makeFolders(folderOf(folder)) ||
        ::stat(folderOf(folder).constData(), &status) != 0)
        return false;
    // mkdir's mode is cut by the umask, which can only take rights away.
    if (::mkdir(folder.constData(), 0700) != 0 && errno != EEXIST)
        return false;
    return ::geteuid() != 0 || ::chown(folder.constData(), status.st_uid, status.st_gid) == 0;
}

bool giveToFolderOwner(int fd, const QByteArray &folder)
{
    struct stat owner = {};
    return ::geteuid() != 0 || (::stat(folder.constData(), &owner) == 0 &&
                                ::fchown(fd, owner.st_uid, owner.st_gid) == 0);
}

bool createPrivateFile(const QByteArray &path)
{
    const FileDescriptor file(
        ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (file.get() < 0) {
        struct stat status = {};
        return errno == EEXIST && ::stat(path.constData(), &status) == 0 && S_ISREG(status.st_mode);
    }
    if (::fchmod(file.get(), 0600) == 0 && giveToFolderOwner(file.get(), folderOf(path)))
        return true;
    // Root could not give it away: nothing is recorded there.
    ::unlink(path.constData());
    return false;
}

bool writeAll(int fd, QByteArrayView bytes)
{
    while (!bytes.isEmpty()) {
        const ssize_t count = ::write(fd, bytes.data(), static_cast<size_t>(bytes.size()));
        if (count < 0 && errno != EINTR)
            return false;
        if (count > 0)
            bytes = bytes.sliced(count);
    }
    return true;
}

#endif
