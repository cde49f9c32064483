// SPDX-License-Identifier: GPL-3.0-or-later
#include "classroom/class_sender.h"
#include "services/clock_random.h"
#include "services/platform_score_store.h"
#include "services/process_end.h"
#include "services/system_beeper.h"
#include "services/translations.h"
#include "window/command_line.h"
#include "window/design_look.h"
#include "window/fonts.h"
#include "window/message_box_messenger.h"
#include "window/window_binding.h"

#include <QApplication>
#include <QEvent>
#include <QIcon>
#include <QTimer>

namespace {

// The game's icon, in the sizes a title bar, a task bar and Alt+Tab ask for,
// rendered from its SVG when it was built: decoding larger ones would slow
// the start, and docks take the desktop entry's SVG.
QIcon gameIcon()
{
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64})
        icon.addFile(QStringLiteral(":/icons/%1.png").arg(size), QSize(size, size));
    return icon;
}

// Decoding the icon's PNGs costs more than the rest of what the game adds
// to the start of a bare window, and no one sees the icon before the window:
// the window takes it once it has been painted.
class IconAfterFirstPaint final : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint) {
            watched->removeEventFilter(this);
            QTimer::singleShot(0, this, [] { QApplication::setWindowIcon(gameIcon()); });
        }
        return false;
    }
};

int play(int argc, char *argv[])
{
    if (const std::optional<int> status = answerCommandLine(argc, argv))
        return *status;
    QApplication app(argc, argv);
    // The desktop entry's name: the Wayland app id and the X11 window class
    // follow it, so docks show the game's icon and can pin it.
    const QString desktopEntry = QStringLiteral("fr.atelier_additions.Additions");
    QApplication::setApplicationName(desktopEntry);
    QApplication::setDesktopFileName(desktopEntry);
    installFrenchTranslations();
    installFontSubstitutes();

    HistoryRecorder history(ClassSender::ifConfigured());
    ClockRandom random;
    SystemBeeper beeper;
    PlatformScoreStore store;
    MessageBoxMessenger messenger;
    WindowBinding window({random, beeper, store, messenger, history});
    messenger.setParent(&window.form());
    window.form().installEventFilter(new IconAfterFirstPaint(&window.form()));
    window.form().show();
    return QApplication::exec();
}

} // namespace

int main(int argc, char *argv[])
{
    // By then every score is stored and the history written and closed.
    return endOfProgram(play(argc, argv));
}
