// SPDX-License-Identifier: GPL-3.0-or-later
#include "progress/report_pdf.h"

#include "history/mastery.h"
#include "progress/answer_tables.h"
#include "progress/mastery_marks.h"
#include "progress/score_chart.h"
#include "quiz/tables.h"

#include <QAbstractTextDocumentLayout>
#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QPageLayout>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>
#include <QTextDocument>
#include <QTextObjectInterface>

namespace {

// Dots per inch of the page's coordinates: fine enough for hairlines, and
// the PDF's size does not depend on it.
constexpr int kResolution = 300;
constexpr double kMarginMm = 15;
constexpr double kChartMm = 50;

// A report: its HTML, and the score chart drawn where it has its image.
struct Report
{
    QString title;
    QString html;
    QList<ScorePoint> chart;
    QPageLayout::Orientation orientation = QPageLayout::Portrait;
};

// Draws the chart in black as the window draws it, in lines and text that
// print sharp, rather than as a picture.
class ChartObject final : public QObject, public QTextObjectInterface
{
    Q_OBJECT
    Q_INTERFACES(QTextObjectInterface)

public:
    ChartObject(const QList<ScorePoint> &points, QObject *parent)
        : QObject(parent), m_points(points)
    {}
    QSizeF intrinsicSize(QTextDocument *document, int, const QTextFormat &) override
    {
        return {document->pageSize().width() - 1, kChartMm * kResolution / 25.4};
    }
    void drawObject(QPainter *painter, const QRectF &rect, QTextDocument *document, int,
                    const QTextFormat &) override
    {
        painter->save();
        painter->setFont(document->defaultFont());
        drawScores(*painter, rect, m_points, {Qt::black, Qt::black}, kResolution / 96.0);
        painter->restore();
    }

private:
    QList<ScorePoint> m_points;
};

QString paragraph(const QString &text)
{
    return QStringLiteral("<p>%1</p>").arg(text.toHtmlEscaped());
}

QString heading(int level, const QString &text)
{
    return QStringLiteral("<h%1>%2</h%1>").arg(level).arg(text.toHtmlEscaped());
}

QString cells(const QStringList &texts, const QString &tag, QStringView align)
{
    QString html = QStringLiteral("<tr>");
    for (qsizetype c = 0; c < texts.size(); ++c)
        html += QStringLiteral("<%1 align=\"%2\">%3</%1>")
                    .arg(tag,
                         c < align.size() && align[c] == u'r' ? QStringLiteral("right")
                                                              : QStringLiteral("left"),
                         texts[c].toHtmlEscaped());
    return html + QStringLiteral("</tr>");
}

// `align` has an r for each column of numbers. The header row comes again
// atop each page the rows run onto.
QString table(const QStringList &headers, const QList<QStringList> &rows, QStringView align)
{
    QString html = QStringLiteral("<table width=\"100%\" border=\"1\" cellspacing=\"0\" "
                                  "cellpadding=\"1\" style=\"border-collapse: collapse; "
                                  "border-color: black\"><thead>") +
                   cells(headers, QStringLiteral("th"), align) + QStringLiteral("</thead>");
    for (const QStringList &row : rows)
        html += cells(row, QStringLiteral("td"), align);
    return html + QStringLiteral("</table>");
}

QString today()
{
    return QLocale(QLocale::French).toString(QDate::currentDate(), u"d MMMM yyyy");
}

QStringList tallyCells(const Tally &tally)
{
    return {QString::number(tally.answers), QString::number(tally.right), shareText(tally)};
}

QString tallyText(const Tally &tally)
{
    return QStringLiteral("%1 réponse(s), %2 juste(s)").arg(tally.answers).arg(tally.right) +
           (tally.answers > 0 ? QStringLiteral(" (%1)").arg(shareText(tally)) : QString());
}

// What each mark means, the rule of masteryOf() in words.
QString legend()
{
    const QStringList meanings{
        QStringLiteral("aucune réponse à ce niveau"), QStringLiteral("moins de 70 % de justes"),
        QStringLiteral("70 % de justes ou plus"),
        QStringLiteral("90 % de justes ou plus sur %1 réponses au moins").arg(kMasteryAnswers)};
    QStringList marks;
    for (qsizetype i = 0; i < meanings.size(); ++i)
        marks << markText(Mastery(i)) + QStringLiteral(" : ") + meanings[i];
    return paragraph(QStringLiteral("Maîtrise sur les %1 dernières réponses de chaque niveau. ")
                         .arg(kMasteryAnswers) +
                     marks.join(QStringLiteral(" ; ")) + u'.');
}

// A row per level of the game, its mark from `recent`, then `tallies`
// there; answers at no level of the game last.
QString levels(const QMap<int, Tally> &recent, const QMap<int, Tally> &tallies,
               const QString &answers)
{
    QList<QStringList> rows;
    for (const Level &level : kLevels)
        rows << QStringList{levelName(level.bound),
                            markText(masteryOf(recent.value(level.bound)))} +
                    tallyCells(tallies.value(level.bound));
    if (tallies.contains(0))
        rows << QStringList{QStringLiteral("autre"), QString()} + tallyCells(tallies.value(0));
    return heading(2, QStringLiteral("Par niveau")) + legend() +
           table({QStringLiteral("Niveau"), QStringLiteral("Maîtrise"), answers,
                  QStringLiteral("Justes"), QStringLiteral("Part juste")},
                 rows, u"llrrr");
}

// The chart's room, and how many answers it stands for.
QString chart(Report &report, const ChartAnswers &answers)
{
    QString html = heading(2, QStringLiteral("Le score au fil des réponses"));
    report.chart = pointsShown(scoresOf(answers.rows));
    if (report.chart.isEmpty())
        return html + paragraph(QStringLiteral("Aucune réponse sur cette période."));
    const qsizetype count = std::max(answers.answers, answers.rows.size());
    return html + QStringLiteral("<p><img src=\"courbe\"></p>") +
           paragraph(QStringLiteral("%1 réponse(s)%2")
                         .arg(count)
                         .arg(report.chart.size() < count
                                  ? QStringLiteral(", un point par jour (sa dernière réponse)")
                                  : QString()));
}

// The newest first, the tables' cells but the score, which the chart shows.
QString lastAnswers(const QList<HistoryRow> &newestFirst)
{
    QList<QStringList> rows;
    for (const HistoryRow &row : newestFirst)
        rows << answerCells(row).first(4);
    if (rows.isEmpty())
        return {};
    return heading(2, QStringLiteral("Dernières réponses")) +
           table(answerHeaders().first(4), rows, u"lrrr");
}

// "classe CM1 A", "classes CE2, CM1", or "la classe" unnamed.
QString classesText(const QStringList &classes)
{
    if (classes.isEmpty())
        return QStringLiteral("la classe");
    return (classes.size() == 1 ? QStringLiteral("classe ") : QStringLiteral("classes ")) +
           classes.join(QStringLiteral(", "));
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

// Liberation Sans draws two of the marks as specks: the marks come from a
// face that draws them all, on Linux or on Windows.
QString withMarkFaces(QString html)
{
    for (const Mastery level :
         {Mastery::NotStarted, Mastery::Started, Mastery::Familiar, Mastery::Mastered}) {
        const QString symbol = markLook(level).symbol;
        html.replace(symbol, QStringLiteral("<span style=\"font-family: 'DejaVu Sans', 'Segoe UI "
                                            "Symbol'\">%1</span>")
                                 .arg(symbol));
    }
    return html;
}

// Lays the report out at the printer's resolution, then prints it a page at
// a time, each page's number under it.
void print(const Report &report, QPdfWriter &writer, QPainter &painter)
{
    QTextDocument document;
    document.documentLayout()->setPaintDevice(&writer);
    document.documentLayout()->registerHandler(QTextFormat::ImageObject,
                                               new ChartObject(report.chart, &document));
    QFont font(QStringLiteral("Liberation Sans"));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(10);
    document.setDefaultFont(font);
    document.setDocumentMargin(0);
    document.setDefaultStyleSheet(
        QStringLiteral("h1 { font-size: 18pt } h2 { font-size: 13pt; margin-top: 12px; "
                       "margin-bottom: 4px } p { margin-top: 2px; margin-bottom: 2px } "
                       "table { font-size: 9pt }"));
    const QSizeF page = writer.pageLayout().paintRectPixels(kResolution).size();
    const double footer = 2 * QFontMetricsF(font, &writer).height();
    document.setPageSize({page.width(), page.height() - footer});
    document.setHtml(withMarkFaces(report.html));
    const int pages = document.pageCount();
    for (int i = 0; i < pages; ++i) {
        if (i > 0)
            writer.newPage();
        const QRectF body(0, i * (page.height() - footer), page.width(), page.height() - footer);
        painter.save();
        painter.translate(0, -body.top());
        painter.setClipRect(body);
        QAbstractTextDocumentLayout::PaintContext context;
        context.clip = body;
        document.documentLayout()->draw(&painter, context);
        painter.restore();
        painter.setFont(font);
        painter.drawText(QRectF(0, body.height(), page.width(), footer),
                         Qt::AlignRight | Qt::AlignBottom,
                         QStringLiteral("page %1 / %2").arg(i + 1).arg(pages));
    }
}

// Writes into a file of the folder's own, renamed into place once whole: a
// reader never opens half a PDF.
QString writeReport(const QString &file, const Report &report)
{
    QSaveFile out(file);
    if (!out.open(QIODevice::WriteOnly))
        return failure(file, causeOf(file, out));
    {
        QPdfWriter writer(&out);
        writer.setTitle(report.title);
        writer.setCreator(QStringLiteral("Additions"));
        writer.setResolution(kResolution);
        writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), report.orientation,
                                         QMarginsF(kMarginMm, kMarginMm, kMarginMm, kMarginMm),
                                         QPageLayout::Millimeter));
        QPainter painter;
        if (!painter.begin(&writer))
            return failure(file, QStringLiteral("le PDF n'a pas pu être commencé"));
        print(report, writer, painter);
    }
    if (!out.commit())
        return failure(file, causeOf(file, out));
    return {};
}

} // namespace

