// Additions - a game for practising addition. GPL-3.0-or-later.
#include "services/settings_score_store.h"

#include "services/score_key.h"
#include "services/settings_file.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSettings>
#include <QStandardPaths>
#include <QStringList>
#include <QTemporaryFile>
#include <QThread>

#include <cerrno>
#include <memory>
#include <optional>

#if defined(Q_OS_UNIX)
#include <sys/file.h>
#endif

namespace {

const QString kOrganisation = QStringLiteral("MyApp");
const QString kGroup = QStringLiteral("Startup");

// On Linux and the BSDs the native settings are an INI file that QSettings
// rewrites whole; elsewhere the system keeps them and none of the file
// guards below apply.
#if defined(Q_OS_UNIX) && !defined(Q_OS_DARWIN)
constexpr bool kSettingsAreAFile = true;
#else
constexpr bool kSettingsAreAFile = false;
#endif

// How long a save waits for another copy of the game to finish its own.
constexpr int kLockWaitMs = 10000;

// A fresh QSettings object for every read and save: an object keeps its first
// error forever, so only a new one tells whether this save reached the disk.
// Fallbacks are off, or a system-wide MyApp.conf would supply scores nobody
// earned here.
class StartupGroup
{
public:
    StartupGroup() : StartupGroup(QSettings::NativeFormat, QString()) {}
    explicit StartupGroup(const QString &iniFile) : StartupGroup(QSettings::IniFormat, iniFile) {}
    QSettings &settings() { return *m_settings; }

private:
    StartupGroup(QSettings::Format format, const QString &file)
        : m_settings(file.isEmpty()
                         ? std::make_unique<QSettings>(format, QSettings::UserScope, kOrganisation)
                         : std::make_unique<QSettings>(file, format))
    {
        m_settings->setFallbacksEnabled(false);
        m_settings->beginGroup(kGroup);
    }
    std::unique_ptr<QSettings> m_settings;
};

QString textOf(const QVariant &value)
{
    // A hand-edited line such as "a, b" reads back as a list.
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(QStringLiteral(", "));
    return value.toString();
}

QByteArray contentsOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The value as the readable lines of a damaged file give it.
QVariant salvagedValue(const QByteArray &contents, const QString &encodedKey)
{
    QTemporaryFile salvaged;
    if (!salvaged.open())
        return {};
    salvaged.write(settings_file::salvage(contents));
    salvaged.close();
    StartupGroup group(salvaged.fileName());
    return group.settings().value(encodedKey);
}

// Another process's QSettings sees a change only when the file's size or its
// modification time in milliseconds changes. Two saves of the same length in
// the same millisecond would look like no change at all, so every save moves
// the time on.
void moveModificationTimeOn(const QString &path, const QDateTime &before)
{
    const QDateTime after = QFileInfo(path).lastModified();
    if (!before.isValid() || after > before)
        return;
    QFile file(path);
    if (file.open(QIODevice::ReadOnly))
        file.setFileTime(before.addMSecs(1), QFileDevice::FileModificationTime);
}

// The game's own lock on the settings file. Saves hold it alone across a
// whole read-merge-write; reads share it. Every QSettings object on the file
// is made under it: QSettings trusts its in-process copy of the file while the
// file's size and modification time look unchanged, so a copy read while
// another game was writing could later be written back over that game's
// scores. The lock is the kernel's (flock): it goes with its holder, so a copy
// killed mid-save leaves nothing behind that could hold the next one up.
#if defined(Q_OS_UNIX)
class StoreLock
{
public:
    enum Mode { Shared = LOCK_SH, Exclusive = LOCK_EX };

    explicit StoreLock(const QString &settingsPath)
        : m_file(settingsPath + QStringLiteral(".save-lock"))
    {}
    ~StoreLock()
    {
        if (m_locked)
            ::flock(m_file.handle(), LOCK_UN);
    }

