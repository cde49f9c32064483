// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "quiz/window_state.h"
#include "x_tools.h"

#include <QImage>
#include <QPoint>
#include <QProcess>
#include <QRect>
#include <QString>

// One run of the built game on the suite's X server, driven from outside as
// a person would: clicks, keys, the clipboard and screenshots. The process
// is stopped by its PID when the driver goes, whatever happened.
class GameDriver
{
public:
    // home holds the run's HOME; its config/ folder is XDG_CONFIG_HOME.
    explicit GameDriver(const QString &home);
    ~GameDriver();

    // Runs the game with QT_SCALE_FACTOR set; clicks and colours follow.
    void setScale(int scale) { m_scale = scale; }
    // The game's command line, empty by default.
    void setArguments(const QStringList &arguments) { m_arguments = arguments; }
    // Sets a variable of the game's environment, over the driver's own.
    void setEnvironment(const QString &name, const QString &value) { m_extra.insert(name, value); }
    // Runs this Windows program under Wine instead of the built game; reads
    // go through the Windows clipboard helper.
    void runUnderWine(const QString &program, const QString &clipboardHelper)
    {
        m_wineProgram = program;
        m_clipboardHelper = clipboardHelper;
    }
    bool start(QString *why);
    bool isRunning() const { return m_game.state() == QProcess::Running; }
    qint64 pid() const { return m_game.processId(); }
    // Asks the window to close and waits for the program to end; true when
    // it ended by itself with exit code 0.
    bool close();

    // Where the window is on the screen; without a window manager every
    // window opens at the same place, so a second game must move.
    bool moveTo(QPoint topLeft);

    void click(const char *control);
    void clickAt(QPoint inWindow);
    // Keys go to the window that has the X keyboard focus, which a game takes
    // only once it has handled the click before; both wait for that first.
    void type(const QString &text);
    void keys(const QString &keys);

    // The text of a text box, read as a person would: click it, select all,
    // copy, and look at the clipboard (under Wine, Windows' own).
    QString read(const char *control);

    QImage screenshot();
    // A colour of the game as a screenshot gives it (0xRRGGBB).
    static QRgb shown(BgrColour colour);
    // The most frequent colour in the middle of the control (or any patch),
    // as 0xRRGGBB.
    static QRgb commonColour(const QImage &image, const QRect &patch);
    QRgb colourOf(const char *control);
    // Waits until the control's colour is `colour`; false on time out.
    bool waitForColour(const char *control, QRgb colour, int timeoutMs = 3000);

    // Whether a message box of the game is showing.
    bool messageShown();
    bool waitForMessage(bool shown, int timeoutMs = 5000);
    // Presses Enter in the message box, as a child would, and waits for it to go.
    bool closeMessage();

    // Poses a problem at "moins de 50" (unless one is open), answers it
    // `error` off the sum, and returns the score the window then shows.
    QString answer(int error, bool levelClicked = false);

    QString storeFile() const;
    // The X window's id, for the X tools.
    QString windowId() const { return m_window; }
    QString lastError() const { return m_lastError; }

    // The id of the game's window with that title, or an empty text.
    QString windowWithTitle(const QString &title);

private:
    bool waitForKeyboard(const QString &window);
    void sendKeys(const QString &window, const QString &keys);
    bool xdotool(const QStringList &arguments);
    QString readUnderWine(const char *control);

    QString m_home;
    QProcess m_game;
    QString m_window;
    QString m_lastError;
    int m_scale = 1;
    QProcessEnvironment m_extra;
    QStringList m_arguments;
    QString m_wineProgram;
    QString m_clipboardHelper;
};

// Starts the game, or fails the test with the reason.
#define START_GAME(game)                                                                           \
    do {                                                                                           \
        QString why;                                                                               \
        QVERIFY2((game).start(&why), qPrintable(why));                                             \
    } while (false)

// The middle part of a control, where its own colour shows.
QRect patchOf(const char *control, int scale = 1);
