// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDateTime>
#include <QString>

#include <optional>

// A moment on the computer's clock since it started, which no one sets and
// which runs through sleep: set apart from the calendar clock, which a flat
// battery or an adult may set wrong at any time. Two instants of the same
// boot tell how long ago the first one was, whatever the calendar clock did
// meanwhile.
struct BootInstant
{
    QString boot;            // this boot's own id; empty where none is known
    qint64 sinceBootMs = -1; // milliseconds since the computer started

    static BootInstant now();
    // How long before `later` this was, when both are of one known boot.
    std::optional<qint64> msBefore(const BootInstant &later) const;
};

// When something happened, by the calendar clock as it reads now: `then`
// as it was recorded, set right by the time since the boot when both are of
// this boot, and whether that could be done.
struct TrustedTime
{
    QDateTime when;
    bool certain = false;
};
TrustedTime whenItHappened(const QDateTime &recorded, const BootInstant &then,
                           const BootInstant &now, const QDateTime &clockNow);
