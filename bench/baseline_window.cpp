// SPDX-License-Identifier: GPL-3.0-or-later
// The toolkit's floor for the game's window: the same form, fonts and 23
// widgets, and nothing else: no handlers, no services, no store.
#include "ui_form1.h"
#include "window/fonts.h"

#include <QApplication>
#include <QWidget>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    installFontSubstitutes();
    QWidget window;
    Ui::Form1 form;
    form.setupUi(&window);
    window.show();
    return QApplication::exec();
}
