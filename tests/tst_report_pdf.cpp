// SPDX-License-Identifier: GPL-3.0-or-later
#include "progress/mastery_marks.h"
#include "progress/report_pdf.h"
#include "scratch_folder.h"

#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>

#include <functional>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

// The reports are read as a parent's PDF reader reads them, by poppler.
QString poppler(const QString &tool, QStringList arguments)
{
    QProcess process;
    process.start(tool, arguments);
    if (!process.waitForFinished(60000) || process.exitCode() != 0)
        return {};
    return QString::fromUtf8(process.readAllStandardOutput());
}

// The text in its columns, a table's row on a line.
QString textOf(const QString &file, int page = 0)
{
    QStringList arguments{u"-layout"_s, u"-enc"_s, u"UTF-8"_s};
    if (page > 0)
        arguments << u"-f"_s << QString::number(page) << u"-l"_s << QString::number(page);
    return poppler(u"pdftotext"_s, arguments << file << u"-"_s)
        .replace(QChar(0x202F), u' ')
        .replace(QChar(0xA0), u' ');
}

QString infoOf(const QString &file, const QString &field)
{
    const QRegularExpression line(u"^%1:\\s+(.*)$"_s.arg(field),
                                  QRegularExpression::MultilineOption);
    return line.match(poppler(u"pdfinfo"_s, {file})).captured(1).trimmed();
}

int count(const QString &text, const QString &pattern)
{
    auto matches =
        QRegularExpression(pattern, QRegularExpression::MultilineOption).globalMatch(text);
    int found = 0;
    for (; matches.hasNext(); matches.next())
        ++found;
    return found;
}

bool hasRow(const QString &text, const QString &pattern)
{
    return count(text, pattern) > 0;
}

// An answer on the `day`-th of March 2024, its score `score`.
HistoryRow answer(int day, int first, int second, int given, int score = 0)
{
    HistoryRow row;
    row.when = QDateTime(QDate(2024, 3, day), QTime(9, 0), Qt::UTC);
    row.answer = {u"1_lea"_s,
                  50,
                  QString::number(first),
                  QString::number(second),
                  QString::number(given),
                  first + second == given,
                  2,
                  QString::number(score),
                  true};
    return row;
}

// Thirty days of answers, standing for a thousand, their scores from 0 to 2 320.
QList<HistoryRow> month()
{
    QList<HistoryRow> rows;
    for (int day = 1; day <= 30; ++day)
        rows << answer(day, 12, day, 12 + day - day % 3, (day - 1) * 80);
    return rows;
}

QList<HistoryRow> newestFirst(QList<HistoryRow> rows)
{
    std::reverse(rows.begin(), rows.end());
    return rows.first(20);
}

ProgressView childView()
{
    ProgressView view;
    view.levels = {{0, {2, 1}}, {50, {10, 8}}, {1000, {4, 1}}};
    view.recent = {{50, {20, 19}}, {1000, {4, 1}}};
    view.chart = {month(), 1000};
    view.last = newestFirst(month());
    return view;
}

ClassChild classChild(int i)
{
    const QString number = u"%1"_s.arg(i, 2, 10, QChar(u'0'));
    ClassChild child;
    child.machine = u"poste-"_s + number;
    child.player = u"joueur-"_s + number;
    // Names as a teacher may type them print as typed.
    child.name = i == 2   ? u"<b>Zoé</b>"_s
                 : i == 4 ? u"=1+1"_s
                 : i % 2  ? QString()
                          : u"Élève "_s + number;
    child.recent = {{50, {20, 20 - i % 20}}, {10000, {i % 5, 0}}};
    child.total = {40, 20};
    child.last = QDateTime(QDate(2024, 3, 4), QTime(9, i), Qt::UTC);
    return child;
}

ClassView classView()
{
    ClassView view;
    for (int i = 0; i < 60; ++i)
        view.children << classChild(i);
    return view;
}

using Writer = std::function<QString(const QString &file)>;

} // namespace

Q_DECLARE_METATYPE(Writer)

