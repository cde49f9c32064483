// SPDX-License-Identifier: GPL-3.0-or-later
#include "history/sqlite_problems.h"

#include <QDir>

namespace {

// SQLite's primary result code; Qt gives the extended one.
int sqliteCode(const QSqlError &error)
{
    return error.nativeErrorCode().toInt() & 0xff;
}

} // namespace

bool isDamaged(const QSqlError &error)
{
    return sqliteCode(error) == 11 || sqliteCode(error) == 26; // malformed, not a database
}

QString readOnlySentence(const QString &file)
{
    return QStringLiteral("L'historique %1 est en lecture seule : rendez-le modifiable (ainsi "
                          "que son dossier) pour que les réponses y soient gardées")
        .arg(QDir::toNativeSeparators(file));
}

QString sentenceFor(const QSqlError &error, const QString &file)
{
    const QString sqlite = error.databaseText().isEmpty() ? error.text() : error.databaseText();
    QString sentence;
    switch (sqliteCode(error)) {
    case 8:
        sentence = readOnlySentence(QStringLiteral("%1"));
        break;
    case 13:
        sentence = QStringLiteral("Le disque où se trouve l'historique %1 est plein : libérez de "
                                  "la place pour que les réponses y soient gardées");
        break;
    case 11:
    case 26:
        sentence = QStringLiteral("L'historique %1 est abîmé : fermez le jeu, mettez ce fichier de "
                                  "côté, et un nouvel historique sera commencé");
        break;
    case 10:
        sentence = QStringLiteral("Le disque où se trouve l'historique %1 a fait une erreur de "
                                  "lecture ou d'écriture : vérifiez ce disque");
        break;
    case 14:
        sentence = QStringLiteral("L'historique %1 ne peut pas être ouvert : vérifiez que son "
                                  "dossier existe et que vous pouvez y écrire");
        break;
    default:
        sentence = QStringLiteral("L'historique %1 n'a pas pu être utilisé");
    }
    return sentence.arg(QDir::toNativeSeparators(file)) + QStringLiteral(" (%1).").arg(sqlite);
}
