// SPDX-License-Identifier: GPL-3.0-or-later
#include "window/window_binding.h"

#include "quiz/handlers.h"
#include "quiz/tables.h"
#include "ui_form1.h"
#include "window/accessibility.h"
#include "window/colours.h"
#include "window/design_look.h"

WindowBinding::WindowBinding(const QuizServices &services)
    : m_ui(std::make_unique<Ui::Form1>()), m_services(services)
{
    installGameAccessibility();
    m_ui->setupUi(&m_form);
    m_announcer = new Announcer(&m_form);
    const Ui::Form1 &ui = *m_ui;
    m_fields = {ui.Text1, ui.Text2, ui.Text3, ui.Text4, ui.Text5, ui.Text6, ui.Text7};
    m_toggled = {ui.Command1,  ui.Command2,  ui.Command7, ui.Command9,
                 ui.Command10, ui.Command15, ui.Text8};
    m_painted = {PaintedArea{ui.Text7, QPalette::Base}, PaintedArea{&m_form, QPalette::Window}};

    applyDesignLook(m_form);
    ui.Text1->setFocus();
    connectButtons();
}

WindowBinding::~WindowBinding() = default;

void WindowBinding::connectButtons()
{
    for (const Level &level : kLevels) {
        QObject::connect(static_cast<QPushButton *>(m_toggled[indexOf(level.button)]),
                         &QPushButton::clicked, &m_form,
                         [this, &level] { quiz::levelClicked(*this, m_services, level); });
    }
    QObject::connect(m_ui->Command2, &QPushButton::clicked, &m_form,
                     [this] { quiz::okClicked(*this, m_services); });
    // In the order of the player table.
    const std::array playerButtons{m_ui->Command4, m_ui->Command5, m_ui->Command6};
    static_assert(playerButtons.size() == kPlayers.size());
    for (std::size_t i = 0; i < kPlayers.size(); ++i) {
        QObject::connect(playerButtons[i], &QPushButton::clicked, &m_form,
                         [this, &player = kPlayers[i]] { quiz::playerClicked(*this, player); });
    }
    QObject::connect(m_ui->Command3, &QPushButton::clicked, &m_form,
                     [this] { quiz::resetClicked(*this, m_services); });
    QObject::connect(m_ui->Command18, &QPushButton::clicked, &m_form,
                     [this] { quiz::informationClicked(*this); });
}

QString WindowBinding::text(Field field) const
{
    return m_fields[indexOf(field)]->text();
}

void WindowBinding::setText(Field field, const QString &text)
{
    // Shown from its start: a text wider than its box ("nothing", a score
    // of -10000) must not lose its first characters.
    QLineEdit *box = m_fields[indexOf(field)];
    box->setText(text);
    box->setCursorPosition(0);
}

BgrColour WindowBinding::background(Painted control) const
{
    return m_backgrounds[indexOf(control)];
}

void WindowBinding::setBackground(Painted control, BgrColour colour)
{
    m_backgrounds[indexOf(control)] = colour;
    const PaintedArea &area = m_painted[indexOf(control)];
    QPalette palette = area.widget->palette();
    palette.setColor(area.role, toQColor(colour));
    area.widget->setPalette(palette);
}

void WindowBinding::setVisible(Toggled control, bool visible)
{
    m_toggled[indexOf(control)]->setVisible(visible);
}

QString WindowBinding::command18Caption() const
{
    return m_ui->Command18->text();
}

void WindowBinding::setCommand18Caption(const QString &caption)
{
    m_ui->Command18->setText(caption);
}

void WindowBinding::setFocus(Field field)
{
    m_fields[indexOf(field)]->setFocus();
}

void WindowBinding::announce(const QString &sentence)
{
    m_announcer->say(sentence);
}
