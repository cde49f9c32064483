// Additions - a game for practising addition. GPL-3.0-or-later.
#include "window/form1.h"

#include "quiz/handlers.h"
#include "quiz/tables.h"
#include "ui_form1.h"

#include <QColor>
#include <QPalette>

namespace {

QColor toQColor(Rgb colour)
{
    return QColor(static_cast<int>(colour & 0xFF), static_cast<int>((colour >> 8) & 0xFF),
                  static_cast<int>((colour >> 16) & 0xFF));
}

void paint(QWidget *widget, QPalette::ColorRole role, Rgb colour)
{
    QPalette palette = widget->palette();
    palette.setColor(role, toQColor(colour));
    widget->setPalette(palette);
}

} // namespace

Form1::Form1(const QuizServices &services, QWidget *parent)
    : QWidget(parent), m_ui(std::make_unique<Ui::Form1>()), m_services(services)
{
    m_ui->setupUi(this);
    // A Designer form holds whole point sizes only.
    QFont contactFont = m_ui->Label4->font();
    contactFont.setPointSizeF(20.25);
    m_ui->Label4->setFont(contactFont);
    m_ui->Text1->setFocus();
    connectButtons();
}

Form1::~Form1() = default;

void Form1::connectButtons()
{
    for (const Level &level : kLevels) {
        connect(static_cast<QPushButton *>(widget(level.button)), &QPushButton::clicked, this,
                [this, &level] { quiz::levelClicked(*this, m_services, level); });
    }
    connect(m_ui->Command2, &QPushButton::clicked, this,
            [this] { quiz::okClicked(*this, m_services); });
    // In the order of the player table.
    const std::array playerButtons{m_ui->Command4, m_ui->Command5, m_ui->Command6};
    static_assert(playerButtons.size() == kPlayers.size());
    for (std::size_t i = 0; i < kPlayers.size(); ++i) {
        connect(playerButtons[i], &QPushButton::clicked, this,
                [this, &player = kPlayers[i]] { quiz::playerClicked(*this, player); });
    }
    connect(m_ui->Command3, &QPushButton::clicked, this,
            [this] { quiz::resetClicked(*this, m_services); });
    connect(m_ui->Command18, &QPushButton::clicked, this,
            [this] { quiz::informationClicked(*this); });
}

QString Form1::text(Field field) const
{
    return lineEdit(field)->text();
}

void Form1::setText(Field field, const QString &text)
{
    lineEdit(field)->setText(text);
}

Rgb Form1::background(Painted control) const
{
    return m_backgrounds[static_cast<std::size_t>(control)];
}

void Form1::setBackground(Painted control, Rgb colour)
{
    m_backgrounds[static_cast<std::size_t>(control)] = colour;
    if (control == Painted::Text7)
        paint(m_ui->Text7, QPalette::Base, colour);
    else
        paint(this, QPalette::Window, colour);
}

void Form1::setVisible(Toggled control, bool visible)
{
    widget(control)->setVisible(visible);
}

QString Form1::command18Caption() const
{
    return m_ui->Command18->text();
}

void Form1::setCommand18Caption(const QString &caption)
{
    m_ui->Command18->setText(caption);
}

void Form1::setFocus(Field field)
{
    lineEdit(field)->setFocus();
}

QLineEdit *Form1::lineEdit(Field field) const
{
    switch (field) {
    case Field::Text1:
        return m_ui->Text1;
    case Field::Text2:
        return m_ui->Text2;
    case Field::Text3:
        return m_ui->Text3;
    case Field::Text4:
        return m_ui->Text4;
    case Field::Text5:
        return m_ui->Text5;
    case Field::Text6:
        return m_ui->Text6;
    case Field::Text7:
        return m_ui->Text7;
    }
    Q_UNREACHABLE();
    return nullptr;
}

QWidget *Form1::widget(Toggled control) const
{
    switch (control) {
    case Toggled::Command1:
        return m_ui->Command1;
    case Toggled::Command2:
        return m_ui->Command2;
    case Toggled::Command7:
        return m_ui->Command7;
    case Toggled::Command9:
        return m_ui->Command9;
    case Toggled::Command10:
        return m_ui->Command10;
    case Toggled::Command15:
        return m_ui->Command15;
    case Toggled::Text8:
        return m_ui->Text8;
    }
    Q_UNREACHABLE();
    return nullptr;
}
