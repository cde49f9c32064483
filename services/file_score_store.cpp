// Additions - a game for practising addition. GPL-3.0-or-later.
#include "services/file_score_store.h"

#include "services/score_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <chrono>
#include <fcntl.h>
#include <future>
#include <memory>
#include <optional>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

// Another copy of the game holds the lock for the milliseconds of one save;
// a longer wait means something is wrong, and the window must not freeze.
constexpr std::chrono::milliseconds kLockWait{1000};

class FileDescriptor
{
public:
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    FileDescriptor(const FileDescriptor &) = delete;
    FileDescriptor &operator=(const FileDescriptor &) = delete;
    ~FileDescriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    int get() const { return m_fd; }
    bool isRegularFile() const
    {
        struct stat status = {};
        return m_fd >= 0 && ::fstat(m_fd, &status) == 0 && S_ISREG(status.st_mode);
    }

private:
    int m_fd;
};

// The bytes of the file; empty when there is none, nothing when it cannot be
// read whole. Only a regular file is read: a pipe or a device in its place is
// opened without blocking and refused.
std::optional<QByteArray> contentsOf(const QByteArray &path)
{
    const FileDescriptor file(::open(path.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (file.get() < 0 && errno == ENOENT)
        return QByteArray();
    if (!file.isRegularFile())
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

// Puts the bytes in place of the file, all or nothing. The temporary file's
// name is the game's own, and only the holder of the lock writes it, so one
// left by a copy killed mid-save is simply replaced.
bool replaceFile(const QByteArray &path, const QByteArray &bytes)
{
    const QByteArray temporary = path + ".additions-new";
    ::unlink(temporary.constData());
    struct stat old = {};
    const bool existed = ::stat(path.constData(), &old) == 0;
    bool written = false;
    {
        const FileDescriptor file(::open(
            temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
        written = file.get() >= 0 && (!existed || ::fchmod(file.get(), old.st_mode & 07777) == 0) &&
                  writeAll(file.get(), bytes) && ::fsync(file.get()) == 0;
    }
    if (!written || ::rename(temporary.constData(), path.constData()) != 0) {
        ::unlink(temporary.constData());
        return false;
    }
    // The rename is what makes the new file the scores; syncing the folder
    // only hurries it to the disk, so its failure does not undo the save.
    const qsizetype slash = path.lastIndexOf('/');
    const QByteArray folderPath = slash > 0 ? path.left(slash) : QByteArray("/");
    const FileDescriptor folder(::open(folderPath.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.get() >= 0)
        ::fsync(folder.get());
    return true;
}

// A file with unreadable lines is kept as it was in MyApp.conf.bak, once.
bool keepBackup(const QByteArray &path, const QByteArray &bytes)
{
    const QByteArray backup = path + ".bak";
    return contentsOf(backup) == bytes || replaceFile(backup, bytes);
}

// The file a save rewrites: where MyApp.conf is a link, the file it points
// to, so that the link stays.
QByteArray targetOf(const QString &path)
{
    const QFileInfo info(path);
    if (!info.isSymLink())
        return QFile::encodeName(path);
    const QString target = info.canonicalFilePath();
    return QFile::encodeName(target.isEmpty() ? info.symLinkTarget() : target);
}

} // namespace

FileScoreStore::FileScoreStore()
    : m_path(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
             QStringLiteral("/MyApp.conf"))
{}

ScoreRead FileScoreStore::read(const QString &key) const
{
    // Saves replace the file whole, so a read needs no lock.
    const std::optional<QByteArray> bytes = contentsOf(QFile::encodeName(m_path));
    if (!bytes)
        return {std::nullopt, false};
    return {ScoreFile(*bytes).score(key), true};
}

bool FileScoreStore::save(const QString &key, const QString &value)
{
    if (key.isEmpty() || !QDir().mkpath(QFileInfo(m_path).absolutePath()))
        return false;
    const FileDescriptor lock(
        ::open(QFile::encodeName(m_path + QStringLiteral(".save-lock")).constData(),
               O_RDWR | O_CREAT | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC, 0644));
    if (!lock.isRegularFile())
        return false;
    if (!lockWithin(lock.get(), kLockWait))
        return false;

    const QByteArray target = targetOf(m_path);
    const std::optional<QByteArray> before = contentsOf(target);
    if (!before)
        return false;
    ScoreFile file(*before);
    if (!file.unreadableLines().isEmpty() && !keepBackup(target, *before))
        return false;
    file.setScore(key, value);
    return replaceFile(target, file.bytes());
}
