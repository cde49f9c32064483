// SPDX-License-Identifier: GPL-3.0-or-later
#include "progress/report_pdf.h"
#include "scratch_folder.h"

#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>

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
    return poppler(u"pdftotext"_s, arguments << file << u"-"_s);
}

QString infoOf(const QString &file, const QString &field)
{
    const QRegularExpression line(u"^%1:\\s+(.*)$"_s.arg(field),
                                  QRegularExpression::MultilineOption);
    return line.match(poppler(u"pdfinfo"_s, {file})).captured(1).trimmed();
}

bool hasRow(const QString &text, const QString &pattern)
{
    return QRegularExpression(pattern, QRegularExpression::MultilineOption).match(text).hasMatch();
}

HistoryRow answer(int minute, int first, int second, int given)
{
    HistoryRow row;
    row.when = QDateTime(QDate(2024, 3, 4), QTime(9, minute), Qt::UTC);
    row.answer = {u"1_lea"_s,
                  50,
                  QString::number(first),
                  QString::number(second),
                  QString::number(given),
                  first + second == given,
                  2,
                  QString::number(minute),
                  true};
    return row;
}

} // namespace

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

    void childReport()
    {
        ProgressView view;
        view.levels = {{0, {2, 1}}, {50, {10, 8}}, {1000, {4, 1}}};
        for (int minute = 0; minute < 30; ++minute)
            view.chart.rows << answer(minute, 12, minute, 12 + minute - minute % 3);
        for (int minute = 29; minute >= 10; --minute)
            view.last << view.chart.rows[minute];
        const auto folder = scratchFolder();
        const QString file = folder->filePath(u"Léa.pdf"_s);
        QCOMPARE(writeChildReport(file, u"Léa"_s, u"les 7 derniers jours"_s, view), QString());

        const QString text = textOf(file);
        QVERIFY2(text.contains(u"Additions — progrès de Léa"_s), qPrintable(text));
        QVERIFY(text.contains(u"les 7 derniers jours"_s));
        QVERIFY(hasRow(text, u"moins de 50 +10 +8 +80 %$"_s));
        QVERIFY(hasRow(text, u"moins de 1000 +4 +1 +25 %$"_s));
        QVERIFY(hasRow(text, u"autre +2 +1 +50 %$"_s));
        QVERIFY(hasRow(text, u"12 \\+ 29 +39 +non$"_s));
        QVERIFY(hasRow(text, u"12 \\+ 27 +39 +oui$"_s));
        QCOMPARE(infoOf(file, u"Pages"_s), u"1"_s);
        QCOMPARE(infoOf(file, u"Title"_s), u"Additions — progrès de Léa"_s);
        QCOMPARE(infoOf(file, u"Creator"_s), u"Additions"_s);
    }

    // Sixty children take pages, each under the grid's header.
    void classReport()
    {
        ClassView view;
        for (int i = 0; i < 60; ++i) {
            const QString number = u"%1"_s.arg(i, 2, 10, QChar(u'0'));
            ClassChild child;
            child.machine = u"poste-"_s + number;
            child.player = u"joueur-"_s + number;
            child.name = i % 2 ? QString() : u"Élève "_s + number;
            child.recent = {{50, {20, 20 - i % 20}}, {10000, {i % 5, 0}}};
            child.total = {40, 20};
            view.children << child;
        }
        const auto folder = scratchFolder();
        const QString file = folder->filePath(u"classe.pdf"_s);
        QCOMPARE(writeClassReport(file, view), QString());

        const int pages = infoOf(file, u"Pages"_s).toInt();
        QVERIFY2(pages >= 2, qPrintable(infoOf(file, u"Pages"_s)));
        QString text;
        for (int page = 1; page <= pages; ++page) {
            const QString shown = textOf(file, page);
            QVERIFY2(hasRow(shown, u"^ *Enfant +moins de 50 .*moins de 10 000 +Réponses"_s),
                     qPrintable(shown));
            text += shown;
        }
        for (const ClassChild &child : std::as_const(view.children)) {
            const QString name =
                child.name.isEmpty() ? child.machine + u", "_s + child.player : child.name;
            QCOMPARE(text.count(name), 1);
        }
        QVERIFY(
            hasRow(text, u"^ *Élève 00 +maîtrisé +pas commencé( +pas commencé){3} +40 +50 %$"_s));
        QVERIFY(hasRow(text, u"^ *poste-03, joueur-03 +familier( +pas commencé){3} +commencé "_s));
        QVERIFY(hasRow(text, u"^ *Élève 08 +commencé( +pas commencé){3} +commencé "_s));
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
             {writeChildReport(file, u"Léa"_s, u"toujours"_s, {}), writeClassReport(file, {})}) {
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
