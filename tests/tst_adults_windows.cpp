// SPDX-License-Identifier: GPL-3.0-or-later
// The adults' windows' pieces, on a real (offscreen) display: what they
// say, and that Enter never destroys.
#include "progress/answer_tables.h"
#include "progress/mastery_marks.h"
#include "progress/notice_line.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

using namespace Qt::StringLiterals;

class TestAdultsWindows : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void shares_data()
    {
        QTest::addColumn<int>("right");
        QTest::addColumn<int>("answers");
        QTest::addColumn<QString>("shown");
        QTest::addRow("none") << 0 << 0 << QString();
        QTest::addRow("2 of 3, rounded") << 2 << 3 << u"67 %"_s;
        QTest::addRow("1 of 3") << 1 << 3 << u"33 %"_s;
        QTest::addRow("all wrong") << 0 << 5 << u"0 %"_s;
        QTest::addRow("one wrong in 1000 is not all") << 999 << 1000 << u"99 %"_s;
        QTest::addRow("one right in 1000 is not none") << 1 << 1000 << u"1 %"_s;
        QTest::addRow("all right") << 7 << 7 << u"100 %"_s;
    }
    void shares()
    {
        QFETCH(int, right);
        QFETCH(int, answers);
        QFETCH(QString, shown);
        QCOMPARE(shareText({answers, right}), shown);
    }

    // What a screen reader reads of a grid's cell.
    void marks_data()
    {
        QTest::addColumn<int>("bound");
        QTest::addColumn<int>("right");
        QTest::addColumn<int>("answers");
        QTest::addColumn<QString>("read");
        QTest::addRow("never played") << 50 << 0 << 0 << u"moins de 50 : pas commencé"_s;
        QTest::addRow("familiar") << 200 << 14 << 20
                                  << u"moins de 200 : familier, 14 réponses justes sur les 20 "
                                     "dernières"_s;
        QTest::addRow("too few to master")
            << 10000 << 5 << 5 << u"moins de 10 000 : familier, 5 réponse(s) juste(s) sur 5"_s;
    }
    void marks()
    {
        QFETCH(int, bound);
        QFETCH(int, right);
        QFETCH(int, answers);
        QFETCH(QString, read);
        QCOMPARE(markDescription(bound, {answers, right}), read);
    }

    // Enter on an erasure's question keeps everything; "Oui" must be chosen.
    void enterKeepsEverything()
    {
        QWidget window;
        window.show();
        for (const bool chooseYes : {false, true}) {
            QTimer::singleShot(0, [chooseYes] {
                auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
                QVERIFY(box);
                if (chooseYes)
                    box->button(QMessageBox::Yes)->click();
                else
                    QTest::keyClick(box, Qt::Key_Return);
            });
            QCOMPARE(confirmErasure(&window, u"Effacer ?"_s), chooseYes);
        }
    }

    // Libpq's own words wait behind "Détails…".
    void detailsOnRequest()
    {
        NoticeLine line;
        line.say({u"Le serveur de la classe n'a pas pu être joint."_s, u"timeout expired"_s});
        const auto details = line.findChild<QPushButton *>();
        QVERIFY(!line.isHidden() && !details->isHidden());
        QVERIFY(!line.text().contains(u"timeout"_s));
        line.say({u"Les réponses restent sur cet ordinateur."_s, {}});
        QVERIFY(details->isHidden());
        line.say({});
        QVERIFY(line.isHidden());
    }
};

QTEST_MAIN(TestAdultsWindows)
#include "tst_adults_windows.moc"
