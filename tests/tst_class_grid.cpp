// SPDX-License-Identifier: GPL-3.0-or-later
// The teacher's class grid on a laptop's screen and a desktop's, at 1× and
// at 1.5× with a 14 pt font, each screen a window may open on; sorted and
// filtered by need. The class's server is away: the grid is fed by hand.
#include "progress/class_grid.h"
#include "progress/class_tab.h"
#include "progress/mastery_marks.h"
#include "progress/progress_window.h"
#include "progress/score_chart.h"
#include "progress/window_size.h"

#include <QApplication>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace {

// Widgets without a QObject macro of their own: findChild() cannot tell them.
template <typename Widget> Widget *part(const QWidget &window)
{
    for (QWidget *child : window.findChildren<QWidget *>())
        if (auto *found = dynamic_cast<Widget *>(child))
            return found;
    return nullptr;
}

ClassChild child(const QString &machine, Tally total, Tally level50, const QDateTime &last)
{
    return {machine, u"1_joueur"_s, {}, total, last, {{50, level50}}};
}

// The computers of the grid's rows, in order: "1 2 10".
QString machines(const QAbstractItemModel *grid)
{
    QStringList shown;
    for (int row = 0; row < grid->rowCount(); ++row)
        shown << grid->index(row, 0).data().toString().section(u',', 0, 0).sliced(5);
    return shown.join(u' ');
}

ClassView someClass(int count)
{
    ClassView view;
    view.readAt = QDateTime::currentDateTime();
    for (int i = 1; i <= count; ++i)
        view.children << child(u"poste%1"_s.arg(i), {20 + 7 * i, 10 + 5 * i}, {20, 20 - i % 9},
                               view.readAt.addDays(-i % 10));
    return view;
}

} // namespace

class TestClassGrid : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void fitsTheScreen_data()
    {
        QTest::addColumn<int>("screen");
        QTest::addColumn<int>("points"); // 0: the desktop's font
        QTest::addColumn<bool>("whole");
        QTest::addRow("1366×768 at 1×") << 0 << 0 << true;
        QTest::addRow("1366×768 at 1.5×, 14 pt") << 1 << 14 << false;
        QTest::addRow("1920×1080 at 1×") << 2 << 0 << true;
        QTest::addRow("1920×1080 at 1.5×, 14 pt") << 3 << 14 << false;
    }
    void fitsTheScreen()
    {
        QFETCH(int, screen);
        QFETCH(int, points);
        QFETCH(bool, whole);
        QFont font = m_font;
        if (points > 0)
            font.setPointSize(points);
        QApplication::setFont(font);
        QScreen *on = QGuiApplication::screens().at(screen);
        ProgressWindow window;
        window.setScreen(on);
        window.move(on->availableGeometry().topLeft());
        restoreSize(&window);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        part<ClassTab>(window)->display(someClass(30));
        part<QTabWidget>(window)->setCurrentIndex(1);
        QTest::qWait(100);
        QVERIFY(on->availableGeometry().contains(window.frameGeometry()));
        const ClassGrid *grid = part<ClassGrid>(window);
        int shown = 0;
        while (shown < 30 && grid->rowViewportPosition(shown) + grid->rowHeight(shown) <=
                                 grid->viewport()->height())
            ++shown;
        qInfo("window %dx%d, %d rows of 30", window.width(), window.height(), shown);
        QCOMPARE(shown == 30, whole);
        QVERIFY(shown >= 4);
        // No word cut, of any cell or header.
        const int margin = 2 * (grid->style()->pixelMetric(QStyle::PM_FocusFrameHMargin) + 1);
        for (int column = 0; column < grid->model()->columnCount(); ++column) {
            QVERIFY(grid->horizontalHeader()->sectionSizeHint(column) <= grid->columnWidth(column));
            for (int row = 0; row < 30; ++row)
                QVERIFY2(grid->fontMetrics().horizontalAdvance(
                             grid->model()->index(row, column).data().toString()) +
                                 margin <=
                             grid->columnWidth(column),
                         qPrintable(grid->model()->index(row, column).data().toString()));
        }
    }

    // A header sorts by what its column holds, not by its words.
    void sorts_data()
    {
        QTest::addColumn<int>("column");
        QTest::addColumn<QString>("order");
        QTest::addRow("name, numbers as numbers") << 0 << u"1 2 10 11"_s;
        QTest::addRow("answers") << 1 << u"10 1 11 2"_s;
        QTest::addRow("share right") << 2 << u"10 1 2 11"_s;
        QTest::addRow("a level's mark") << 3 << u"11 10 1 2"_s;
        QTest::addRow("last activity") << 8 << u"11 10 1 2"_s;
    }
    void sorts()
    {
        QFETCH(int, column);
        QFETCH(QString, order);
        ClassGrid grid([](const ClassChild &) {});
        grid.setChildren(m_class, m_now);
        grid.show();
        QHeaderView *header = grid.horizontalHeader();
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                          {header->sectionViewportPosition(column) + 4, 4});
        QCOMPARE(machines(grid.model()), order);
    }

    // Filtered by need, the chosen child stays chosen, hidden or not.
    void filters()
    {
        ClassGrid grid([](const ClassChild &) {});
        QCOMPARE(grid.focusPolicy(), Qt::NoFocus); // no Tab stop in an empty grid
        grid.setChildren(m_class, m_now);
        QCOMPARE(grid.focusPolicy(), Qt::StrongFocus);
        grid.setCurrentIndex(grid.model()->index(1, 0));
        QCOMPARE(grid.chosen()->machine, u"poste1"_s);
        QCOMPARE(grid.model()->index(2, 8).data().toString(), u"01/03 12:00, il y a 9 jours"_s);
        QCOMPARE(grid.model()->headerData(3, Qt::Horizontal, Qt::ToolTipRole).toString(),
                 u"moins de 50 : 1 maîtrisé, 1 familier, 1 commencé, 1 pas commencé"_s);
        grid.setFilter(ClassGrid::ToReview);
        QCOMPARE(machines(grid.model()), u"10"_s);
        QVERIFY(!grid.chosen());
        grid.setFilter(ClassGrid::Away);
        QCOMPARE(machines(grid.model()), u"10 11"_s);
        grid.setFilter(ClassGrid::Everyone);
        QCOMPARE(grid.chosen()->machine, u"poste1"_s);
        grid.sortByColumn(1, Qt::DescendingOrder);
        QCOMPARE(grid.chosen()->machine, u"poste1"_s);
        grid.setChildren(QList<ClassChild>(m_class.crbegin(), m_class.crend()), m_now);
        QCOMPARE(grid.chosen()->machine, u"poste1"_s);
        grid.setChildren(m_class.mid(2), m_now);
        QVERIFY(!grid.chosen());
    }

    // What the tab says with nothing to show, and the server away.
    void saysWhatIs()
    {
        remember(u"fenetres/onglet"_s, 0); // this computer's tab, looked at last
        ProgressWindow window;
        auto *tabs = part<QTabWidget>(window);
        QCOMPARE(tabs->currentIndex(), 0);
        QTRY_COMPARE(tabs->currentIndex(), 1); // but no child played on it
        ClassTab *tab = part<ClassTab>(window);
        tab->display(someClass(0));
        const auto says = [&](const QString &text) {
            for (const QLabel *label : tab->findChildren<QLabel *>())
                if (label->text().startsWith(text))
                    return true;
            return false;
        };
        QVERIFY(says(u"Aucune réponse n'est encore arrivée de la classe."_s));
        tab->display(someClass(3));
        // The server's sentence alone, without the chart's "no answer".
        QTRY_VERIFY(says(u"Le serveur de la classe"_s));
        QVERIFY(part<ScoreChart>(*tab)->isHidden());
        QVERIFY(!markText(Mastery::Familiar).contains(u' ')); // never broken from its mark
    }

    // An export says where it went.
    void saysWhereItWrote()
    {
        ProgressWindow window;
        window.show();
        const QTemporaryDir folder;
        const QString file = folder.filePath(u"classe.csv"_s);
        QString said;
        QTimer answer;
        connect(&answer, &QTimer::timeout, [&] {
            QWidget *modal = QApplication::activeModalWidget();
            if (auto *dialog = qobject_cast<QFileDialog *>(modal)) {
                dialog->findChild<QLineEdit *>(u"fileNameEdit"_s)->setText(file);
                static_cast<QDialog *>(dialog)->accept(); // QFileDialog hides it
            } else if (auto *box = qobject_cast<QMessageBox *>(modal)) {
                said = box->text();
                box->accept();
            }
        });
        answer.start(10);
        for (QPushButton *button : window.findChildren<QPushButton *>())
            if (button->text() == u"Exporter…"_s)
                button->click();
        QTRY_COMPARE(said, u"Enregistré dans %1."_s.arg(file));
    }

