// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <functional>

// The files the game and its adults' program create for the user, on
// systems with POSIX owners and modes. Folders they create are the user's
// alone (0700, as freedesktop.org's base directory rules ask), whatever the
// umask. Run as root with a child's environment (sudo keeping HOME), what
// they create takes the owner of the folder it is made in, so that the child
// can go on using it.
#ifdef Q_OS_UNIX

class FileDescriptor
{
public:
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    FileDescriptor(const FileDescriptor &) = delete;
    FileDescriptor &operator=(const FileDescriptor &) = delete;
    ~FileDescriptor();
    int get() const { return m_fd; }
    bool isRegularFile() const;

private:
    int m_fd;
};

QByteArray folderOf(const QByteArray &path);

// Creates the folders of the path that are missing, 0700, owned as the
// nearest folder that exists.
bool makeFolders(const QByteArray &folder);

// Run as root, gives the open file the owner of `folder`; anyone else owns
// what they create already.
bool giveToFolderOwner(int fd, const QByteArray &folder);

// Creates the file, 0600 whatever the umask and owned as its folder, unless
// it exists already, in which case its owner and mode are left as they are.
// False when it could not be created, or is not a regular file.
bool createPrivateFile(const QByteArray &path);

bool writeAll(int fd, QByteArrayView bytes);

// Puts what `write` writes in place of `path`, all or nothing: a new file
// beside it (`path` + ".additions-new", the programs' own name, so one left
// by a copy killed mid-write is simply replaced) is written, synced, then
// renamed over it. It takes the mode, owner and attributes of `model` (the
// file replaced, or the one copied) when that exists, else the owner of the
// folder. On failure `path` is as it was, and errno says why.
bool replaceFile(const QByteArray &path, const QByteArray &model,
                 const std::function<bool(int fd)> &write);
inline bool replaceFile(const QByteArray &path, const QByteArray &model, const QByteArray &bytes)
{
    return replaceFile(path, model, [&bytes](int fd) { return writeAll(fd, bytes); });
}

#endif
