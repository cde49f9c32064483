// Additions - a game for practising addition. GPL-3.0-or-later.
#pragma once

#include <QDir>
#include <QTemporaryDir>

#include <memory>

// A scratch settings folder on tmpfs, where the figures measure the game
// rather than the disk; or, given a folder, on that folder's disk.
inline std::unique_ptr<QTemporaryDir> benchFolder(QString base = QString())
{
    if (base.isEmpty())
        base = QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm")
                                                         : QDir::tempPath();
    return std::make_unique<QTemporaryDir>(base + QStringLiteral("/additions-bench-XXXXXX"));
}
