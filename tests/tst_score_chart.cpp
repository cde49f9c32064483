// SPDX-License-Identifier: GPL-3.0-or-later
#include "progress/chart_axes.h"
#include "progress/score_chart.h"

#include <QApplication>
#include <QImage>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

// Local times, as a parent reads them, kept in UTC as the history does.
ScorePoint at(const QString &local, double score)
{
    return {QDateTime::fromString(local, u"yyyy-MM-dd HH:mm"_s).toUTC(), score};
}

} // namespace

class TestScoreChart : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void roundSteps_data()
    {
        QTest::addColumn<double>("lowest");
        QTest::addColumn<double>("highest");
        QTest::addColumn<int>("maxSteps");
        QTest::addColumn<QList<double>>("expected"); // low, high, step
        QTest::addRow("0 to 7") << 0.0 << 7.0 << 5 << QList<double>{0, 8, 2};
        QTest::addRow("-3 to 12") << -3.0 << 12.0 << 5 << QList<double>{-5, 15, 5};
        QTest::addRow("-3 to 12, two steps") << -3.0 << 12.0 << 2 << QList<double>{-20, 20, 20};
        QTest::addRow("0 to 1000") << 0.0 << 1000.0 << 5 << QList<double>{0, 1000, 200};
        QTest::addRow("0 to 1") << 0.0 << 1.0 << 5 << QList<double>{0, 1, 1};
        QTest::addRow("only 12") << 12.0 << 12.0 << 5 << QList<double>{11, 13, 1};
        QTest::addRow("only 0") << 0.0 << 0.0 << 4 << QList<double>{-1, 1, 1};
        QTest::addRow("37 to 41, one step") << 37.0 << 41.0 << 1 << QList<double>{0, 50, 50};
    }
    void roundSteps()
    {
        QFETCH(double, lowest);
        QFETCH(double, highest);
        QFETCH(int, maxSteps);
        QFETCH(QList<double>, expected);
        const ScoreScale scale = scoreScale(lowest, highest, maxSteps);
        QCOMPARE((QList<double>{scale.low, scale.high, scale.step}), expected);
    }

    void datesFit_data()
    {
        QTest::addColumn<QStringList>("labels");
        QTest::addColumn<double>("width");
        QTest::addColumn<double>("labelWidth");
        QTest::addColumn<QList<qsizetype>>("expected");
        QTest::addRow("room for all")
            << QStringList{u"a"_s, u"b"_s, u"c"_s} << 200.0 << 50.0 << QList<qsizetype>{0, 1, 2};
        QTest::addRow("a label per day")
            << QStringList{u"09/12"_s, u"09/12"_s, u"10/12"_s, u"10/12"_s} << 300.0 << 40.0
            << QList<qsizetype>{0, 2};
        QStringList crowded;
        for (int i = 0; i < 11; ++i)
            crowded << QString::number(i);
        QTest::addRow("crowded") << crowded << 100.0 << 25.0 << QList<qsizetype>{0, 3, 6, 9};
        QTest::addRow("one") << QStringList{u"a"_s} << 100.0 << 500.0 << QList<qsizetype>{0};
    }
    void datesFit()
    {
        QFETCH(QStringList, labels);
        QFETCH(double, width);
        QFETCH(double, labelWidth);
        QFETCH(QList<qsizetype>, expected);
        QCOMPARE(dateTicks(labels, width, labelWidth), expected);
    }

    void summaryByDay_data()
    {
        QTest::addColumn<QList<ScorePoint>>("points");
        QTest::addColumn<QList<double>>("expected");
        QTest::addColumn<QString>("format");
        const QList<ScorePoint> day{at(u"2026-12-09 14:32"_s, 1), at(u"2026-12-09 14:33"_s, 2)};
        QTest::addRow("few") << day << QList<double>{1, 2} << u"HH:mm"_s;
        QTest::addRow("many, one day") << day + day << QList<double>{1, 2, 1, 2} << u"HH:mm"_s;
        QTest::addRow("many, by day")
            << day + QList<ScorePoint>{at(u"2026-12-09 23:59"_s, 3), at(u"2026-12-10 00:01"_s, -4)}
            << QList<double>{3, -4} << u"dd/MM"_s;
        QTest::addRow("many, by month")
            << day + QList<ScorePoint>{at(u"2027-03-01 10:00"_s, 5), at(u"2027-07-01 10:00"_s, 6)}
            << QList<double>{2, 5, 6} << u"MM/yyyy"_s;
    }
    void summaryByDay()
    {
        QFETCH(QList<ScorePoint>, points);
        QFETCH(QList<double>, expected);
        QFETCH(QString, format);
        QList<double> scores;
        for (const ScorePoint &point : pointsShown(points, 3))
            scores << point.score;
        QCOMPARE(scores, expected);
        QCOMPARE(dateFormat(points), format);
    }

    void keyboardReadsAnswers_data()
    {
        QTest::addColumn<QList<int>>("keys");
        QTest::addColumn<QString>("description");
        QTest::addRow("end") << QList<int>{Qt::Key_End} << u"10/12/2026 08:05 : score -3"_s;
        QTest::addRow("back from nowhere")
            << QList<int>{Qt::Key_Left} << u"10/12/2026 08:05 : score -3"_s;
        QTest::addRow("home, right")
            << QList<int>{Qt::Key_Home, Qt::Key_Right} << u"09/12/2026 14:33 : score 1 200"_s;
        QTest::addRow("past the start")
            << QList<int>{Qt::Key_Home, Qt::Key_Left} << u"09/12/2026 14:32 : score 12"_s;
    }
    void keyboardReadsAnswers()
    {
        QFETCH(QList<int>, keys);
        QFETCH(QString, description);
        ScoreChart chart;
        chart.setScores({at(u"2026-12-09 14:32"_s, 12), at(u"2026-12-09 14:33"_s, 1200),
                         at(u"2026-12-10 08:05"_s, -3)});
        for (const int key : keys)
            QTest::keyClick(&chart, Qt::Key(key));
        QCOMPARE(
            chart.accessibleDescription().replace(QChar(0x202F), u' ').replace(QChar(0xA0), u' '),
            description);
        chart.setScores({});
        QCOMPARE(chart.accessibleDescription(),
                 u"Aucune réponse pour ce joueur sur cette période."_s);
    }

    // Folded by day, the chart still says how many answers it stands for.
    void foldedAnswersAreCounted()
    {
        ChartAnswers chart{{}, 1000};
        for (const QString &day : {u"2026-12-08 10:00"_s, u"2026-12-09 10:00"_s})
            chart.rows << HistoryRow{at(day, 0).when, {}, {}};
        ScoreChart widget;
        widget.setAnswers(chart);
        QVERIFY2(widget.accessibleDescription().contains(u"en 1000 réponses"_s) &&
                     widget.accessibleDescription().contains(u"un point par jour"_s),
                 qPrintable(widget.accessibleDescription()));
    }

    // Nothing reaches the edge, where it would be cut, at a large font.
    void largeFontFits_data()
    {
        QTest::addColumn<qreal>("ratio");
        QTest::addRow("1") << 1.0;
        QTest::addRow("1.5") << 1.5;
    }
    void largeFontFits()
    {
        QFETCH(qreal, ratio);
        ScoreChart chart;
        QFont font = chart.font();
        font.setPointSize(16);
        chart.setFont(font);
        chart.resize(chart.minimumSize());
        QList<ScorePoint> points;
        for (int day = 0; day < 60; ++day)
            points << at(QDate(2026, 1, 1).addDays(day).toString(u"yyyy-MM-dd 10:00"),
                         day * 20000.0 - 300000);
        chart.setScores(points);
        QImage image(chart.size() * ratio, QImage::Format_ARGB32);
        image.setDevicePixelRatio(ratio);
        chart.render(&image);
        // Three pixels all round stay clear: a cut label would reach into them.
        const QRgb background = chart.palette().color(QPalette::Window).rgb();
        const int band = int(3 * ratio);
        const QRect inside = image.rect().adjusted(band, band, -band, -band);
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if (!inside.contains(x, y))
                    QCOMPARE(image.pixel(x, y), background);
        if (qEnvironmentVariableIsSet("SCORE_CHART_PNG"))
            image.save(qEnvironmentVariable("SCORE_CHART_PNG") + QString::number(ratio) +
                       u".png"_s);
    }
};

QTEST_MAIN(TestScoreChart)
#include "tst_score_chart.moc"
