// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QApplication>
#include <QEventLoop>
#include <QThread>
#include <QWidget>

#include <memory>

// Work of a few seconds, off the window's thread: the window is drawn
// meanwhile, and takes no click.
template <typename Work> bool offTheWindow(QWidget *window, Work work)
{
    bool done = false;
    QEventLoop loop;
    std::unique_ptr<QThread> thread(QThread::create([&] { done = work(); }));
    QObject::connect(thread.get(), &QThread::finished, &loop, &QEventLoop::quit);
    window->setEnabled(false);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    thread->start();
    loop.exec();
    thread->wait();
    QApplication::restoreOverrideCursor();
    window->setEnabled(true);
    return done;
}
