// Additions - a game for practising addition. GPL-3.0-or-later.
// The time of one save (read, merge, write, sync) with 1, 100 and 10,000
// scores already stored.
#include "services/settings_score_store.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

void saveWithScoresStored(benchmark::State &state)
{
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    QByteArray contents = "[Startup]\n";
    for (int i = 0; i < state.range(0); ++i)
        contents += "joueur" + QByteArray::number(i) + '=' + QByteArray::number(i % 100) + '\n';
    QFile file(QDir(config.path()).filePath(QStringLiteral("MyApp.conf")));
    if (!file.open(QIODevice::WriteOnly) || file.write(contents) != contents.size()) {
        state.SkipWithError("cannot write the settings file");
        return;
    }
    file.close();
    SettingsScoreStore store;
    int round = 0;
    for (auto _ : state)
        if (!store.save(QStringLiteral("1_joueur"), QString::number(++round % 1000)))
            state.SkipWithError("save failed");
}

} // namespace

BENCHMARK(saveWithScoresStored)->Arg(1)->Arg(100)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
