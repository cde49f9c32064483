// SPDX-License-Identifier: GPL-3.0-or-later
#include "services/score_file.h"

#include <QStringDecoder>

#include <algorithm>
#include <cctype>
#include <string_view>

namespace {

const QString kScoresGroup = QStringLiteral("Startup");
constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";

// The text of UTF-8 bytes, a leading U+FEFF included: in a value or a key it
// is a character, not a byte-order mark.
QString fromUtf8(QByteArrayView bytes, bool *valid = nullptr)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless |
                                                     QStringDecoder::Flag::ConvertInitialBom);
    QString text = decoder.decode(bytes);
    if (valid)
        *valid = !decoder.hasError();
    return text;
}

// Plain printable ASCII, the common case, needs no decoding.
bool isPrintableAscii(QByteArrayView text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
}

// Valid UTF-8 with no control character but the tab.
bool isReadable(QByteArrayView line)
{
    if (isPrintableAscii(line))
        return true;
    bool valid = false;
    const QString text = fromUtf8(line, &valid);
    return valid && std::none_of(text.begin(), text.end(), [](QChar c) {
               return (c.unicode() < 0x20 && c != u'\t') || c.unicode() == 0x7F;
           });
}

bool isHexDigit(QChar c)
{
    return c.unicode() < 0x80 && std::isxdigit(c.unicode());
}

bool isCommentOrBlank(QByteArrayView trimmed)
{
    return trimmed.isEmpty() || trimmed.startsWith(';') || trimmed.startsWith('#');
}

// Where the value ends: at a ';' outside quotes, which starts a comment.
qsizetype valueEnd(QByteArrayView text)
{
    bool quoted = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == '\\')
            ++i;
        else if (text[i] == '"')
            quoted = !quoted;
        else if (text[i] == ';' && !quoted)
            return i;
    }
    return text.size();
}

// A value as QSettings writes it: quoted where needed, C-style escapes.
// Empty when a quote is left open.
std::optional<QString> unescapedValue(QByteArrayView escaped)
{
    if (isPrintableAscii(escaped) && !escaped.contains('"') && !escaped.contains('\\') &&
        !escaped.startsWith('@'))
        return QString::fromLatin1(escaped);
    const QString text = fromUtf8(escaped);
    QString value;
    bool quoted = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == u'"') {
            quoted = !quoted;
        } else if (c != u'\\' || i + 1 == text.size()) {
            value += c;
        } else if (const QChar e = text[++i];
                   e == u'x' && i + 1 < text.size() && isHexDigit(text[i + 1])) {
            qsizetype digits = 1;
            while (digits < 4 && i + 1 + digits < text.size() && isHexDigit(text[i + 1 + digits]))
                ++digits;
            value += QChar(text.mid(i + 1, digits).toUShort(nullptr, 16));
            i += digits;
        } else {
            constexpr std::string_view kCodes("a\ab\bf\fn\nr\rt\tv\v0\0", 16);
            const auto at =
                e.unicode() < 0x80 ? kCodes.find(char(e.unicode())) : std::string_view::npos;
            value +=
                at != std::string_view::npos && at % 2 == 0 ? QChar(char16_t(kCodes[at + 1])) : e;
        }
    }
    if (quoted)
        return std::nullopt;
    if (value.startsWith(QStringLiteral("@@")))
        value.remove(0, 1);
    return value;
}

QByteArray escapedValue(const QString &value)
{
    QString escaped = value.startsWith(u'@') ? QStringLiteral("@") : QString();
    bool needsQuotes = value.startsWith(u' ') || value.endsWith(u' ');
    bool escapeHexDigit = false;
    for (const QChar c : value) {
        const char16_t u = c.unicode();
        needsQuotes = needsQuotes || u == ';' || u == ',' || u == '=';
        const bool control = u < 0x20 || u == 0x7F;
        const bool asHex = control || (escapeHexDigit && isHexDigit(c));
        if (u == '"' || u == '\\')
            escaped += u'\\';
        if (asHex)
            escaped += QStringLiteral("\\x") + QString::number(u, 16);
        else
            escaped += c;
        escapeHexDigit = asHex;
    }
    return (needsQuotes ? u'"' + escaped + u'"' : escaped).toUtf8();
}

} // namespace

ScoreFile::ScoreFile(const QByteArray &bytes)
{
    QByteArrayView rest(bytes);
    m_byteOrderMark = rest.startsWith(kByteOrderMark);
    if (m_byteOrderMark)
        rest = rest.sliced(3);
    bool inStartup = false;
    for (int number = 1; !rest.isEmpty(); ++number) {
        qsizetype end = 0;
        while (end < rest.size() && rest[end] != '\n' && rest[end] != '\r' && rest[end] != '\0')
            ++end;
        // A run of NUL bytes, as a crash can leave in a file, ends a damaged
        // line; what follows it may still be read.
        const bool damaged = end < rest.size() && rest[end] == '\0';
        std::optional<Line> line = damaged ? std::nullopt : readLine(rest.first(end), inStartup);
        if (line) {
            m_lines.append(*line);
        } else {
            m_unreadable.append(number);
            m_unreadableBytes.append(rest.first(end).toByteArray());
        }

        const bool crlf = rest.sliced(end).startsWith("\r\n");
        // The file's line ends are those of its first ended line: a file
        // saved from Notepad keeps its CR LF.
        if (m_lineEnd.isEmpty() && end < rest.size() && !damaged)
            m_lineEnd = crlf ? "\r\n" : rest.sliced(end, 1).toByteArray();
        qsizetype next = end + (crlf ? 2 : 1);
        while (damaged && next < rest.size() && rest[next] == '\0')
            ++next;
        rest = rest.sliced(std::min(rest.size(), next));
    }
    if (m_lineEnd.isEmpty())
        m_lineEnd = "\n";
}

