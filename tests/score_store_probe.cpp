// Additions - a game for practising addition. GPL-3.0-or-later.
// A second program using the score store, so tests can check what another
// run of the game would see: "read KEY" prints the stored text,
// "save KEY VALUE" stores it and exits 1 when the save failed.
#include "services/settings_score_store.h"

#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    SettingsScoreStore store;
    if (args.size() == 3 && args[1] == u"read") {
        QTextStream(stdout) << store.read(args[2]);
        return 0;
    }
    if (args.size() == 4 && args[1] == u"save")
        return store.save(args[2], args[3]) ? 0 : 1;
    QTextStream(stderr) << "usage: score_store_probe read KEY | save KEY VALUE\n";
    return 2;
}