    bool acquire(Mode mode)
    {
        if (!m_file.open(QIODevice::ReadWrite))
            return false;
        const QDeadlineTimer deadline(kLockWaitMs);
        while (::flock(m_file.handle(), mode | LOCK_NB) != 0) {
            if ((errno != EWOULDBLOCK && errno != EINTR) || deadline.hasExpired())
                return false;
            QThread::msleep(2);
        }
        m_locked = true;
        return true;
    }

private:
    QFile m_file;
    bool m_locked = false;
};
#else
// Where the system keeps the settings itself, it also serialises access.
class StoreLock
{
public:
    enum Mode { Shared, Exclusive };
    explicit StoreLock(const QString &) {}
    bool acquire(Mode) { return true; }
};
#endif

// What a save killed half-way leaves behind. Only called under the save
// lock, when no save of the game is running.
void removeLeftovers(const QString &path)
{
    // QSettings's own lock, empty when its writer died before filling it in:
    // left there, it would hold the next save for half a minute.
    const QString settingsLock = path + QStringLiteral(".lock");
    if (QFileInfo::exists(settingsLock) && QFileInfo(settingsLock).size() == 0)
        QFile::remove(settingsLock);
    // Temporary files of an interrupted atomic write: "MyApp.conf.XXXXXX".
    const QFileInfo info(path);
    static const QRegularExpression temporary(QStringLiteral("^[A-Za-z0-9]{6}$"));
    QDir folder = info.absoluteDir();
    const QString prefix = info.fileName() + QLatin1Char('.');
    for (const QString &name : folder.entryList({prefix + QStringLiteral("??????")}, QDir::Files))
        if (temporary.match(name.mid(prefix.size())).hasMatch())
            folder.remove(name);
}

// The first save into a damaged file keeps a copy of it, then rewrites it
// from what can be read, so that QSettings does not drop the rest.
bool setAsideIfDamaged(const QString &path)
{
    const QByteArray contents = contentsOf(path);
    if (contents.isEmpty() || settings_file::isWellFormed(contents))
        return true;
    QString backup = path + QStringLiteral(".bak");
    for (int n = 2; QFile::exists(backup); ++n)
        backup = path + QStringLiteral(".bak.%1").arg(n);
    if (!QFile::copy(path, backup))
        return false;
    const QDateTime before = QFileInfo(path).lastModified();
    QSaveFile repaired(path);
    if (!repaired.open(QIODevice::WriteOnly))
        return false;
    repaired.write(settings_file::salvage(contents));
    if (!repaired.commit())
        return false;
    moveModificationTimeOn(path, before);
    return true;
}

bool writeValue(const QString &encodedKey, const QString &value)
{
    StartupGroup group;
    group.settings().setValue(encodedKey, value);
    group.settings().sync();
    // A file that parsed badly reports FormatError yet is rewritten; only
    // AccessError means the value did not reach the disk.
    return group.settings().status() != QSettings::AccessError;
}

} // namespace

QString SettingsScoreStore::location()
{
    // Where QSettings keeps the organisation's native settings, found without
    // making a QSettings object outside the lock.
    if (kSettingsAreAFile)
        return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
               QLatin1Char('/') + kOrganisation + QStringLiteral(".conf");
    return StartupGroup().settings().fileName();
}

QString SettingsScoreStore::read(const QString &key) const
{
    if (key.isEmpty())
        return missingScore();
    const QString encodedKey = score_key::encode(key);
    std::optional<StoreLock> lock;
    if (kSettingsAreAFile) {
        const QString path = location();
        if (!QFileInfo::exists(path))
            return missingScore();
        lock.emplace(path);
        // A folder the game cannot write to still has scores to read.
        if (!lock->acquire(StoreLock::Shared))
            lock.reset();
    }
    StartupGroup group;
    QVariant value = group.settings().value(encodedKey);
    if (!value.isValid() && kSettingsAreAFile) {
        const QByteArray contents = contentsOf(group.settings().fileName());
        if (!contents.isEmpty() && !settings_file::isWellFormed(contents))
            value = salvagedValue(contents, encodedKey);
    }
    return value.isValid() ? textOf(value) : missingScore();
}

bool SettingsScoreStore::save(const QString &key, const QString &value)
{
    if (key.isEmpty())
        return false;
    const QString encodedKey = score_key::encode(key);
    if (!kSettingsAreAFile)
        return writeValue(encodedKey, value);

    const QString path = location();
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    StoreLock lock(path);
    if (!lock.acquire(StoreLock::Exclusive))
        return false;
    removeLeftovers(path);
    if (!setAsideIfDamaged(path))
        return false;
    const QDateTime before = QFileInfo(path).lastModified();
    if (!writeValue(encodedKey, value))
        return false;
    moveModificationTimeOn(path, before);
    return true;
}
