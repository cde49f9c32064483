// SPDX-License-Identifier: GPL-3.0-or-later
#include "progress/report_pdf.h"

#include "history/mastery.h"
#include "progress/mastery_marks.h"
#include "progress/tables.h"
#include "quiz/tables.h"

#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QFontMetricsF>
#include <QLocale>
#include <QPageLayout>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>

#include <algorithm>
#include <functional>

namespace {

// Dots per inch of the page's coordinates: fine enough for hairlines, and
// the PDF's size does not depend on it.
constexpr int kResolution = 300;
constexpr double kMarginMm = 15;
constexpr double kTablePoints = 9.5;

struct Cell
{
    QString text;
    qsizetype mark = -1; // a Mastery mark before the text (a circle filled that far), or none
};
using Row = QList<Cell>;

struct Column
{
    QString header;
    double share; // of the page's width
    Qt::Alignment align = Qt::AlignLeft;
};

// A report's pages, drawn from top to bottom: what is drawn takes the room
// under what came before.
class Report
{
public:
    explicit Report(QPdfWriter &writer)
        : m_writer(writer), m_page(writer.pageLayout().paintRectPixels(writer.resolution()).size())
    {
        m_painter.begin(&writer);
    }

    bool begun() const { return m_painter.isActive(); }
    QPainter &painter() { return m_painter; }
    double mm(double millimetres) const { return millimetres * m_writer.resolution() / 25.4; }
    double width() const { return m_page.width(); }
    double room() const { return m_page.height() - m_y; }
    void gap(double millimetres) { m_y += mm(millimetres); }

    void setFont(double points, bool bold = false)
    {
        QFont font(QStringLiteral("Liberation Sans"));
        font.setStyleHint(QFont::SansSerif);
        font.setPointSizeF(points);
        font.setBold(bold);
        m_painter.setFont(font);
    }
    QFontMetricsF metrics() const { return QFontMetricsF(m_painter.font(), &m_writer); }

    // A block of the page's width, `height` high, under what came before.
    QRectF take(double height)
    {
        const QRectF block(0, m_y, width(), height);
        m_y += height;
        return block;
    }

    void text(const QString &line, double points, bool bold = false)
    {
        setFont(points, bold);
        const QRectF block = take(metrics().height() * 1.3);
        m_painter.setPen(Qt::black);
        m_painter.drawText(block, Qt::AlignLeft | Qt::AlignVCenter,
                           metrics().elidedText(line, Qt::ElideRight, block.width()));
    }

    void newPage()
    {
        m_writer.newPage();
        m_y = 0;
    }

    void mark(const QRectF &circle, qsizetype filled);
    qsizetype table(const QList<Column> &columns, const QList<Row> &rows, bool overPages);

private:
    double rowHeight() { return metrics().height() * 1.7; }
    void row(const QList<Column> &columns, const Row &cells, bool header);

