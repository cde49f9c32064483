// SPDX-License-Identifier: GPL-3.0-or-later
#include "services/owned_files.h"

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace {

// The user's extended attributes and access list of the file replaced, as
// editors keep them; a file system without them has none to keep.
void copyAttributes(const QByteArray &from, int to)
{
    char names[4096];
    const ssize_t size = ::listxattr(from.constData(), names, sizeof names);
    for (ssize_t at = 0; at < size; at += ssize_t(std::strlen(names + at)) + 1) {
        const QByteArrayView name(names + at);
        if (!name.startsWith("user.") && name != "system.posix_acl_access")
            continue;
        char value[4096];
        const ssize_t length = ::getxattr(from.constData(), names + at, value, sizeof value);
        if (length >= 0)
            ::fsetxattr(to, names + at, value, size_t(length), 0);
    }
}

} // namespace

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

bool replaceFile(const QByteArray &path, const QByteArray &model,
                 const std::function<bool(int fd)> &write)
{
    const QByteArray temporary = path + ".additions-new";
    ::unlink(temporary.constData());
    struct stat like = {};
    const bool modelled = ::stat(model.constData(), &like) == 0;
    if (!modelled && ::stat(folderOf(path).constData(), &like) != 0)
        return false;
    int cause = 0;
    {
        const FileDescriptor file(::open(
            temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
        // Run as root (sudo keeping HOME, a parent fixing something), no
        // file of root's is left in a child's folder: the child could no
        // longer write it, nor even read it.
        bool written = file.get() >= 0 &&
                       (::geteuid() != 0 || ::fchown(file.get(), like.st_uid, like.st_gid) == 0) &&
                       (!modelled || ::fchmod(file.get(), like.st_mode & 07777) == 0);
        if (written && modelled)
            copyAttributes(model, file.get());
        written = written && write(file.get()) && ::fsync(file.get()) == 0;
        if (!written)
            cause = errno != 0 ? errno : EIO;
    }
    if (cause == 0 && ::rename(temporary.constData(), path.constData()) != 0)
        cause = errno;
    if (cause != 0) {
        ::unlink(temporary.constData());
        errno = cause;
        return false;
    }
    // The rename is what makes the new file; syncing the folder only
    // hurries it to the disk, so its failure does not undo the write.
    const FileDescriptor folder(
        ::open(folderOf(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.get() >= 0)
        ::fsync(folder.get());
    return true;
}

#endif
