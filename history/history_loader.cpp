// SPDX-License-Identifier: GPL-3.0-or-later
#include "history/history_loader.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QMutex>
#include <QPluginLoader>

HistoryModule *historyModule(QString *problem)
{
    static QMutex mutex;
    static bool tried = false;
    static HistoryModule *module = nullptr;
    static QString failure;
    const QMutexLocker lock(&mutex);
    if (!tried) {
        tried = true;
        // Beside the program in its build folder and on Windows; in the
        // library folder once installed on Linux.
        const QString folder = QCoreApplication::applicationDirPath() + QLatin1Char('/');
        for (const char *relative : {"", ADDITIONS_HISTORY_MODULE_INSTALLED}) {
            const QString file =
                folder + QLatin1String(relative) + QStringLiteral(ADDITIONS_HISTORY_MODULE_FILE);
            if (!QFileInfo::exists(file))
                continue;
            QPluginLoader loader(file);
            QObject *instance = loader.instance();
            module = qobject_cast<HistoryModule *>(instance);
            if (module) {
                // Loaded by the recorder's thread, it belongs to the program.
                if (QCoreApplication::instance())
                    instance->moveToThread(QCoreApplication::instance()->thread());
                break;
            }
            failure = loader.errorString();
        }
        if (!module && failure.isEmpty())
            failure = QStringLiteral("le fichier %1 est introuvable.")
                          .arg(QStringLiteral(ADDITIONS_HISTORY_MODULE_FILE));
    }
    if (problem)
        *problem = failure;
    return module;
}

std::unique_ptr<HistoryWriter> openHistoryWriter()
{
    HistoryModule *module = historyModule();
    return module ? module->openWriter() : nullptr;
}
