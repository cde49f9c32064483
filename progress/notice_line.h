// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "services/notice.h"

#include <QWidget>

class QLabel;
class QPushButton;

// A line that tells the adult what went wrong, in French, with a
// "Détails…" button for the library's own words when there are any:
// someone helping them needs those, a parent does not.
class NoticeLine final : public QWidget
{
public:
    NoticeLine();
    void say(const Notice &notice);
    QString text() const;

private:
    QLabel *m_text;
    QPushButton *m_details;
    QString m_detailsText;
};

// A failure in a message box, its details behind "Détails…".
void warn(QWidget *parent, const Notice &failure);

// Asks before something that cannot be undone; "Non" is the default, so
// that Enter keeps everything.
bool confirmErasure(QWidget *parent, const QString &question);

// Says that something went well, such as where a file was written.
void tell(QWidget *parent, const QString &text);
QString writtenTo(const QString &file);
