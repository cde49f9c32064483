// SPDX-License-Identifier: GPL-3.0-or-later
// How long each kind of click takes in the real window, from the button's
// click to the handler's return, store sync included, with 100 scores
// already stored on tmpfs. Prints one line per kind: "kind median_ms p99_ms clicks".
#include "history/history_recorder.h"
#include "services/clock_random.h"
#include "services/messenger.h"
#include "services/platform_score_store.h"
#include "services/system_beeper.h"
#include "tests/scratch_folder.h"
#include "window/fonts.h"
#include "window/window_binding.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>

#include <algorithm>
#include <cstdio>
#include <map>
#include <vector>

namespace {

constexpr int kClicks = 1000;

class NoMessages final : public Messenger
{
public:
    void tell(const QString &message) override
    {
        std::fprintf(stderr, "unexpected message: %s\n", qPrintable(message));
        std::exit(1);
    }
};

} // namespace

int main(int argc, char *argv[])
{
    const auto config = scratchFolder();
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config->path()));
    qputenv("XDG_DATA_HOME", QFile::encodeName(config->path()));
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    installFontSubstitutes();

    PlatformScoreStore store;
    for (int i = 0; i < 100; ++i)
        if (!store.save(QStringLiteral("joueur%1").arg(i), QString::number(i)))
            return 1;
    ClockRandom random;
    SystemBeeper beeper;
    NoMessages messenger;
    HistoryRecorder history;
    WindowBinding window({random, beeper, store, messenger, history});
    window.form().show();
    const auto button = [&](const char *name) {
        return window.form().findChild<QPushButton *>(QLatin1StringView(name));
    };
    const auto field = [&](const char *name) {
        return window.form().findChild<QLineEdit *>(QLatin1StringView(name));
    };

    std::map<std::string, std::vector<double>> timings;
    const auto timed = [&](const std::string &kind, QPushButton *pressed) {
        QElapsedTimer timer;
        timer.start();
        pressed->click();
        timings[kind].push_back(double(timer.nsecsElapsed()) / 1e6);
        QCoreApplication::processEvents();
    };
    const char *levels[] = {"Command9", "Command1", "Command10", "Command7", "Command15"};
    const char *players[] = {"Command4", "Command5", "Command6"};
    for (int i = 0; i < kClicks; ++i) {
        timed("player", button(players[i % 3]));
        timed("level", button(levels[i % 5]));
        const int sum = field("Text2")->text().toInt() + field("Text3")->text().toInt();
        field("Text4")->setText(QString::number(i % 2 == 0 ? sum : sum + 1));
        timed(i % 2 == 0 ? "ok right" : "ok wrong", button("Command2"));
        timed("reset", button("Command3"));
        timed("information", button("Command18"));
    }
    for (auto &[kind, values] : timings) {
        std::sort(values.begin(), values.end());
        std::printf("%s|%.3f|%.3f|%zu\n", kind.c_str(), values[values.size() / 2],
                    values[std::min(values.size() - 1, values.size() * 99 / 100)], values.size());
    }
    return 0;
}
