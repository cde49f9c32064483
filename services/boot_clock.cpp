// SPDX-License-Identifier: GPL-3.0-or-later
#include "services/boot_clock.h"

#include <QFile>

#if defined(Q_OS_WIN)
#include <QSettings>

#include <windows.h>
#elif defined(Q_OS_MACOS)
#include <QSysInfo>

#include <time.h>
#else
#include <time.h>
#endif

BootInstant BootInstant::now()
{
    BootInstant instant;
#if defined(Q_OS_WIN)
    instant.sinceBootMs = qint64(GetTickCount64());
    // Counted up at each start since Windows 8; absent under Wine.
    const QVariant count =
        QSettings(QStringLiteral("HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Session "
                                 "Manager\\Memory Management\\PrefetchParameters"),
                  QSettings::NativeFormat)
            .value(QStringLiteral("BootId"));
    if (count.isValid())
        instant.boot = count.toString();
#else
#if defined(Q_OS_MACOS)
    constexpr clockid_t kRunsThroughSleep = CLOCK_MONOTONIC;
    instant.boot = QString::fromLatin1(QSysInfo::bootUniqueId());
#else
    constexpr clockid_t kRunsThroughSleep = CLOCK_BOOTTIME;
    QFile id(QStringLiteral("/proc/sys/kernel/random/boot_id"));
    if (id.open(QIODevice::ReadOnly))
        instant.boot = QString::fromLatin1(id.readAll().trimmed());
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
