// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "history/history_row.h"

#include <QString>
#include <QtPlugin>

#include <memory>

class QWidget;

// Where answers are written: one writer per thread.
class HistoryWriter
{
public:
    virtual ~HistoryWriter() = default;
    virtual bool insert(const HistoryRow &row) = 0;
};

// The history's database and its Progrès window live in a module of their
// own, loaded at the first answer or when a parent asks for the window:
// Qt SQL is not loaded when the game starts.
class HistoryModule
{
public:
    virtual ~HistoryModule() = default;
    virtual std::unique_ptr<HistoryWriter> openWriter() = 0;
    // `lost`: answers the running game could not write, to say so.
    virtual QWidget *newProgressWindow(int lost, QWidget *parent) = 0;
    virtual bool exportCsv(const QString &file) = 0;
};

#define ADDITIONS_HISTORY_MODULE_IID "fr.atelier_additions.Additions.HistoryModule/1"
Q_DECLARE_INTERFACE(HistoryModule, ADDITIONS_HISTORY_MODULE_IID)
