// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// One answered problem, as the game judged it.
struct AnswerRecord
{
    QString player; // the key the score is kept under
    int bound = 0;  // the bound of the level the problem was drawn at, 0 if none was
    QString first;  // the two numbers and the answer, as the window showed them
    QString second;
    QString answer;
    bool right = false;
    int stake = 0;          // held to a score's range, as the score is
    QString scoreAfter;     // the score the window shows after the answer
    bool scoreKept = false; // whether the store kept that score
};

// Where answers go besides the score: the history parents and teachers look
// at. Recording never blocks, slows or changes a click, and never speaks to
// the child; a record that cannot be kept is reported to the adults.
class AnswerRecorder
{
public:
    virtual ~AnswerRecorder() = default;
    virtual void record(const AnswerRecord &answer) = 0;
};
