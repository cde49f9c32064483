// Additions - a game for practising addition. GPL-3.0-or-later.
#include "services/clock_random.h"
#include "services/platform_score_store.h"
#include "services/system_beeper.h"
#include "window/command_line.h"
#include "window/design_look.h"
#include "window/fonts.h"
#include "window/message_box_messenger.h"
#include "window/translations.h"
#include "window/window_binding.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    if (const std::optional<int> status = answerCommandLine(argc, argv))
        return *status;
    QApplication app(argc, argv);
    // The desktop entry's name: the Wayland app id and the X11 window class
    // follow it, so docks show the game's icon and can pin it.
    const QString desktopEntry = QStringLiteral("fr.atelier_additions.Additions");
    QApplication::setApplicationName(desktopEntry);
    QApplication::setDesktopFileName(desktopEntry);
    QApplication::setWindowIcon(gameIcon());
    installFrenchTranslations();
    installFontSubstitutes();

    ClockRandom random;
    SystemBeeper beeper;
    PlatformScoreStore store;
    MessageBoxMessenger messenger;
    WindowBinding window({random, beeper, store, messenger});
    messenger.setParent(&window.form());
    window.form().show();
    return QApplication::exec();
}
