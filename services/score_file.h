// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

// The text of MyApp.conf, with no I/O. It reads whatever a person, QSettings
// or an earlier version of the game wrote there (a byte-order mark, any line
// ends, comments, a repeated [Startup]) and never loses a score it can read.
// Written back, every line it does not own stays as it was, with the file's
// byte-order mark and line ends, and the keys are escaped as QSettings
// escapes them, so either can read what the other wrote.
class ScoreFile
{
public:
    explicit ScoreFile(const QByteArray &bytes = {});

    // The score stored under the key in [Startup]; the last one wins.
    std::optional<QString> score(const QString &key) const;
    // The key must not be empty: an empty key is no line at all.
    void setScore(const QString &key, const QString &value);

    // The whole file, without the lines that could not be read.
    QByteArray bytes() const;
    // Numbers (from 1) of the lines that could not be read.
    const QList<int> &unreadableLines() const { return m_unreadable; }
    // Their bytes, without their line ends.
    const QList<QByteArray> &unreadableLineBytes() const { return m_unreadableBytes; }

    // The INI escape: how QSettings writes a key in an INI file, and reads
    // it back.
    static QByteArray iniEscaped(const QString &key);
    static QString iniUnescaped(QByteArrayView escaped);

    // Version 1.0.0's escape, applied before QSettings' own: QSettings reads
    // '/' and '\' in a key as group separators, so "a/b" would land in a
    // sub-group and, in the Windows registry, "a\b" and "a/b" would collide.
    // '%' is escaped too, so that the escape can be undone. The player keys
    // the game itself uses contain none of the three.
    static QString firstVersionEscaped(const QString &key)
    {
        return QString(key)
            .replace(u'%', QLatin1StringView("%25"))
            .replace(u'/', QLatin1StringView("%2F"))
            .replace(u'\\', QLatin1StringView("%5C"));
    }

private:
    struct Line
    {
        QByteArray text;
        bool inStartup = false;
        std::optional<QString> key;
        QString value;
        QByteArray comment; // after the value, blanks before it included
    };
    // The line as read, or nothing when it cannot be read. A group header
    // tells whether the lines after it are in [Startup].
    static std::optional<Line> readLine(QByteArrayView raw, bool &inStartup);
    qsizetype lastLineOf(const QString &key) const;

    QList<Line> m_lines;
    QList<int> m_unreadable;
    QList<QByteArray> m_unreadableBytes;
    bool m_byteOrderMark = false;
    QByteArray m_lineEnd;
};