    QPdfWriter &m_writer;
    QSizeF m_page;
    QPainter m_painter;
    double m_y = 0;
};

// An outline, then a quarter, a half or the whole of it black: told apart in
// black and white, and by a reader who cannot see colours.
void Report::mark(const QRectF &circle, qsizetype filled)
{
    m_painter.save();
    m_painter.setRenderHint(QPainter::Antialiasing);
    m_painter.setPen(QPen(Qt::black, mm(0.3)));
    m_painter.setBrush(filled >= 3 ? QBrush(Qt::black) : QBrush(Qt::NoBrush));
    m_painter.drawEllipse(circle);
    if (filled == 1 || filled == 2) {
        m_painter.setBrush(Qt::black);
        m_painter.drawPie(circle, 90 * 16, -int(filled) * 90 * 16);
    }
    m_painter.restore();
}

void Report::row(const QList<Column> &columns, const Row &cells, bool header)
{
    setFont(kTablePoints, header);
    const double padding = mm(1.5), size = mm(3);
    const QRectF line = take(rowHeight());
    double x = line.left();
    for (qsizetype c = 0; c < columns.size(); ++c) {
        QRectF cell(x, line.top(), width() * columns[c].share, line.height());
        x = cell.right();
        cell.adjust(padding, 0, -padding, 0);
        const Cell shown = header ? Cell{columns[c].header} : cells.value(c);
        if (shown.mark >= 0) {
            mark(QRectF(cell.left(), cell.center().y() - size / 2, size, size), shown.mark);
            cell.setLeft(cell.left() + size + padding);
        }
        m_painter.setPen(Qt::black);
        m_painter.drawText(cell, static_cast<int>((columns[c].align | Qt::AlignVCenter).toInt()),
                           metrics().elidedText(shown.text, Qt::ElideRight, cell.width()));
    }
    // The header stands apart from the rows by a heavier rule.
    m_painter.setPen(QPen(Qt::black, mm(header ? 0.4 : 0.1)));
    m_painter.drawLine(line.bottomLeft(), line.bottomRight());
}

// Draws rows under a header while they fit; over pages, each page's rows under
// the header again. Returns how many rows were drawn.
qsizetype Report::table(const QList<Column> &columns, const QList<Row> &rows, bool overPages)
{
    setFont(kTablePoints, true);
    const double height = rowHeight();
    if (room() < 2 * height && overPages && !rows.isEmpty())
        newPage();
    if (room() < 2 * height)
        return 0;
    row(columns, {}, true);
    qsizetype drawn = 0;
    for (const Row &cells : rows) {
        if (room() < height) {
            if (!overPages)
                break;
            newPage();
            row(columns, {}, true);
        }
        row(columns, cells, false);
        ++drawn;
    }
    return drawn;
}

QString today()
{
    return QLocale(QLocale::French).toString(QDate::currentDate(), u"d MMMM yyyy");
}

// The score after each answer, oldest first, as a black line over two axes,
// the lowest and highest scores on the left, the first and last days below.
void drawChart(Report &report, const QList<HistoryRow> &chart)
{
    const QRectF block = report.take(report.mm(52));
    report.setFont(8);
    const double line = report.metrics().height();
    const QRectF area = block.adjusted(report.mm(16), line / 2, -report.mm(2), -line * 1.5);
    QPainter &painter = report.painter();
    painter.setPen(QPen(Qt::black, report.mm(0.25)));
    painter.drawLine(area.bottomLeft(), area.bottomRight());
    painter.drawLine(area.bottomLeft(), area.topLeft());
    if (chart.isEmpty()) {
        painter.drawText(area, Qt::AlignCenter, QStringLiteral("aucune réponse sur cette période"));
        return;
    }
    QList<double> scores;
    for (const HistoryRow &row : chart)
        scores << row.answer.scoreAfter.toDouble();
    const auto [low, high] = std::minmax_element(scores.begin(), scores.end());
    const double bottom = std::min(*low, 0.0), span = std::max(*high - bottom, 1.0);
    const double labels = area.left() - report.mm(1.5);
    painter.drawText(QRectF(block.left(), area.top() - line / 2, labels, line), Qt::AlignRight,
                     QString::number(bottom + span));
    painter.drawText(QRectF(block.left(), area.bottom() - line / 2, labels, line), Qt::AlignRight,
                     QString::number(bottom));
    const QRectF days(area.left(), area.bottom() + line * 0.3, area.width(), line);
    painter.drawText(days, Qt::AlignLeft, shownTime(chart.first().when));
    if (chart.size() > 1)
        painter.drawText(days, Qt::AlignRight, shownTime(chart.last().when));

    QPolygonF points;
    const double steps = double(std::max<qsizetype>(scores.size() - 1, 1));
    const double first = scores.size() == 1 ? area.center().x() : area.left();
    for (qsizetype i = 0; i < scores.size(); ++i)
        points << QPointF(first + area.width() * double(i) / steps,
                          area.bottom() - area.height() * (scores[i] - bottom) / span);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Qt::black, report.mm(0.5), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.drawPolyline(points);
    if (points.size() == 1) {
        painter.setBrush(Qt::black);
        painter.drawEllipse(points.first(), report.mm(1), report.mm(1));
    }
}

Row tallyRow(const QString &name, const Tally &tally)
{
    return {{name},
            {QString::number(tally.answers)},
            {QString::number(tally.right)},
            {shareText(tally)}};
}

// The levels from the easiest; answers at no level of the game last.
QList<Row> levelRows(const QMap<int, Tally> &levels)
{
    QList<Row> rows;
    for (auto level = levels.begin(); level != levels.end(); ++level)
        if (level.key() != 0)
            rows << tallyRow(levelName(level.key()), level.value());
    if (levels.contains(0))
        rows << tallyRow(QStringLiteral("autre"), levels.value(0));
    return rows;
}

QList<Row> answerRows(const QList<HistoryRow> &last)
{
    QList<Row> rows;
    // The tables' cells but the score, which the chart above shows.
    for (const HistoryRow &row : last) {
        Row cells;
        for (const QString &text : answerCells(row).first(4))
            cells << Cell{text};
        rows << cells;
    }
    return rows;
}

void drawChildReport(Report &report, const QString &name, const QString &period,
                     const ProgressView &view)
{
    report.text(QStringLiteral("Additions — progrès de %1").arg(name), 18, true);
    report.text(QStringLiteral("Période : %1").arg(period), 11);
    report.text(QStringLiteral("Rapport du %1").arg(today()), 11);
    report.gap(4);
    report.text(QStringLiteral("Le score au fil des réponses"), 13, true);
    drawChart(report, view.chart.rows);
    report.gap(4);
    report.text(QStringLiteral("Par niveau"), 13, true);
    const QList<Column> tally{{QStringLiteral("Niveau"), 0.4},
                              {QStringLiteral("Réponses"), 0.2, Qt::AlignRight},
                              {QStringLiteral("Justes"), 0.2, Qt::AlignRight},
                              {QStringLiteral("Part de justes"), 0.2, Qt::AlignRight}};
    if (view.levels.isEmpty())
        report.text(QStringLiteral("Aucune réponse sur cette période."), 10);
    else
        report.table(tally, levelRows(view.levels), false);
    if (view.last.isEmpty())
        return;
    report.gap(4);
    report.text(QStringLiteral("Dernières réponses"), 13, true);
    report.table({{QStringLiteral("Date"), 0.3},
                  {QStringLiteral("Addition"), 0.3, Qt::AlignRight},
                  {QStringLiteral("Réponse"), 0.2, Qt::AlignRight},
                  {QStringLiteral("Juste"), 0.2, Qt::AlignRight}},
                 answerRows(view.last), false);
}

// What each mark means, the rule of mastery() in words.
void drawLegend(Report &report)
{
    const QStringList meanings{
        QStringLiteral("aucune réponse à ce niveau"), QStringLiteral("moins de 70 % de justes"),
        QStringLiteral("70 % de justes ou plus"),
        QStringLiteral("90 % de justes ou plus sur les %1 dernières réponses")
            .arg(kMasteryAnswers)};
    report.setFont(10);
    const double height = report.metrics().height() * 1.4, size = report.mm(3);
    for (qsizetype i = 0; i < meanings.size(); ++i) {
        const QRectF line = report.take(height);
        report.mark(QRectF(line.left(), line.center().y() - size / 2, size, size), i);
        report.painter().setPen(Qt::black);
        report.painter().drawText(line.adjusted(size + report.mm(2), 0, 0, 0),
                                  Qt::AlignLeft | Qt::AlignVCenter,
                                  masteryName(Mastery(i)) + QStringLiteral(" : ") + meanings[i]);
    }
}

QList<Row> masteryRows(const QList<ClassChild> &children)
{
    QList<Row> rows;
    for (const ClassChild &child : children) {
        Row row{Cell{shownName(child)}};
        for (const Level &level : kLevels) {
            const Mastery mark = masteryOf(child.recent.value(level.bound));
            row << Cell{masteryName(mark), qsizetype(mark)};
        }
        row << Cell{QString::number(child.total.answers)} << Cell{shareText(child.total)};
        rows << row;
    }
    return rows;
}

void drawClassReport(Report &report, const ClassView &view)
{
    report.text(QStringLiteral("Additions — la classe"), 18, true);
    report.text(QStringLiteral("Rapport du %1, sur les %2 dernières réponses de chaque enfant à "
                               "chaque niveau")
                    .arg(today())
                    .arg(kMasteryAnswers),
                11);
    report.gap(3);
    drawLegend(report);
    report.gap(4);
    // The name takes what the levels and the totals leave.
    constexpr double level = 0.125, total = 0.08;
    QList<Column> columns{
        {QStringLiteral("Enfant"), 1 - level * double(kLevels.size()) - 2 * total}};
    for (const Level &each : kLevels)
        columns << Column{levelName(each.bound), level};
    columns << Column{QStringLiteral("Réponses"), total, Qt::AlignRight}
            << Column{QStringLiteral("Justes"), total, Qt::AlignRight};
    if (view.children.isEmpty())
        report.text(QStringLiteral("Aucun enfant de la classe n'a encore répondu."), 10);
    else
        report.table(columns, masteryRows(view.children), true);
}

QString failure(const QString &file, const QString &cause)
{
    return QStringLiteral("Le rapport n'a pas pu être enregistré dans %1 : %2.")
        .arg(QDir::toNativeSeparators(file), cause);
}

// Why a file could not be written, as an adult can mend it.
QString causeOf(const QString &file, const QSaveFile &out)
{
    const QFileInfo folder(QFileInfo(file).absolutePath());
    if (!folder.exists())
        return QStringLiteral("ce dossier n'existe pas");
    if (!folder.isDir())
        return QStringLiteral("%1 n'est pas un dossier")
            .arg(QDir::toNativeSeparators(folder.filePath()));
    if (!folder.isWritable())
        return QStringLiteral("vous ne pouvez pas écrire dans ce dossier");
    if (out.error() == QFileDevice::WriteError)
        return QStringLiteral("l'écriture a échoué, le disque est peut-être plein (%1)")
            .arg(out.errorString());
    return out.errorString();
}

// Draws a report into a file of the folder's own, renamed into place once
// whole: a reader never opens half a PDF.
QString writeReport(const QString &file, const QString &title, QPageLayout::Orientation orientation,
                    const std::function<void(Report &)> &draw)
{
    QSaveFile out(file);
    if (!out.open(QIODevice::WriteOnly))
        return failure(file, causeOf(file, out));
    {
        QPdfWriter writer(&out);
        writer.setTitle(title);
        writer.setCreator(QStringLiteral("Additions"));
        writer.setResolution(kResolution);
        writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), orientation,
                                         QMarginsF(kMarginMm, kMarginMm, kMarginMm, kMarginMm),
                                         QPageLayout::Millimeter));
        Report report(writer);
        if (!report.begun())
            return failure(file, QStringLiteral("le PDF n'a pas pu être commencé"));
        draw(report);
    }
    if (!out.commit())
        return failure(file, causeOf(file, out));
    return {};
}

} // namespace

QString writeChildReport(const QString &file, const QString &playerName, const QString &period,
                         const ProgressView &view)
{
    return writeReport(file, QStringLiteral("Additions — progrès de %1").arg(playerName),
                       QPageLayout::Portrait,
                       [&](Report &report) { drawChildReport(report, playerName, period, view); });
}

QString writeClassReport(const QString &file, const ClassView &view)
{
    // Across the page: a column per level, each wide enough for its word.
    return writeReport(file, QStringLiteral("Additions — la classe"), QPageLayout::Landscape,
                       [&](Report &report) { drawClassReport(report, view); });
}
