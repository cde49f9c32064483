// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDir>
#include <QTemporaryDir>

#include <memory>

// A settings folder of its own, on tmpfs where the machine has one: there
// saves are fastest, races show most, and figures measure the game rather
// than the disk. Given a folder, on that folder's disk instead.
inline std::unique_ptr<QTemporaryDir> scratchFolder(QString base = QString())
{
    if (base.isEmpty())
        base = QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm")
                                                         : QDir::tempPath();
    return std::make_unique<QTemporaryDir>(base + QStringLiteral("/additions-XXXXXX"));
}
