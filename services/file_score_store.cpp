// SPDX-License-Identifier: GPL-3.0-or-later
#include "services/platform_score_store.h"

#if ADDITIONS_FILE_SCORE_STORE
#include "services/owned_files.h"
#include "services/score_file.h"

#include <QFile>

#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <future>
#include <memory>
#include <optional>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

// Another copy of the game holds the lock for the milliseconds of one save;
// a longer wait means something is wrong, and the window must not freeze.
constexpr std::chrono::milliseconds kLockWait{1000};
// No score file comes near this; a larger one is refused unread, so that a
// damaged or sparse giant cannot exhaust the memory or freeze a click.
constexpr off_t kLargestScoreFile = 16 * 1024 * 1024;

// The bytes of the file; empty when there is none, nothing when it cannot be
// read whole. Only a regular file is read: a pipe or a device in its place is
// opened without blocking and refused.
std::optional<QByteArray> contentsOf(const QByteArray &path)
{
    const FileDescriptor file(::open(path.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (file.get() < 0 && errno == ENOENT)
        return QByteArray();
    struct stat status = {};
    if (file.get() < 0 || ::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode) ||
        status.st_size > kLargestScoreFile)
        return std::nullopt;
    QByteArray bytes;
    char buffer[16384];
    for (;;) {
        const ssize_t count = ::read(file.get(), buffer, sizeof buffer);
        if (count == 0)
            return bytes;
        if (count < 0 && errno != EINTR)
            return std::nullopt;
        if (count > 0)
            bytes.append(buffer, count);
    }
}

// Waits for the lock in the kernel's queue, which serves waiters in turn:
// polling could miss every moment it is free while other copies save one
// score after another. The wait runs on a thread of its own: a click must
// never hang on a lock a stuck copy holds. A wait given up ends when the lock
// comes, and lets it go at once.
bool lockWithin(int fd, std::chrono::milliseconds limit)
{
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
        return true;
    const int waiting = errno == EWOULDBLOCK ? ::fcntl(fd, F_DUPFD_CLOEXEC, 0) : -1;
    if (waiting < 0)
        return false;
    auto locked = std::make_shared<std::promise<bool>>();
    std::future<bool> result = locked->get_future();
    std::thread([waiting, locked] {
        int status = 0;
        while ((status = ::flock(waiting, LOCK_EX)) != 0 && errno == EINTR) {
        }
        locked->set_value(status == 0);
        ::close(waiting);
    }).detach();
    return result.wait_for(limit) == std::future_status::ready && result.get();
}

// Lines nobody can read are kept in MyApp.conf.bak, which only grows: the
// first time a copy of the whole file, then each unreadable line it lacks.
bool keepBackup(const QByteArray &path, const QByteArray &bytes,
                const QList<QByteArray> &unreadable)
{
    const QByteArray backup = path + ".bak";
    const std::optional<QByteArray> kept = contentsOf(backup);
    if (!kept)
        return false;
    if (kept->isEmpty())
        return replaceFile(backup, path, bytes);
    QList<QByteArray> keptLines = kept->split('\n');
    QByteArray added;
    for (const QByteArray &line : unreadable) {
        if (!keptLines.contains(line)) {
            keptLines.append(line);
            added += line + '\n';
        }
    }
    const QByteArray separator = kept->endsWith('\n') ? "" : "\n";
    return added.isEmpty() || replaceFile(backup, backup, *kept + separator + added);
}

// The file a save rewrites: where MyApp.conf is a link, the file it points
// to, so that the link stays and every copy of the game that reaches that
// file through a link of its own shares one lock beside it.
QByteArray targetOf(const QByteArray &path)
{
    struct stat status = {};
    if (::lstat(path.constData(), &status) != 0 || !S_ISLNK(status.st_mode))
        return path;
    if (char *resolved = ::realpath(path.constData(), nullptr)) {
        const QByteArray target(resolved);
        std::free(resolved);
        return target;
    }
    char link[PATH_MAX];
    const ssize_t length = ::readlink(path.constData(), link, sizeof link);
    if (length <= 0)
        return path;
    const QByteArray target(link, length);
    return target.startsWith('/') ? target : folderOf(path) + '/' + target;
}

// $XDG_CONFIG_HOME, byte for byte, when it is an absolute path; otherwise
// ~/.config: freedesktop.org's base directory rules ignore a relative one.
QByteArray configFolder()
{
    const QByteArray configured = qgetenv("XDG_CONFIG_HOME");
    if (configured.startsWith('/'))
        return configured;
    QByteArray home = qgetenv("HOME");
    if (!home.startsWith('/'))
        if (const passwd *user = ::getpwuid(::getuid()))
            home = user->pw_dir;
    return home + "/.config";
}

} // namespace

FileScoreStore::FileScoreStore() : m_file(configFolder() + "/MyApp.conf") {}

QString FileScoreStore::location() const
{
    return QFile::decodeName(m_file);
}

ScoreRead FileScoreStore::read(const QString &key) const
{
    // Saves replace the file whole, so a read needs no lock.
    const std::optional<QByteArray> bytes = contentsOf(m_file);
    if (!bytes)
        return {std::nullopt, false};
    return {ScoreFile(*bytes).score(key), true};
}

bool FileScoreStore::save(const QString &key, const QString &value)
{
    if (key.isEmpty() || !makeFolders(folderOf(m_file)))
        return false;
    const QByteArray target = targetOf(m_file);
    // flock needs no write access: a lock a run as root left behind still
    // serves the child.
    const FileDescriptor lock(::open((target + ".save-lock").constData(),
                                     O_RDONLY | O_CREAT | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC,
                                     0644));
    if (!lock.isRegularFile() || !giveToFolderOwner(lock.get(), folderOf(target)) ||
        !lockWithin(lock.get(), kLockWait))
        return false;

    // A score file made read-only is left so, as any editor would.
    struct stat current = {};
    if (::stat(target.constData(), &current) == 0 &&
        ((current.st_mode & 0222) == 0 || ::access(target.constData(), W_OK) != 0))
        return false;
    const std::optional<QByteArray> before = contentsOf(target);
    if (!before)
        return false;
    ScoreFile file(*before);
    if (!file.unreadableLines().isEmpty() &&
        !keepBackup(target, *before, file.unreadableLineBytes()))
        return false;
    file.setScore(key, value);
    return replaceFile(target, target, file.bytes());
}

#endif // ADDITIONS_FILE_SCORE_STORE