QString writeChildReport(const QString &file, const QString &playerName, const QString &period,
                         const ProgressView &view)
{
    Report report{QStringLiteral("Additions — progrès de %1").arg(playerName), {}, {}};
    report.html =
        heading(1, report.title) + paragraph(QStringLiteral("Période : %1").arg(period)) +
        paragraph(QStringLiteral("Rapport du %1").arg(today())) + chart(report, view.chart) +
        levels(view.recent, view.levels, QStringLiteral("Réponses")) + lastAnswers(view.last);
    return writeReport(file, report);
}

QString writeClassReport(const QString &file, const ClassView &view, const QStringList &classes)
{
    QStringList headers{QStringLiteral("Enfant")};
    for (const Level &level : kLevels)
        headers << levelName(level.bound);
    headers << QStringLiteral("Réponses") << QStringLiteral("Justes")
            << QStringLiteral("Part juste") << QStringLiteral("Dernière activité");
    QList<QStringList> rows;
    for (const ClassChild &child : view.children) {
        QStringList row{shownName(child)};
        for (const Level &level : kLevels)
            row << markText(masteryOf(child.recent.value(level.bound)));
        rows << row + tallyCells(child.total) + QStringList{shownTime(child.last)};
    }
    // Across the page: a column per level, each wide enough for its word.
    Report report{
        QStringLiteral("Additions — ") + classesText(classes), {}, {}, QPageLayout::Landscape};
    report.html +=
        heading(1, report.title) + paragraph(QStringLiteral("Rapport du %1").arg(today())) +
        legend() +
        (rows.isEmpty() ? paragraph(QStringLiteral("Aucun enfant de la classe n'a encore répondu."))
                        : table(headers, rows, u"llllllrrrl"));
    return writeReport(file, report);
}

QString writeClassChildReport(const QString &file, const ClassChild &child,
                              const ChildDetail &detail, const QStringList &classes)
{
    Report report{QStringLiteral("Additions — progrès de %1").arg(shownName(child)), {}, {}};
    report.html =
        heading(1, report.title) +
        (classes.isEmpty() ? QString() : paragraph(classesText(classes))) +
        paragraph(QStringLiteral("Ordinateur %1, joueur %2").arg(child.machine, child.player)) +
        paragraph(QStringLiteral("En tout : ") + tallyText(child.total)) +
        paragraph(QStringLiteral("Dernière activité : %1").arg(shownTime(child.last))) +
        paragraph(QStringLiteral("Rapport du %1").arg(today())) + chart(report, detail.chart) +
        levels(child.recent, child.recent, QStringLiteral("Dernières réponses")) +
        heading(2, QStringLiteral("Selon les retenues des sommes, les plus difficiles d'abord")) +
        table(carriesHeaders(), carriesRows(detail.carries), u"rrr") + lastAnswers(detail.last);
    return writeReport(file, report);
}

#include "report_pdf.moc"