class TestReportPdf : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        for (const QString &tool : {u"pdftotext"_s, u"pdfinfo"_s})
            if (QStandardPaths::findExecutable(tool).isEmpty())
                QSKIP("poppler-utils (pdftotext, pdfinfo) is needed to read the reports");
    }

    void reports_data()
    {
        QTest::addColumn<Writer>("write");
        QTest::addColumn<QString>("title");
        QTest::addColumn<int>("pages"); // 0: two or more
        QTest::addColumn<QString>("eachPage");
        QTest::addColumn<QStringList>("rows"); // each once in the report
        const QStringList axis{u"^ *2 500$"_s,
                               u"^ *1 500$"_s,
                               u"^ *0$"_s,
                               u"^ *01/03 +\\d\\d/03 +\\d\\d/03 "_s,
                               u"12 \\+ 29 +39 +non$"_s,
                               u"12 \\+ 27 +39 +oui$"_s};
        QTest::addRow("a child") << Writer([](const QString &file) {
            return writeChildReport(file, u"Léa"_s, u"les 7 derniers jours"_s, childView());
        }) << u"Additions — progrès de Léa"_s
                                 << 1 << u"Dernières réponses"_s
                                 << axis +
                                        QStringList{u"^Additions — progrès de Léa$"_s,
                                                    u"^Période : les 7 derniers jours$"_s,
                                                    u"1000 réponse\\(s\\), un point par jour"_s,
                                                    u"◑ familier : 70 % de justes ou plus ;"_s,
                                                    u"^ *moins de 50 +● maîtrisé +10 +8 +80 %$"_s,
                                                    u"^ *moins de 200 +○ pas commencé +0 +0$"_s,
                                                    u"^ *moins de 1000 +◔ commencé +4 +1 +25 %$"_s,
                                                    u"^ *autre +2 +1 +50 %$"_s};
        // Sixty children take pages, each under the grid's header.
        QStringList children{u"^Additions — classes CM1 A, CM2 B$"_s,
                             u"^ *Élève 00 +● maîtrisé( +○ pas commencé){4} +40 +20 +50 % "
                             "+04/03/2024 09:00$"_s,
                             u"^ *poste-03, joueur-03 +◑ familier( +○ pas commencé){3} "
                             "+◔ commencé "_s,
                             u"^ *Élève 08 +◔ commencé( +○ pas commencé){3} +◔ commencé "_s};
        for (const ClassChild &child : classView().children)
            children << u"^ *"_s + QRegularExpression::escape(shownName(child)) + u" "_s;
        QTest::addRow("a class")
            << Writer([](const QString &file) {
                   return writeClassReport(file, classView(), {u"CM1 A"_s, u"CM2 B"_s});
               })
            << u"Additions — classes CM1 A, CM2 B"_s << 0
            << u"^ *Enfant +moins de 50 .*moins de 10 000 +Réponses +Justes +Part juste "
               "+Dernière activité$"_s
            << children;
        QTest::addRow("a child of the class")
            << Writer([](const QString &file) {
                   return writeClassChildReport(file, classChild(2),
                                                {u"poste-02"_s,
                                                 u"joueur-02"_s,
                                                 {month(), month().size()},
                                                 newestFirst(month()),
                                                 {{0, {10, 9}}, {2, {6, 3}}},
                                                 {}},
                                                {u"CM1 A"_s});
               })
            << u"Additions — progrès de <b>Zoé</b>"_s << 2
            << u"^ *Date +Problème +Réponse +Juste$"_s
            << axis + QStringList{u"^Additions — progrès de <b>Zoé</b>$"_s,
                                  u"^classe CM1 A$"_s,
                                  u"^Ordinateur poste-02, joueur joueur-02$"_s,
                                  u"^En tout : 40 réponse\\(s\\), 20 juste\\(s\\) \\(50 %\\)$"_s,
                                  u"^Dernière activité : 04/03/2024 09:02$"_s,
                                  u"^ *moins de 50 +● maîtrisé +20 +18 +90 %$"_s,
                                  u"^ *moins de 10 000 +◔ commencé +2 +0 +0 ?%$"_s,
                                  u"^ *2 +6 +50 %$"_s,
                                  u"^30 réponse\\(s\\)$"_s};
    }

    void reports()
    {
        QFETCH(Writer, write);
        QFETCH(QString, title);
        QFETCH(int, pages);
        QFETCH(QString, eachPage);
        QFETCH(QStringList, rows);
        const auto folder = scratchFolder();
        const QString file = folder->filePath(u"rapport.pdf"_s);
        QCOMPARE(write(file), QString());

        const int printed = infoOf(file, u"Pages"_s).toInt();
        QVERIFY2(pages > 0 ? printed == pages : printed >= 2, qPrintable(QString::number(printed)));
        QString text;
        for (int page = 1; page <= printed; ++page) {
            const QString shown = textOf(file, page);
            QVERIFY2(hasRow(shown, eachPage), qPrintable(shown));
            QVERIFY2(hasRow(shown, u"^ *page %1 / %2$"_s.arg(page).arg(printed)),
                     qPrintable(shown));
            text += shown;
        }
        for (const QString &row : rows)
            QVERIFY2(count(text, row) == 1, qPrintable(row + u'\n' + text));
        QCOMPARE(infoOf(file, u"Title"_s), title);
        QCOMPARE(infoOf(file, u"Creator"_s), u"Additions"_s);
    }

    void failures_data()
    {
        QTest::addColumn<bool>("readOnly");
        QTest::addColumn<QString>("cause");
        QTest::addRow("a folder that does not exist") << false << u"ce dossier n'existe pas"_s;
        QTest::addRow("a read-only folder") << true << u"vous ne pouvez pas écrire"_s;
    }

    // Said in French, naming the file, and nothing left behind.
    void failures()
    {
        QFETCH(bool, readOnly);
        QFETCH(QString, cause);
        if (readOnly && geteuid() == 0)
            QSKIP("root writes in a read-only folder");
        const auto scratch = scratchFolder();
        const QString folder = scratch->filePath(u"rapports"_s), file = folder + u"/Léa.pdf"_s;
        if (readOnly) {
            QVERIFY(QDir().mkdir(folder));
            QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
        }
        for (const QString &said :
             {writeChildReport(file, u"Léa"_s, u"toujours"_s, {}), writeClassReport(file, {}),
              writeClassChildReport(file, {}, {})}) {
            QVERIFY2(said.startsWith(u"Le rapport n'a pas pu être enregistré dans "_s + file),
                     qPrintable(said));
            QVERIFY2(said.contains(cause), qPrintable(said));
            QVERIFY(QDir(folder).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden));
        }
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
};

QTEST_MAIN(TestReportPdf)
#include "tst_report_pdf.moc"
