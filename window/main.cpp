// Additions - a game for practising addition. GPL-3.0-or-later.
#include "services/clock_random.h"
#include "services/platform_score_store.h"
#include "services/system_beeper.h"
#include "window/fonts.h"
#include "window/message_box_messenger.h"
#include "window/translations.h"
#include "window/window_binding.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
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
