// SPDX-License-Identifier: GPL-3.0-or-later
// Another program using the score store, so tests can check what another run
// of the game sees and what copies of it running at once do to the store.
//   read KEY                 prints the stored text, or <none>
//   save KEY VALUE           stores it
//   fill PREFIX COUNT        stores PREFIX0=0 ... PREFIX<COUNT-1>
//   set PREFIX COUNT VALUE   stores VALUE under PREFIX0 ... PREFIX<COUNT-1>
//                            (both save a refused score again, as the game's
//                            next click does, and print how many were refused)
//   loop                     saves k0..k9 = 0, 1, 2, ... for ever, printing
//                            each number once it is stored
// Exits 1 as soon as a read or a save fails. Under the fault shim, "save"
// arms the shim just before saving and prints "untouched" when the fault it
// was given never came.
#include "services/platform_score_store.h"

#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>
#include <dlfcn.h>

namespace {

// The fault shim's switch, when the shim is loaded.
bool armFaults()
{
    using Arm = void (*)();
    const auto arm = reinterpret_cast<Arm>(::dlsym(RTLD_DEFAULT, "additions_fault_arm"));
    if (arm)
        arm();
    return arm != nullptr;
}

// A save the store refused, because other copies held the lock for longer
// than it waits on a loaded machine, is tried again a few times.
bool saveAgainIfRefused(PlatformScoreStore &store, const QString &key, const QString &value,
                        int &refused)
{
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (store.save(key, value))
            return true;
        ++refused;
    }
    QTextStream(stderr) << "refused five times: " << key << '\n';
    return false;
}

bool faultCame()
{
    using Fired = int (*)();
    const auto fired = reinterpret_cast<Fired>(::dlsym(RTLD_DEFAULT, "additions_fault_fired"));
    return fired && fired();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    const QString mode = args.value(1);
    PlatformScoreStore store;
    if (mode == u"read" && args.size() == 3) {
        const ScoreRead stored = store.read(args[2]);
        QTextStream(stdout) << stored.score.value_or(QStringLiteral("<none>"));
        return stored.readable ? 0 : 1;
    }
    if (mode == u"save" && args.size() == 4) {
        const bool shimmed = armFaults();
        const bool saved = store.save(args[2], args[3]);
        if (shimmed && !faultCame())
            QTextStream(stdout) << "untouched";
        return saved ? 0 : 1;
    }
    if ((mode == u"fill" && args.size() == 4) || (mode == u"set" && args.size() == 5)) {
        int refused = 0;
        for (int i = 0; i < args[3].toInt(); ++i)
            if (!saveAgainIfRefused(store, args[2] + QString::number(i),
                                    mode == u"fill" ? QString::number(i) : args[4], refused))
                return 1;
        QTextStream(stdout) << refused;
        return 0;
    }
    if (mode == u"loop" && args.size() == 2) {
        for (int i = 0;; ++i) {
            if (!store.save(QStringLiteral("k%1").arg(i % 10), QString::number(i)))
                return 1;
            std::printf("%d\n", i);
            std::fflush(stdout);
        }
    }
    QTextStream(stderr) << "usage: see the comment at the top of score_store_probe.cpp\n";
    return 2;
}