private:
    QFont m_font = QApplication::font();
    const QDateTime m_now{QDate(2026, 3, 10), QTime(12, 0), Qt::UTC};
    const QList<ClassChild> m_class{
        child(u"poste2"_s, {50, 45}, {20, 20}, m_now.addDays(-1)),
        child(u"poste1"_s, {20, 12}, {20, 15}, m_now.addDays(-1).addSecs(-60)),
        child(u"poste10"_s, {5, 1}, {5, 1}, m_now.addDays(-9)),
        child(u"poste11"_s, {30, 30}, {}, m_now.addDays(-30)),
    };
};

// A laptop's screen and a desktop's, each at 1× and 1.5×, side by side;
// the class's server a folder where none listens.
int main(int argc, char *argv[])
{
    QTemporaryDir dir;
    QFile screens(dir.filePath(u"screens.json"_s));
    QFile services(dir.filePath(u"services.conf"_s));
    if (!screens.open(QIODevice::WriteOnly) || !services.open(QIODevice::WriteOnly))
        return 1;
    screens.write(R"({"screens": [{"name": "a", "x": 0, "y": 0, "width": 1366, "height": 768},
        {"name": "b", "x": 1366, "y": 0, "width": 1366, "height": 768},
        {"name": "c", "x": 2732, "y": 0, "width": 1920, "height": 1080},
        {"name": "d", "x": 4652, "y": 0, "width": 1920, "height": 1080}]})");
    services.write("[additions-enseignant]\nhost=" + QFile::encodeName(dir.path()) +
                   "\nport=1\ndbname=additions\nuser=prof\n");
    screens.close();
    services.close();
    qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + QFile::encodeName(screens.fileName()));
    qputenv("QT_SCREEN_SCALE_FACTORS", "b=1.5;d=1.5");
    qputenv("PGSERVICEFILE", QFile::encodeName(services.fileName()));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.filePath(u"config"_s)));
    qputenv("TZ", "UTC");
    qputenv("XDG_DATA_HOME", QFile::encodeName(dir.filePath(u"data"_s)));
    QApplication app(argc, argv);
    TestClassGrid test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_class_grid.moc"
