// SPDX-License-Identifier: GPL-3.0-or-later
#include "history/history_database.h"
#include "history/history_module.h"
#include "history/progress_window.h"

#include <QObject>

class HistoryPlugin final : public QObject, public HistoryModule
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID ADDITIONS_HISTORY_MODULE_IID)
    Q_INTERFACES(HistoryModule)

public:
    std::unique_ptr<HistoryWriter> openWriter() override
    {
        return std::make_unique<HistoryDatabase>(QStringLiteral("additions-recorder"));
    }

    QWidget *newProgressWindow(int lost, QWidget *parent) override
    {
        return new ProgressWindow(lost, parent);
    }

    bool exportCsv(const QString &file) override
    {
        return HistoryDatabase(QStringLiteral("additions-export")).exportCsv(file);
    }
};

#include "history_plugin.moc"
