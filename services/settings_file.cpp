// Additions - a game for practising addition. GPL-3.0-or-later.
#include "services/settings_file.h"

#include <QList>
#include <QStringDecoder>

namespace settings_file {
namespace {

bool isControl(char c)
{
    const auto byte = static_cast<unsigned char>(c);
    return (byte < 0x20 && c != '\t') || byte == 0x7F;
}

bool isValidUtf8(const QByteArray &bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8);
    [[maybe_unused]] const QString text = decoder(bytes);
    return !decoder.hasError();
}

bool quotesBalanced(const QByteArray &line)
{
    bool inQuotes = false;
    for (qsizetype i = 0; i < line.size(); ++i) {
        if (line[i] == '\\')
            ++i;
        else if (line[i] == '"')
            inQuotes = !inQuotes;
    }
    return !inQuotes;
}

// One line, without its end of line, as QSettings would read it.
bool isWellFormedLine(const QByteArray &line)
{
    const QByteArray trimmed = line.trimmed();
    if (trimmed.isEmpty() || trimmed.startsWith(';') || trimmed.startsWith('#'))
        return true;
    if (trimmed.startsWith('['))
        return trimmed.endsWith(']');
    return trimmed.indexOf('=') > 0 && quotesBalanced(trimmed);
}

QList<QByteArray> linesOf(const QByteArray &contents)
{
    QList<QByteArray> lines = contents.split('\n');
    for (QByteArray &line : lines)
        if (line.endsWith('\r'))
            line.chop(1);
    return lines;
}

} // namespace

bool isWellFormed(const QByteArray &contents)
{
    if (!isValidUtf8(contents))
        return false;
    for (const QByteArray &line : linesOf(contents)) {
        for (char c : line)
            if (isControl(c))
                return false;
        if (!isWellFormedLine(line))
            return false;
    }
    return true;
}

QByteArray salvage(const QByteArray &contents)
{
    QByteArray kept;
    for (QByteArray line : linesOf(contents)) {
        line.removeIf(isControl);
        if (isValidUtf8(line) && isWellFormedLine(line))
            kept += line + '\n';
    }
    return kept;
}

} // namespace settings_file
