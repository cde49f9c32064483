// Additions - a game for practising addition. GPL-3.0-or-later.
#pragma once

#include "quiz/quiz_services.h"
#include "quiz/window_state.h"

#include <QWidget>

#include <array>
#include <memory>

namespace Ui {
class Form1;
}

class QLineEdit;

// The game's window: it shows what the game writes and forwards every click
// to the game's handlers, deciding nothing itself.
class Form1 final : public QWidget, public WindowState
{
    Q_OBJECT

public:
    explicit Form1(const QuizServices &services, QWidget *parent = nullptr);
    ~Form1() override;

    QString text(Field field) const override;
    void setText(Field field, const QString &text) override;
    Rgb background(Painted control) const override;
    void setBackground(Painted control, Rgb colour) override;
    void setVisible(Toggled control, bool visible) override;
    QString command18Caption() const override;
    void setCommand18Caption(const QString &caption) override;
    void setFocus(Field field) override;

    using QWidget::setFocus;
    using QWidget::setVisible;

private:
    QLineEdit *lineEdit(Field field) const;
    QWidget *widget(Toggled control) const;
    void connectButtons();

    std::unique_ptr<Ui::Form1> m_ui;
    QuizServices m_services;
    std::array<Rgb, 2> m_backgrounds{kWhite, kWhite};
};
