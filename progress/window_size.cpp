// SPDX-License-Identifier: GPL-3.0-or-later
#include "progress/window_size.h"

#include <QScreen>
#include <QSettings>
#include <QStyle>
#include <QWidget>

#include <algorithm>
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
    if (!window->restoreGeometry(settings()->value(key(window)).toByteArray()))
        window->resize(window->sizeHint());
    fitToScreen(window, window->size());
}

void keepSize(const QWidget *window)
{
    settings()->setValue(key(window), window->saveGeometry());
}

QSize fitToScreen(QWidget *window, QSize wanted)
{
    const QRect room = window->screen()->availableGeometry();
    // The frame once the window has one; before, room for a title bar.
    QSize frame = window->frameGeometry().size() - window->size();
    if (frame.isNull())
        frame.setHeight(window->style()->pixelMetric(QStyle::PM_TitleBarHeight));
    const QSize size = wanted.boundedTo(room.size() - frame);
    window->resize(size);
    const QPoint corner = room.bottomRight() - QPoint(size.width(), size.height()) -
                          QPoint(frame.width(), frame.height()) + QPoint(1, 1);
    // Moved only when it overhangs: else the desktop places it.
    const QPoint inside(std::clamp(window->x(), room.left(), std::max(room.left(), corner.x())),
                        std::clamp(window->y(), room.top(), std::max(room.top(), corner.y())));
    if (inside != window->pos())
        window->move(inside);
    return window->size();
}

QVariant remembered(const QString &key)
{
    return settings()->value(key);
}

void remember(const QString &key, const QVariant &value)
{
    settings()->setValue(key, value);
}
