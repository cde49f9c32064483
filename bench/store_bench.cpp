// SPDX-License-Identifier: GPL-3.0-or-later
// The time of one save (lock, read, rewrite, sync, rename) with 1, 100 and
// 10,000 scores already stored: on tmpfs, and on the disk of the folder the
// benchmark runs in, where the syncs reach a real disk.
#include "services/platform_score_store.h"
#include "tests/scratch_folder.h"

#include <QDir>
#include <QFile>

#include <benchmark/benchmark.h>

namespace {

void save(benchmark::State &state, const QString &base)
{
    const auto config = scratchFolder(base);
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config->path()));
    QByteArray contents = "[Startup]\n";
    for (int i = 0; i < state.range(0); ++i)
        contents += "joueur" + QByteArray::number(i) + '=' + QByteArray::number(i % 100) + '\n';
    QFile file(QDir(config->path()).filePath(QStringLiteral("MyApp.conf")));
    if (!file.open(QIODevice::WriteOnly) || file.write(contents) != contents.size()) {
        state.SkipWithError("cannot write the settings file");
        return;
    }
    file.close();
    PlatformScoreStore store;
    int round = 0;
    for (auto _ : state)
        if (!store.save(QStringLiteral("1_joueur"), QString::number(++round % 1000)))
            state.SkipWithError("save failed");
}

void saveOnTmpfs(benchmark::State &state)
{
    save(state, QString());
}

void saveOnDisk(benchmark::State &state)
{
    save(state, QDir::currentPath());
}

} // namespace

BENCHMARK(saveOnTmpfs)->Arg(1)->Arg(100)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(saveOnDisk)->Arg(1)->Arg(100)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
