// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// One answered problem, as the game judged it.
struct AnswerRecord
{
    QString player; // the key the score is kept under
    int bound = 0;  // the level's bound, 0 when the stake matches no level
    QString first;  // the two numbers and the answer, as the window showed them
    QString second;
    QString answer;
    bool right = false;
    int stake = 0;
    QString scoreAfter; // the score the window shows after the answer
};

// Where answers go besides the score: the history parents and teachers look
// at. Recording never blocks, slows or changes a click; a record that
// cannot be kept is lost silently, and the history says so when looked at.
class AnswerRecorder
{
public:
    virtual ~AnswerRecorder() = default;
    virtual void record(const AnswerRecord &answer) = 0;
};
