// SPDX-License-Identifier: GPL-3.0-or-later
#include "progress/window_size.h"

#include <QScreen>
#include <QSettings>
#include <QWidget>

#include <memory>

namespace {

std::unique_ptr<QSettings> settings()
{
    return std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                       QStringLiteral("Additions"),
                                       QStringLiteral("additions-progres"));
}

QString key(const QWidget *window)
{
    return QStringLiteral("fenetres/%1").arg(window->objectName());
}

} // namespace

void restoreSize(QWidget *window)
{
    if (window->restoreGeometry(settings()->value(key(window)).toByteArray()))
        return;
    // Wide enough for a class's grid without scrolling sideways, when the
    // screen has room for it.
    const QSize wanted = window->sizeHint().expandedTo(QSize(1200, 760));
    const QSize room = window->screen()->availableGeometry().size() * 0.9;
    window->resize(wanted.boundedTo(room));
}

void keepSize(const QWidget *window)
{
    settings()->setValue(key(window), window->saveGeometry());
}
