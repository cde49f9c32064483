// SPDX-License-Identifier: GPL-3.0-or-later
#include "services/boot_clock.h"

#include <QSysInfo>

#if defined(Q_OS_WIN)
#include <QSettings>

#include <windows.h>
#else
#include <time.h>
#endif

namespace {

// This boot's id, read once: it does not change while the program runs.
QString bootId()
{
#if defined(Q_OS_WIN)
    // Counted up at each start since Windows 8; absent under Wine.
    static const QString id =
        QSettings(QStringLiteral("HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Session "
                                 "Manager\\Memory Management\\PrefetchParameters"),
                  QSettings::NativeFormat)
            .value(QStringLiteral("BootId"))
            .toString();
#else
    // /proc/sys/kernel/random/boot_id on Linux, kern.bootsessionuuid on macOS.
    static const QString id = QString::fromLatin1(QSysInfo::bootUniqueId());
#endif
    return id;
}

} // namespace

BootInstant BootInstant::now()
{
    BootInstant instant{bootId()};
#if defined(Q_OS_WIN)
    instant.sinceBootMs = qint64(GetTickCount64());
#else
#if defined(Q_OS_MACOS)
    constexpr clockid_t kRunsThroughSleep = CLOCK_MONOTONIC;
#else
    constexpr clockid_t kRunsThroughSleep = CLOCK_BOOTTIME;
#endif
    timespec since{};
    if (clock_gettime(kRunsThroughSleep, &since) == 0)
        instant.sinceBootMs = qint64(since.tv_sec) * 1000 + since.tv_nsec / 1000000;
    else
        instant.boot.clear();
#endif
    return instant;
}

std::optional<qint64> BootInstant::msBefore(const BootInstant &later) const
{
    if (boot.isEmpty() || boot != later.boot || sinceBootMs < 0 || later.sinceBootMs < sinceBootMs)
        return std::nullopt;
    return later.sinceBootMs - sinceBootMs;
}

TrustedTime whenItHappened(const QDateTime &recorded, const BootInstant &then,
                           const BootInstant &now, const QDateTime &clockNow)
{
    if (const std::optional<qint64> ago = then.msBefore(now))
        return {clockNow.addMSecs(-*ago), true};
    return {recorded, false};
}
