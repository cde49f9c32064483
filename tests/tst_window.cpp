// SPDX-License-Identifier: GPL-3.0-or-later
#include "design.h"
#include "fakes.h"
#include "services/file_score_store.h"
#include "services/translations.h"
#include "window/accessibility.h"
#include "window/colours.h"
#include "window/design_look.h"
#include "window/fonts.h"
#include "window/window_binding.h"

#include <QAccessible>
#include <QDialogButtonBox>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>

using namespace Qt::StringLiterals;

namespace {

QString shownText(const QWidget *widget)
{
    if (auto edit = qobject_cast<const QLineEdit *>(widget))
        return edit->text();
    if (auto button = qobject_cast<const QPushButton *>(widget))
        return button->text();
    if (auto label = qobject_cast<const QLabel *>(widget))
        return label->text();
    return {};
}

} // namespace

// The real window, on the offscreen platform, with fakes behind it.
class TestWindow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        installFontSubstitutes();
        QVERIFY(m_config.isValid());
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config.path()));
    }

    void init()
    {
        m_services = std::make_unique<FakeServices>();
        m_window = std::make_unique<WindowBinding>(m_services->bundle());
        form().show();
        QVERIFY(QTest::qWaitForWindowExposed(&form()));
        QApplication::setActiveWindow(&form());
        QVERIFY(QTest::qWaitForWindowActive(&form()));
    }

    void cleanup() { m_window.reset(); }

    void designState()
    {
        QCOMPARE(form().windowTitle(), u"Form1"_s);
        QCOMPARE(form().size(), QSize(710, 514));
        QCOMPARE(form().minimumSize(), form().maximumSize());
        QList<QWidget *> tabOrder;
        for (const ControlDesign &control : kDesign) {
            auto widget = form().findChild<QWidget *>(QLatin1StringView(control.name));
            QVERIFY2(widget, control.name);
            QCOMPARE(widget->geometry(), control.pixels());
            QVERIFY2(widget->isVisible() == control.visible, control.name);
            if (control.text)
                QCOMPARE(shownText(widget), control.designText());
            if (widget->focusPolicy() & Qt::TabFocus)
                tabOrder << widget;
        }
        QCOMPARE(form().findChildren<QWidget *>(Qt::FindDirectChildrenOnly).size(), 23);

        // Tab walks the controls in their design order, starting at the banner.
        QCOMPARE(QApplication::focusWidget(), tabOrder.first());
        for (qsizetype i = 1; i < tabOrder.size(); ++i) {
            if (!tabOrder[i]->isVisible())
                continue;
            QWidget *before = QApplication::focusWidget();
            QTest::keyClick(before, Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget()->objectName(), tabOrder[i]->objectName());
        }
    }

    void bannerAndInformationText()
    {
        auto banner = form().findChild<QLineEdit *>(u"Text1"_s);
        QCOMPARE(banner->palette().color(QPalette::Base), QColor(Qt::blue));
        QCOMPARE(banner->palette().color(QPalette::Text), toQColor(kWhite));
        QVERIFY(banner->font().bold());
        QCOMPARE(banner->font().pointSize(), 18);
        for (const char *name : {"Text2", "Text4", "Text7", "Command2", "Label1"})
            QCOMPARE(form().findChild<QWidget *>(QLatin1StringView(name))->font().pointSize(), 30);
        QCOMPARE(form().findChild<QLabel *>(u"Label4"_s)->font().pointSizeF(), 20.25);

        auto information = form().findChild<QPlainTextEdit *>(u"Text8"_s);
        QCOMPARE(information->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
        QCOMPARE(information->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
        const QStringList lines = information->toPlainText().split(u'\n');
        QCOMPARE(lines.size(), 6); // five lines, each ended
        QCOMPARE(lines[0],
                 u"Il est  gratuit   pour   que  tout le monde   puisse  en   profiter"_s);
        QCOMPARE(
            lines[1],
            u"Si  maintenant ,vous pensez  qu'il est preferable de  faire  un   don ,voici "_s);
        QCOMPARE(lines[2], u"mon  adresse :"_s);
        QVERIFY(!lines[3].isEmpty());
        QCOMPARE(lines[4],
                 u"Cela me  motivera plus  pour en faire  et vous  en  envoyer  d'autres"_s);
        QVERIFY(lines[5].isEmpty());
    }

    // Nothing is read or written before the first click, and the window is white.
    void startsWhiteWithoutTouchingTheStore()
    {
        QCOMPARE(form().palette().color(QPalette::Window), toQColor(kWhite));
        QCOMPARE(form().findChild<QLineEdit *>(u"Text7"_s)->palette().color(QPalette::Base),
                 toQColor(kWhite));
        QCOMPARE(m_services->store.saves, 0);
        QCOMPARE(m_services->store.reads, 0);
        QCOMPARE(m_services->random.reseeds, 0);
    }

    void typingBeforeAnyClickChangesTheBanner()
    {
        auto banner = form().findChild<QLineEdit *>(u"Text1"_s);
        banner->selectAll();
        QTest::keyClicks(QApplication::focusWidget(), u"Lea"_s);
        QCOMPARE(m_window->text(Field::Text1), u"Lea"_s);
    }

    void levelClickPosesAProblem()
    {
        m_services->random.draws = {0.5f, 0.25f};
        m_services->store.values.insert(u"BIENVENUE"_s, u"9"_s);
        QTest::mouseClick(button("Command1"), Qt::LeftButton);

        QCOMPARE(m_window->text(Field::Text2), u"101"_s);
        QCOMPARE(m_window->text(Field::Text3), u"51"_s);
        QCOMPARE(m_window->text(Field::Text6), u"9"_s);
        QCOMPARE(m_window->text(Field::Text7), u"2"_s);
        QCOMPARE(QApplication::focusWidget()->objectName(), u"Text4"_s);
        auto stake = form().findChild<QLineEdit *>(u"Text7"_s);
        QCOMPARE(stake->palette().color(QPalette::Base), toQColor(STAKE_GREEN));
        QCOMPARE(m_window->background(Painted::Text7), STAKE_GREEN);
        for (const char *level : {"Command9", "Command1", "Command10", "Command7", "Command15"})
            QVERIFY2(!button(level)->isVisible(), level);
        QVERIFY(button("Command2")->isVisible());

        // The answer goes where the child types. Enter, the keypad's too,
        // answers nothing: only OK does, reached with the Tab key.
        QTest::keyClicks(QApplication::focusWidget(), u"152"_s);
        const QString before = snapshot(form());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Enter, Qt::KeypadModifier);
        QCOMPARE(snapshot(form()), before);
        QCOMPARE(m_services->store.saves, 0);
        for (int tab = 0; tab < 3; ++tab)
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
        QCOMPARE(m_window->text(Field::Text5), u"152"_s);
        QVERIFY(!button("Command2")->isVisible());
        QCOMPARE(announced(), u"Juste ! 101 + 51 = 152. Score : 11."_s);
        QTest::keyClick(button("Command1"), Qt::Key_Space);
        QTest::keyClicks(QApplication::focusWidget(), u"1"_s);
        QTest::mouseClick(button("Command2"), Qt::LeftButton);
        QCOMPARE(m_services->beeper.beeps, 1 + 3);
        QCOMPARE(announced(), u"Faux : 1 + 1 = 2. Score : 9."_s);
        QCOMPARE(m_services->store.values.value(u"BIENVENUE"_s), u"9"_s);
    }

    void backgroundReadsBackTheValueWritten()
    {
        for (BgrColour colour :
             {BgrColour(0x80FF80), BgrColour(0x010203), BgrColour(0xFEFEFE), kWhite}) {
            m_window->setBackground(Painted::Text7, colour);
            QCOMPARE(m_window->background(Painted::Text7), colour);
        }
        m_window->setBackground(Painted::Form1, kBands[8].colour);
        QCOMPARE(form().palette().color(QPalette::Window), toQColor(kBands[8].colour));
        // The banner keeps its own colours.
        QCOMPARE(form().findChild<QLineEdit *>(u"Text1"_s)->palette().color(QPalette::Base),
                 QColor(Qt::blue));
    }

    // A whole game with the real store: the score outlives the window.
    void wholeGameIsKeptAcrossARestart()
    {
        FileScoreStore store;
        QuizServices services{m_services->random, m_services->beeper, store, m_services->messenger,
                              m_services->history};
        auto game = std::make_unique<WindowBinding>(services);
        game->form().show();
        QVERIFY(QTest::qWaitForWindowExposed(&game->form()));
        game->form().activateWindow();

        m_services->random.draws = {0.2f, 0.72f};
        QTest::mouseClick(button(game->form(), "Command9"), Qt::LeftButton);
        QCOMPARE(game->text(Field::Text2), u"11"_s);
        QCOMPARE(game->text(Field::Text3), u"37"_s);
        QCOMPARE(game->text(Field::Text6), u"nothing"_s);
        QTest::keyClicks(QApplication::focusWidget(), u"48"_s);
        QTest::mouseClick(button(game->form(), "Command2"), Qt::LeftButton);
        QCOMPARE(game->text(Field::Text5), u"48"_s);
        QCOMPARE(game->text(Field::Text6), u"1"_s);
        QCOMPARE(m_services->beeper.beeps, 1);
        QCOMPARE(game->form().palette().color(QPalette::Window), toQColor(kBands[0].colour));
        QVERIFY(button(game->form(), "Command9")->isVisible());
        QVERIFY(!button(game->form(), "Command2")->isVisible());
        game.reset();

        QCOMPARE(FileScoreStore().read(u"BIENVENUE"_s).score, u"1"_s);
        game = std::make_unique<WindowBinding>(services);
        game->form().show();
        QTest::mouseClick(button(game->form(), "Command15"), Qt::LeftButton);
        QCOMPARE(game->text(Field::Text6), u"1"_s);
        // A new run starts white whatever the score.
        QCOMPARE(game->form().palette().color(QPalette::Window), toQColor(kWhite));
    }

    // OK with an empty answer: the child is told, nothing else moves.
    void emptyAnswerIsRefusedInTheWindow()
    {
        QTest::mouseClick(button("Command10"), Qt::LeftButton);
        const QString before = snapshot(form());
        QTest::mouseClick(button("Command2"), Qt::LeftButton);
        QCOMPARE(snapshot(form()), before);
        QCOMPARE(m_services->messenger.messages.size(), 1);
        QCOMPARE(m_services->store.saves, 0);
        QCOMPARE(QApplication::focusWidget()->objectName(), u"Text4"_s);
    }

    // The five buttons of the players, the reset and the information panel,
    // clicked as a child would.
    void playerResetAndInformationButtons()
    {
        m_services->store.values.insert(u"3_joueur"_s, u"14"_s);
        m_window->setText(Field::Text6, u"14"_s);
        for (const auto &[name, key] :
             {std::pair{"Command4", u"1_joueur"_s}, std::pair{"Command5", u"2_joueur"_s},
              std::pair{"Command6", u"3_joueur"_s}}) {
            QTest::mouseClick(button(name), Qt::LeftButton);
            QCOMPARE(m_window->text(Field::Text1), key);
            QCOMPARE(m_window->text(Field::Text6), u"14"_s);
        }
        QTest::mouseClick(button("Command3"), Qt::LeftButton);
        QCOMPARE(m_window->text(Field::Text6), u"0"_s);
        QCOMPARE(m_services->store.values.value(u"3_joueur"_s), u"0"_s);

        auto information = form().findChild<QWidget *>(u"Text8"_s);
        QTest::mouseClick(button("Command18"), Qt::LeftButton);
        QCOMPARE(button("Command18")->text(), u"FERMER"_s);
        QVERIFY(information->isVisible());
        // Tab and Shift+Tab leave the information text.
        information->setFocus();
        QTest::keyClick(information, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), button("Command18"));
        information->setFocus();
        QTest::keyClick(information, Qt::Key_Backtab, Qt::ShiftModifier);
        QCOMPARE(QApplication::focusWidget()->objectName(), u"Text7"_s);
        QTest::mouseClick(button("Command18"), Qt::LeftButton);
        QCOMPARE(button("Command18")->text(), u"POURQUOI   ?"_s);
        QVERIFY(!information->isVisible());
    }

    // Every control speaks French to a screen reader.
    void accessibleNames()
    {
        for (const ControlDesign &control : kDesign) {
            auto widget = form().findChild<QWidget *>(QLatin1StringView(control.name));
            QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(widget);
            QVERIFY2(accessible && !accessible->text(QAccessible::Name).trimmed().isEmpty(),
                     control.name);
        }
        QCOMPARE(accessibleText("Text2", QAccessible::Description), u"premier nombre"_s);
        QCOMPARE(accessibleText("Text4", QAccessible::Description), u"ta réponse"_s);
        QCOMPARE(accessibleText("Text7", QAccessible::Description), u"points en jeu"_s);
        QCOMPARE(accessibleText("Label3", QAccessible::Name), u"nombre de parties réussies"_s);
        for (const char *described : {"Command4", "Command5", "Command6", "Command3"})
            QVERIFY2(!accessibleText(described, QAccessible::Description).isEmpty(), described);
        // The window is a window to a screen reader, named after the game
        // while its caption stays the design's.
        QAccessibleInterface *window = QAccessible::queryAccessibleInterface(&form());
        QCOMPARE(window->role(), QAccessible::Window);
        QCOMPARE(window->text(QAccessible::Name), u"Additions"_s);
        QCOMPARE(form().windowTitle(), u"Form1"_s);
    }

    // The dock's view: the game's icon, and no maximise on a fixed window.
    void windowIdentity()
    {
        for (int size : {16, 24, 32, 48, 64})
            QCOMPARE(QPixmap(u":/icons/%1.png"_s.arg(size)).size(), QSize(size, size));
        QVERIFY(form().windowFlags() & Qt::WindowMinimizeButtonHint);
        QVERIFY(!(form().windowFlags() & Qt::WindowMaximizeButtonHint));
    }

    // The design's colours whatever the desktop's theme: every text at 4.5:1
    // or more, every border at 3:1, on white and on every score colour.
    void designColoursUnderADarkTheme()
    {
        const QPalette desktop = QApplication::palette();
        QPalette dark(QColor(0x353535), QColor(0x2A2A2A));
        dark.setColor(QPalette::WindowText, Qt::white);
        dark.setColor(QPalette::Text, Qt::white);
        dark.setColor(QPalette::ButtonText, Qt::white);
        QApplication::setPalette(dark);
        const auto restore = qScopeGuard([&] { QApplication::setPalette(desktop); });
        WindowBinding window(m_services->bundle());
        window.form().show();
        QVERIFY(QTest::qWaitForWindowExposed(&window.form()));
        QList<BgrColour> colours{kWhite};
        for (const Band &band : kBands)
            colours << band.colour;
        for (const BgrColour colour : colours) {
            window.setBackground(Painted::Form1, colour);
            const QImage shot = window.form().grab().toImage();
            for (QWidget *control :
                 window.form().findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
                const QString where =
                    control->objectName() + u" on "_s + QString::number(colour, 16);
                const auto [text, behind] = readableColours(*control, toQColor(colour));
                QVERIFY2(contrast(text, behind) >= 4.5, qPrintable(where));
                if (qobject_cast<QLabel *>(control) || !control->isVisible())
                    continue;
                // The frame's darkest pixel where the control's left edge meets
                // the window.
                const QRect box = control->geometry();
                QColor border = Qt::white;
                for (int x = box.left(); x < box.left() + 3; ++x)
                    if (const QColor pixel = shot.pixelColor(x, box.center().y());
                        pixel.lightnessF() < border.lightnessF())
                        border = pixel;
                QVERIFY2(contrast(border, toQColor(colour)) >= 3.0, qPrintable(where));
            }
        }
    }

    void longTextsShowFromTheirStart()
    {
        // No score yet, and the lowest score.
        for (const QString &text : {u"nothing"_s, u"-10000"_s}) {
            m_window->setText(Field::Text6, text);
            QCOMPARE(form().findChild<QLineEdit *>(u"Text6"_s)->cursorPosition(), 0);
        }
    }

    // The numbers the game writes fit their boxes in the design's faces.
    void fiveDigitNumbersShowWhole()
    {
        for (const char *name : {"Text2", "Text5", "Text6"}) {
            auto box = form().findChild<QLineEdit *>(QLatin1StringView(name));
            QCOMPARE(QFontInfo(box->font()).family(), u"Liberation Sans"_s);
            // The box's frame and text margins take a few pixels on each side.
            const int room =
                box->width() - 2 * box->style()->pixelMetric(QStyle::PM_DefaultFrameWidth) - 4;
            for (const QString &number : {u"20000"_s, u"10000"_s})
                QVERIFY2(box->fontMetrics().horizontalAdvance(number) <= room,
                         qPrintable(number + u" in "_s + QLatin1StringView(name)));
        }
    }

    void qtSpeaksFrench()
    {
        QVERIFY(installFrenchTranslations());
        QDialogButtonBox buttons(QDialogButtonBox::Cancel | QDialogButtonBox::Yes);
        QCOMPARE(buttons.button(QDialogButtonBox::Cancel)->text().remove(u'&'), u"Annuler"_s);
        QCOMPARE(buttons.button(QDialogButtonBox::Yes)->text().remove(u'&'), u"Oui"_s);
    }

    // A whole problem with the keyboard alone: Tab to a button, Space presses it.
    void keyboardOnlyPlay()
    {
        m_services->random.draws = {0.5f, 0.5f};
        QWidget *focus = QApplication::focusWidget();
        QCOMPARE(focus->objectName(), u"Text1"_s);
        QStringList reached;
        for (int i = 0; i < 30 && QApplication::focusWidget()->objectName() != u"Command9"; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            reached << QApplication::focusWidget()->objectName();
        }
        for (const char *name : {"Command6", "Command5", "Command4", "Command1", "Command9"})
            QVERIFY2(reached.contains(QLatin1StringView(name)), name);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
        QCOMPARE(QApplication::focusWidget()->objectName(), u"Text4"_s);
        QTest::keyClicks(QApplication::focusWidget(), u"52"_s);
        for (int i = 0; i < 10 && QApplication::focusWidget()->objectName() != u"Command2"; ++i)
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
        QCOMPARE(m_window->text(Field::Text5), u"52"_s);
        QCOMPARE(m_services->beeper.beeps, 1);
        // Every other button is reachable too.
        reached.clear();
        for (int i = 0; i < 30; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            reached << QApplication::focusWidget()->objectName();
        }
        for (const char *name : {"Command10", "Command3", "Command7", "Command15", "Command18"})
            QVERIFY2(reached.contains(QLatin1StringView(name)), name);
    }

