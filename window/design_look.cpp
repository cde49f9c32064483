// SPDX-License-Identifier: GPL-3.0-or-later
#include "window/design_look.h"

#include <QPalette>
#include <QStyle>
#include <QStyleFactory>
#include <QWidget>

#include <initializer_list>
#include <utility>

namespace {

QPalette designPalette()
{
    QPalette palette;
    const std::initializer_list<std::pair<QPalette::ColorRole, QColor>> colours{
        {QPalette::Window, Qt::white},
        {QPalette::WindowText, Qt::black},
        {QPalette::Base, Qt::white},
        {QPalette::AlternateBase, QColor(0xF5F5F5)},
        {QPalette::Text, Qt::black},
        {QPalette::PlaceholderText, QColor(0x5F5F5F)},
        {QPalette::Button, QColor(0xE1E1E1)},
        {QPalette::ButtonText, Qt::black},
        {QPalette::BrightText, Qt::white},
        {QPalette::Light, Qt::white},
        {QPalette::Midlight, QColor(0xE3E3E3)},
        {QPalette::Mid, QColor(0xA0A0A0)},
        {QPalette::Dark, QColor(0x505050)},
        {QPalette::Shadow, Qt::black},
        {QPalette::Highlight, QColor(0x0063B1)},
        {QPalette::HighlightedText, Qt::white},
        {QPalette::ToolTipBase, QColor(0xFFFFDC)},
        {QPalette::ToolTipText, Qt::black},
        {QPalette::Link, QColor(0x0000CC)},
        {QPalette::LinkVisited, QColor(0x551A8B)},
    };
    for (const auto &[role, colour] : colours)
        palette.setColor(role, colour);
    palette.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0x6D6D6D));
    palette.setColor(QPalette::Disabled, QPalette::Text, QColor(0x6D6D6D));
    palette.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(0x6D6D6D));
    return palette;
}

} // namespace

void applyDesignLook(QWidget &form)
{
    // One style everywhere, so that borders are drawn the same way on every
    // desktop: Fusion draws a control's outline from the control's own
    // window colour, made darker. The controls' grey keeps that outline at
    // 3:1 or more against every colour the window takes.
    QStyle *style = QStyleFactory::create(QStringLiteral("Fusion"));
    style->setParent(&form);
    form.setStyle(style);
    form.setPalette(designPalette());
    // The window has a fixed size: nothing to maximise.
    form.setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                        Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                        Qt::WindowCloseButtonHint);
    // A Designer form holds whole point sizes only.
    if (auto *contact = form.findChild<QWidget *>(QStringLiteral("Label4"))) {
        QFont font = contact->font();
        font.setPointSizeF(20.25);
        contact->setFont(font);
    }
    for (QWidget *control : form.findChildren<QWidget *>()) {
        control->setStyle(style);
        QPalette palette = control->palette();
        palette.setColor(QPalette::Window, QColor(0x707070));
        control->setPalette(palette);
    }
}
