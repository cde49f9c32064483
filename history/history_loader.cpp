// SPDX-License-Identifier: GPL-3.0-or-later
#include "history/history_loader.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QPluginLoader>

namespace {

struct Loaded
{
    HistoryModule *module = nullptr;
    QString failure;
};

Loaded load()
{
    Loaded loaded;
    // Beside the program in its build folder and on Windows; in the library
    // folder once installed on Linux.
    const QString folder = QCoreApplication::applicationDirPath() + QLatin1Char('/');
    for (const char *relative : {"", ADDITIONS_HISTORY_MODULE_INSTALLED}) {
        const QString file =
            folder + QLatin1String(relative) + QStringLiteral(ADDITIONS_HISTORY_MODULE_FILE);
        if (!QFileInfo::exists(file))
            continue;
        QPluginLoader loader(file);
        QObject *instance = loader.instance();
        loaded.module = qobject_cast<HistoryModule *>(instance);
        if (loaded.module) {
            // Loaded by the recorder's thread, it belongs to the program.
            if (QCoreApplication::instance())
                instance->moveToThread(QCoreApplication::instance()->thread());
            return loaded;
        }
        loaded.failure = loader.errorString();
    }
    if (loaded.failure.isEmpty())
        loaded.failure = QStringLiteral("le fichier %1 est introuvable.")
                             .arg(QStringLiteral(ADDITIONS_HISTORY_MODULE_FILE));
    return loaded;
}

} // namespace

HistoryModule *historyModule(QString *problem)
{
    // Loaded once, whichever thread asks first.
    static const Loaded loaded = load();
    if (problem)
        *problem = loaded.failure;
    return loaded.module;
}

std::unique_ptr<HistoryWriter> openHistoryWriter()
{
    HistoryModule *module = historyModule();
    return module ? module->openWriter() : nullptr;
}