private:
    QWidget &form() const { return m_window->form(); }
    QString accessibleText(const char *name, QAccessible::Text text) const
    {
        return QAccessible::queryAccessibleInterface(
                   form().findChild<QWidget *>(QLatin1StringView(name)))
            ->text(text);
    }
    // What the screen reader was last told, as it reads it.
    QString announced() const
    {
        return QAccessible::queryAccessibleInterface(form().findChild<Announcer *>())
            ->text(QAccessible::Name);
    }
    // WCAG's contrast ratio of two colours.
    static double contrast(const QColor &a, const QColor &b)
    {
        const auto luminance = [](const QColor &c) {
            const auto channel = [](double v) {
                return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
            };
            return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) +
                   0.0722 * channel(c.blueF());
        };
        const double la = luminance(a), lb = luminance(b);
        return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
    }
    // A control's text colour and what it stands on, from its palette.
    static std::pair<QColor, QColor> readableColours(const QWidget &control, const QColor &window)
    {
        const QPalette &palette = control.palette();
        if (qobject_cast<const QPushButton *>(&control))
            return {palette.color(QPalette::ButtonText), palette.color(QPalette::Button)};
        if (qobject_cast<const QLabel *>(&control))
            return {palette.color(QPalette::WindowText), window};
        return {palette.color(QPalette::Text), palette.color(QPalette::Base)};
    }
    static QPushButton *button(const QWidget &window, const char *name)
    {
        return window.findChild<QPushButton *>(QLatin1StringView(name));
    }
    QPushButton *button(const char *name) const { return button(form(), name); }

    // Every property the game can read or write, as the window shows it.
    static QString snapshot(const QWidget &window)
    {
        QStringList parts;
        for (QWidget *child : window.findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
            parts << child->objectName() + u'=' + shownText(child) +
                         (child->isVisible() ? u"+"_s : u"-"_s) +
                         child->palette().color(QPalette::Base).name();
        parts << window.palette().color(QPalette::Window).name();
        return parts.join(u'|');
    }

    std::unique_ptr<FakeServices> m_services;
    std::unique_ptr<WindowBinding> m_window;
    QTemporaryDir m_config;
};

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