std::optional<ScoreFile::Line> ScoreFile::readLine(QByteArrayView raw, bool &inStartup)
{
    // Only what the game reads must be UTF-8: a comment may hold any bytes
    // (a parent's note in Latin-1), and is kept as it is.
    Line line{raw.toByteArray(), inStartup, std::nullopt, QString(), QByteArray()};
    const QByteArrayView trimmed = raw.trimmed();
    if (isCommentOrBlank(trimmed))
        return line;
    if (trimmed.startsWith('[')) {
        const qsizetype close = trimmed.indexOf(']');
        if (close < 0 || !isReadable(trimmed.first(close + 1)) ||
            !isCommentOrBlank(trimmed.sliced(close + 1).trimmed()))
            return std::nullopt;
        inStartup = iniUnescaped(trimmed.sliced(1, close - 1).trimmed()) == kScoresGroup;
        line.inStartup = inStartup;
        return line;
    }
    const qsizetype equals = trimmed.indexOf('=');
    const QByteArrayView value = trimmed.sliced(equals + 1);
    const qsizetype end = valueEnd(value);
    const std::optional<QString> text = unescapedValue(value.first(end).trimmed());
    if (equals <= 0 || !text || !isReadable(trimmed.first(equals + 1 + end)))
        return std::nullopt;
    line.key = iniUnescaped(trimmed.first(equals).trimmed());
    line.value = *text;
    // The comment, with the blanks before it, stays when the score changes.
    qsizetype commentStart = (trimmed.data() - raw.data()) + equals + 1 + end;
    while (end < value.size() && commentStart > 0 &&
           (raw[commentStart - 1] == ' ' || raw[commentStart - 1] == '\t'))
        --commentStart;
    if (end < value.size())
        line.comment = raw.sliced(commentStart).toByteArray();
    return line;
}

qsizetype ScoreFile::lastLineOf(const QString &key) const
{
    // Version 1.0.0 escaped '%', '/' and '\' in typed keys before QSettings
    // escaped them again; those spellings are still found.
    for (const QString &spelling : {key, firstVersionEscaped(key)})
        for (qsizetype i = m_lines.size() - 1; i >= 0; --i)
            if (m_lines[i].inStartup && m_lines[i].key == spelling)
                return i;
    return -1;
}

std::optional<QString> ScoreFile::score(const QString &key) const
{
    const qsizetype at = lastLineOf(key);
    return at < 0 ? std::nullopt : std::optional(m_lines[at].value);
}

void ScoreFile::setScore(const QString &key, const QString &value)
{
    Q_ASSERT(!key.isEmpty());
    Line line{iniEscaped(key) + '=' + escapedValue(value), true, key, value, QByteArray()};
    if (const qsizetype at = lastLineOf(key); at >= 0) {
        line.comment = m_lines[at].comment;
        line.text += line.comment;
        m_lines[at] = line;
        return;
    }
    // A new score goes after the last score, or the header, of the last
    // [Startup] group.
    qsizetype last = -1;
    for (qsizetype i = 0; i < m_lines.size(); ++i)
        if (m_lines[i].inStartup && (m_lines[i].key || m_lines[i].text.trimmed().startsWith('[')))
            last = i;
    if (last < 0) {
        if (!m_lines.isEmpty() && !m_lines.last().text.trimmed().isEmpty())
            m_lines.append(Line{});
        m_lines.append(
            Line{'[' + kScoresGroup.toLatin1() + ']', true, std::nullopt, QString(), QByteArray()});
        last = m_lines.size() - 1;
    }
    m_lines.insert(last + 1, line);
}

QByteArray ScoreFile::bytes() const
{
    // The file's own byte-order mark stays; and a first line that itself
    // starts with U+FEFF must not pass for one when the file is read again.
    const bool markFirst =
        m_byteOrderMark || (!m_lines.isEmpty() && m_lines[0].text.startsWith(kByteOrderMark));
    QByteArray bytes = markFirst ? QByteArray(kByteOrderMark) : QByteArray();
    for (const Line &line : m_lines)
        bytes += line.text + m_lineEnd;
    return bytes;
}

QByteArray ScoreFile::iniEscaped(const QString &key)
{
    QByteArray escaped;
    for (const QChar c : key) {
        const char16_t u = c.unicode();
        if (u == '/')
            escaped += '\\';
        else if (u < 0x80 && (isalnum(u) || u == '_' || u == '-' || u == '.'))
            escaped += char(u);
        else if (u <= 0xFF)
            escaped += '%' + QByteArray::number(u, 16).toUpper().rightJustified(2, '0');
        else
            escaped += "%U" + QByteArray::number(u, 16).toUpper().rightJustified(4, '0');
    }
    return escaped;
}

QString ScoreFile::iniUnescaped(QByteArrayView escaped)
{
    if (isPrintableAscii(escaped) && !escaped.contains('%') && !escaped.contains('\\'))
        return QString::fromLatin1(escaped);
    const QString text = fromUtf8(escaped);
    QString key;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const qsizetype digits = text.mid(i + 1, 1) == u"U" ? 4 : 2;
        const qsizetype first = i + 1 + (digits == 4);
        const QStringView code = QStringView(text).mid(first, digits);
        if (text[i] == u'\\') {
            key += u'/';
        } else if (text[i] == u'%' && code.size() == digits &&
                   std::all_of(code.begin(), code.end(), isHexDigit)) {
            key += QChar(code.toUShort(nullptr, 16));
            i = first + digits - 1;
        } else {
            key += text[i];
        }
    }
    return key;
}
