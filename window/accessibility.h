// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QString>
#include <QWidget>

// What a screen reader gets from the game beyond what Qt gives every widget:
// the window named "Additions" (its caption stays the form's), text boxes
// read whole, and announcements. Called once the application exists, before
// the window is built.
void installGameAccessibility();

// Says a sentence through the screen reader, wherever the focus is: a
// notification of the window, named by the sentence, that shows itself.
// Screen readers speak a notification as it appears; a description or a
// name that changes away from the focus is not spoken.
class Announcer final : public QObject
{
    Q_OBJECT

public:
    explicit Announcer(QWidget *window) : QObject(window) {}

    void say(const QString &sentence);
    // The last sentence said, until the next one.
    QString sentence() const { return m_sentence; }

private:
    QString m_sentence;
};
