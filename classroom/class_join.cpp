// SPDX-License-Identifier: GPL-3.0-or-later
#include "classroom/class_join.h"

#include "classroom/class_connection.h"
#include "classroom/class_host.h"
#include "classroom/service_file.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QSysInfo>
#include <QVariant>

#ifdef Q_OS_WIN
#include <shlobj.h>
#else
#include <unistd.h>
#endif

using namespace Qt::StringLiterals;

namespace {

struct Admission
{
    QString role, password, authority;
};

// The computer's role, password and the class's authority, asked with the
// code; why not, in French, when refused.
std::optional<Admission> admit(const QString &host, int port, const QString &code, QString &problem)
{
    const QString name = u"additions-join"_s;
    std::optional<Admission> admitted;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(u"QPSQL"_s, name);
        db.setHostName(host);
        db.setPort(port);
        db.setDatabaseName(u"additions"_s);
        db.setUserName(u"additions_join"_s);
        db.setPassword(code);
        // The server's certificate is not known yet: the code's exchange,
        // bound to it, proves that the server knows the code.
        db.setConnectOptions(u"sslmode=require;channel_binding=require;gssencmode=disable;"
                             "connect_timeout=5"_s);
        // Tried first through libpq, for the server's own code: a wrong one
        // is then refused, and counted, once.
        const QString state = ClassConnection::refusalState(db);
        if (state == u"28P01") {
            problem = u"Le code n'est pas le bon, ou il n'est plus valable : demandez à "
                      "l'enseignant celui de la classe."_s;
        } else if (state != u"00000" || !db.open()) {
            // A server that does not answer, or one in the middle, whose
            // certificate the code's exchange was not bound to.
            problem = u"La classe de l'adresse %1 n'a pas pu être jointe : elle ne répond pas, ou "
                      "ne prouve pas qu'elle connaît le code%2."_s.arg(
                          host, state.isEmpty() ? QString() : u" ("_s + state + u')');
        } else {
            QSqlQuery query(db);
            // Whoever holds the code may have given the joining role settings
            // of its own, until the teacher's program sets them back.
            query.exec(u"SET statement_timeout = '10s'; SET lock_timeout = '5s'; "
                       "SET default_transaction_read_only = off"_s);
            query.prepare(u"SELECT role, password, authority FROM additions.join_class(?)"_s);
            query.addBindValue(QSysInfo::machineHostName());
            if (query.exec() && query.next())
                admitted = Admission{query.value(0).toString(), query.value(1).toString(),
                                     query.value(2).toString()};
            else
                problem = u"La classe de l'adresse %1 a refusé cet ordinateur (%2)."_s.arg(
                    host, serverRefusal(query.lastError()));
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return admitted;
}

// Whoever may write the computer's own files: root, or an administrator.
bool forEveryAccount()
{
#ifdef Q_OS_WIN
    return IsUserAnAdmin();
#else
    return ::geteuid() == 0;
#endif
}

} // namespace

bool joinClass(const QString &address, const QString &code, QString &problem)
{
    // "name", "name:port", an IPv6 address alone, or "[address]:port".
    static const QRegularExpression withPort(
        u"^(?:\\[([^\\]]+)\\]|([^:\\[\\]]+))(?::([0-9]{1,5}))?$"_s);
    const QString given = address.trimmed();
    const QRegularExpressionMatch split = withPort.match(given);
    const QString host = !split.hasMatch() ? given : split.captured(1) + split.captured(2);
    const int port =
        split.hasMatch() && split.hasCaptured(3) ? split.captured(3).toInt() : ClassHost::kPort;
    static const QRegularExpression hostName(u"^[A-Za-z0-9._:%-]+$"_s);
    if (!hostName.match(host).hasMatch()) {
        problem = u"« %1 » n'est pas une adresse : tapez celle que l'enseignant donne, par exemple "
                  "« salle-prof.local » ou « 192.168.1.20 »."_s.arg(given);
        return false;
    }
    // Read out, copied from a board: any case, any blank or dash.
    const QString typed = code.toUpper().remove(QRegularExpression(u"[^A-Z0-9]"_s));
    const std::optional<Admission> admitted = admit(host, port, typed, problem);
    if (!admitted)
        return false;
    const bool everyAccount = forEveryAccount();
    const QString authority =
        everyAccount ? QFileInfo(systemServiceFile()).absolutePath() + u"/additions-classe.crt"_s
                     : QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                           u"/additions/classe-ac.crt"_s;
    QDir().mkpath(QFileInfo(authority).absolutePath());
    QSaveFile certificate(authority);
    if (!certificate.open(QIODevice::WriteOnly) ||
        certificate.write(admitted->authority.toUtf8()) < 0 || !certificate.commit()) {
        problem = u"Le certificat de la classe %1 n'a pas pu être écrit (%2)."_s.arg(
            QDir::toNativeSeparators(authority), certificate.errorString());
        return false;
    }
    if (!writeServiceSection(everyAccount ? systemServiceFile() : userServiceFile(),
                             QString::fromLatin1(ClassConnection::kComputer),
                             {{u"host"_s, host},
                              {u"port"_s, QString::number(port)},
                              {u"dbname"_s, u"additions"_s},
                              {u"user"_s, admitted->role},
                              {u"password"_s, admitted->password},
                              {u"sslrootcert"_s, QDir::toNativeSeparators(authority)}},
                             problem, everyAccount))
        return false;
    // As the game will: the server's certificate checked for that name.
    ClassConnection check(ClassConnection::kComputer, u"additions-join-check"_s);
    if (!check.open()) {
        problem = check.problem();
        return false;
    }
    return true;
}
