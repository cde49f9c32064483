// SPDX-License-Identifier: GPL-3.0-or-later
#include "game_driver.h"

#include "../design.h"
#include "window/colours.h"

#include <QDir>
#include <QFile>
#include <QHash>

using namespace Qt::StringLiterals;

#ifndef ADDITIONS_EXECUTABLE
#error "ADDITIONS_EXECUTABLE must name the game's executable"
#endif

namespace {
const QByteArray kClipboardMarker = "<<clipboard not written>>";
}

QRect patchOf(const char *control, int scale)
{
    const QRect area = design(control).pixels();
    const QRect patch =
        QRect(area.center() - QPoint(4, 4), QSize(9, 9)).intersected(area.adjusted(3, 3, -3, -3));
    return QRect(patch.topLeft() * scale, patch.size() * scale);
}

GameDriver::GameDriver(const QString &home) : m_home(home) {}

GameDriver::~GameDriver()
{
    if (m_game.state() != QProcess::NotRunning) {
        m_game.kill();
        m_game.waitForFinished(3000);
    }
}

bool GameDriver::start(QString *why)
{
    QDir(m_home).mkpath(u"config"_s);
    QDir(m_home).mkpath(u"runtime"_s);
    QFile::setPermissions(m_home + u"/runtime"_s,
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    // Wine keeps its user's folders in the prefix, linked to the real HOME.
    if (m_wineProgram.isEmpty())
        environment.insert(u"HOME"_s, m_home);
    environment.insert(u"XDG_CONFIG_HOME"_s, m_home + u"/config"_s);
    environment.insert(u"XDG_RUNTIME_DIR"_s, m_home + u"/runtime"_s);
    if (m_scale != 1)
        environment.insert(u"QT_SCALE_FACTOR"_s, QString::number(m_scale));
    environment.insert(m_extra);
    m_game.setProcessEnvironment(environment);
    m_game.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    if (m_wineProgram.isEmpty())
        m_game.start(QStringLiteral(ADDITIONS_EXECUTABLE), m_arguments);
    else
        m_game.start(u"wine"_s, QStringList{m_wineProgram} + m_arguments);
    if (!m_game.waitForStarted(5000)) {
        *why = u"the game did not start: "_s + m_game.errorString();
        return false;
    }
    if (!waitUntil(
            [this] {
                return !(m_window = windowWithTitle(u"Form1"_s)).isEmpty() ||
                       m_game.waitForFinished(0);
            },
            // Wine's first start in a new prefix sets up its services first;
            // a sanitized build on a machine running other tests beside it
            // has been seen to need more than 15 s.
            m_wineProgram.isEmpty() ? 45000 : 90000) ||
        m_window.isEmpty()) {
        *why = isRunning() ? u"the game's window did not appear in time"_s
                           : u"the game ended before showing its window"_s;
        return false;
    }
    // A window is mapped before it is painted: screenshots wait for the
    // banner's blue.
    if (!waitForColour("Text1", kBannerBlue, 10000)) {
        *why = u"the game's window was not painted within 10 s"_s;
        return false;
    }
    // Wine passes clicks on to a new window once a first click has
    // activated it.
    if (!m_wineProgram.isEmpty())
        clickAt({640, 400});
    return true;
}

bool GameDriver::close()
{
    bool ok = true;
    if (!sendDeleteWindow(m_window.toUInt()))
        return false;
    if (!m_game.waitForFinished(5000)) {
        m_lastError = u"still running 5 s after its window was closed"_s;
        return false;
    }
    if (m_game.exitStatus() != QProcess::NormalExit || m_game.exitCode() != 0)
        m_lastError =
            u"ended with status %1 (%2)"_s.arg(m_game.exitCode())
                .arg(m_game.exitStatus() == QProcess::NormalExit ? u"exit"_s : u"crash"_s);
    return ok && m_game.exitStatus() == QProcess::NormalExit && m_game.exitCode() == 0;
}

bool GameDriver::moveTo(QPoint topLeft)
{
    return xdotool({u"windowmove"_s, u"--sync"_s, m_window, QString::number(topLeft.x()),
                    QString::number(topLeft.y())});
}

QString GameDriver::windowWithTitle(const QString &title)
{
    // Under Wine the window belongs to another process than the one started.
    QStringList arguments{u"search"_s, u"--all"_s, u"--onlyvisible"_s};
    if (m_wineProgram.isEmpty())
        arguments << u"--pid"_s << QString::number(pid());
    arguments << u"--name"_s << u"^"_s + title + u"$"_s;
    const ToolResult found = runTool(u"xdotool"_s, arguments, {});
    return QString::fromLatin1(found.output).split(u'\n', Qt::SkipEmptyParts).value(0);
}

bool GameDriver::xdotool(const QStringList &arguments)
{
    const ToolResult result = runTool(u"xdotool"_s, arguments, {});
    if (!result.ok)
        m_lastError = result.error;
    return result.ok;
}

void GameDriver::click(const char *control)
{
    clickAt(design(control).pixels().center() * m_scale);
}

void GameDriver::clickAt(QPoint inWindow)
{
    xdotool({u"mousemove"_s, u"--window"_s, m_window, QString::number(inWindow.x()),
             QString::number(inWindow.y()), u"click"_s, u"1"_s});
}

bool GameDriver::waitForKeyboard(const QString &window)
{
    // Wine keeps the X keyboard focus on a window of its own and passes keys
    // on to the active window; there is nothing to wait for.
    if (!m_wineProgram.isEmpty())
        return true;
    const bool focused = waitUntil(
        [&] {
            const ToolResult focus = runTool(u"xdotool"_s, {u"getwindowfocus"_s}, {}, 3000);
            return focus.ok && QString::fromLatin1(focus.output).trimmed() == window;
        },
        5000);
    if (!focused)
        m_lastError = u"window "_s + window + u" never took the keyboard"_s;
    return focused;
}

void GameDriver::type(const QString &text)
{
    waitForKeyboard(m_window);
    xdotool({u"type"_s, u"--delay"_s, u"20"_s, u"--"_s, text});
}

void GameDriver::keys(const QString &keys)
{
    sendKeys(m_window, keys);
}

void GameDriver::sendKeys(const QString &window, const QString &keys)
{
    waitForKeyboard(window);
    QStringList arguments{u"key"_s, u"--delay"_s, u"20"_s};
    arguments << keys.split(u' ');
    xdotool(arguments);
}

QString GameDriver::read(const char *control)
{
    if (!m_wineProgram.isEmpty())
        return readUnderWine(control);
    // A marker on the clipboard first: copying from an empty box copies
    // nothing, so a marker still there means the box was empty.
    QProcess marker;
    marker.setProcessEnvironment(QProcessEnvironment::systemEnvironment());
    marker.setStandardOutputFile(QProcess::nullDevice());
    marker.start(u"xclip"_s, {u"-quiet"_s, u"-i"_s, u"-selection"_s, u"clipboard"_s});
    marker.waitForStarted(3000);
    marker.write(kClipboardMarker);
    // Without an event loop, QProcess writes only while it is waited on.
    marker.waitForBytesWritten(3000);
    marker.closeWriteChannel();
    const auto clipboard = [] {
        return runTool(u"xclip"_s, {u"-o"_s, u"-selection"_s, u"clipboard"_s}, {}, 3000).output;
    };
    waitUntil([&] { return clipboard() == kClipboardMarker; }, 3000);

    click(control);
    keys(u"ctrl+a ctrl+c"_s);
    QByteArray copied;
    // Empty boxes cost this wait; every other read ends as soon as the copy
    // lands.
    waitUntil([&] { return (copied = clipboard()) != kClipboardMarker; }, 800);

    marker.kill();
    marker.waitForFinished(3000);
    return copied == kClipboardMarker ? QString() : QString::fromUtf8(copied);
}

QString GameDriver::readUnderWine(const char *control)
{
    // The helper prints the clipboard's change count, then its text: a new
    // count means the copy has landed, even of a text copied before.
    const auto clipboard = [this] {
        return runTool(u"wine"_s, {m_clipboardHelper}, {}, 10000).output;
    };
    const QByteArray before = clipboard();
    click(control);
    keys(u"ctrl+a ctrl+c"_s);
    QByteArray copied;
    // An empty box copies nothing, and costs this wait.
    if (!waitUntil([&] { return (copied = clipboard()) != before; }, 3000))
        return {};
    return QString::fromUtf8(copied.mid(copied.indexOf('\n') + 1));
}

QImage GameDriver::screenshot()
{
    const ToolResult dump = runTool(u"xwd"_s, {u"-silent"_s, u"-id"_s, m_window}, {});
    if (!dump.ok) {
        m_lastError = dump.error;
        return {};
    }
    const ToolResult png = runTool(u"convert"_s, {u"xwd:-"_s, u"png:-"_s}, {}, 10000, dump.output);
    return QImage::fromData(png.output, "PNG");
}

QRgb GameDriver::shown(BgrColour colour)
{
    return toQColor(colour).rgb() & 0xFFFFFF;
}

QRgb GameDriver::commonColour(const QImage &image, const QRect &patch)
{
    QHash<QRgb, int> counts;
    for (int y = patch.top(); y <= patch.bottom(); ++y)
        for (int x = patch.left(); x <= patch.right(); ++x)
            ++counts[image.pixel(x, y) & 0xFFFFFF];
    QRgb best = 0;
    int bestCount = -1;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        if (it.value() > bestCount)
            std::tie(best, bestCount) = std::pair(it.key(), it.value());
    return best;
}

QRgb GameDriver::colourOf(const char *control)
{
    const QImage image = screenshot();
    return image.isNull() ? QRgb(0xDEAD) : commonColour(image, patchOf(control, m_scale));
}

bool GameDriver::waitForColour(const char *control, QRgb colour, int timeoutMs)
{
    return waitUntil([&] { return colourOf(control) == colour; }, timeoutMs, 100);
}

bool GameDriver::messageShown()
{
    return !windowWithTitle(u"Additions"_s).isEmpty();
}

bool GameDriver::waitForMessage(bool shown, int timeoutMs)
{
    return waitUntil([&] { return messageShown() == shown; }, timeoutMs, 100);
}

bool GameDriver::closeMessage()
{
    const QString box = windowWithTitle(u"Additions"_s);
    if (box.isEmpty())
        return false;
    // A click on the box's text gives it the keyboard; Enter presses its button.
    xdotool({u"mousemove"_s, u"--window"_s, box, u"10"_s, u"10"_s, u"click"_s, u"1"_s});
    sendKeys(box, u"Return"_s);
    return waitForMessage(false);
}

QString GameDriver::answer(int error, bool levelClicked)
{
    // Each click is waited for, as a child sees it: the stake turns green
    // when a problem is posed and white when it is answered (a slow game,
    // under Wine, would otherwise be read before it has moved).
    if (!levelClicked) {
        click("Command9");
        if (!waitForColour("Text7", shown(STAKE_GREEN)))
            return u"<no problem posed>"_s;
    }
    const int sum = read("Text2").toInt() + read("Text3").toInt();
    click("Text4");
    type(QString::number(sum + error));
    click("Command2");
    if (!waitForColour("Text7", shown(kWhite)))
        return u"<OK not taken>"_s;
    const QString sumShown = read("Text5");
    if (sumShown != QString::number(sum))
        return u"<sum shown: "_s + sumShown + u">"_s;
    return read("Text6");
}

QString GameDriver::storeFile() const
{
    return m_home + u"/config/MyApp.conf"_s;
}
