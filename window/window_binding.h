// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "quiz/handlers.h"
#include "quiz/window_state.h"

#include <QPalette>
#include <QWidget>

#include <array>
#include <memory>

namespace Ui {
class Form1;
}

class Announcer;
class QLineEdit;

// The game's window: the Designer form, seen by the game through
// WindowState. It shows what the game writes and forwards every click to
// the game's handlers, deciding nothing itself.
class WindowBinding final : public WindowState
{
public:
    explicit WindowBinding(const QuizServices &services);
    ~WindowBinding() override;

    QWidget &form() { return m_form; }

    QString text(Field field) const override;
    void setText(Field field, const QString &text) override;
    BgrColour background(Painted control) const override;
    void setBackground(Painted control, BgrColour colour) override;
    void setVisible(Toggled control, bool visible) override;
    QString command18Caption() const override;
    void setCommand18Caption(const QString &caption) override;
    int problemBound() const override { return m_problemBound; }
    void setProblemBound(int bound) override { m_problemBound = bound; }
    void setFocus(Field field) override;
    void announce(const QString &sentence) override;

private:
    struct PaintedArea
    {
        QWidget *widget;
        QPalette::ColorRole role;
    };

    void connectButtons();

    QWidget m_form;
    std::unique_ptr<Ui::Form1> m_ui;
    Announcer *m_announcer = nullptr; // a child of m_form
    QuizServices m_services;
    // The widget behind each value of Field, Toggled and Painted, in the
    // enums' order.
    std::array<QLineEdit *, kFieldCount> m_fields{};
    std::array<QWidget *, kToggledCount> m_toggled{};
    std::array<PaintedArea, kPaintedCount> m_painted{};
    std::array<BgrColour, kPaintedCount> m_backgrounds{kWhite, kWhite};
    int m_problemBound = 0;
};
