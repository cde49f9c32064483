// SPDX-License-Identifier: GPL-3.0-or-later
#include "class_server_fixture.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using classfixture::kBin;

// A class set up on a new PostgreSQL 15 by running the README's blocks as
// written, over TCP with TLS and the server's name checked, for accounts with
// no files of their own. Only the README's examples are replaced: the
// server's name, network, folders, account and port, and the passwords the
// server printed.
class TestClassSetup : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void readmeSetsUpAClass()
    {
        if (!ThrowawayClassServer::installed())
            QSKIP("PostgreSQL 15 is not installed (./test installs it)");
        ::umask(022); // a Debian root's: what it makes, the server may read
        ThrowawayClassServer server;
        server.startBare();
        if (QTest::currentTestFailed())
            return;
        QVERIFY(server.stop());
        QTemporaryDir computer; // its /etc and its accounts' homes
        QVERIFY(QFile::setPermissions(computer.path(), QFile::ReadOwner | QFile::WriteOwner |
                                                           QFile::ExeOwner | QFile::ExeOther));
        m_etc = computer.filePath(u"etc/postgresql-common"_s);
        const QString certificates = server.m_dir.filePath(u"ecole"_s);
        const QString owner =
            ::geteuid() == 0 ? u"65534:65534"_s : u"%1:%2"_s.arg(::getuid()).arg(::getgid());
        const auto example = [&](const QString &after) {
            return block(after)
                .replace(u"serveur.ecole.example"_s, u"localhost"_s)
                .replace(u"/etc/postgresql/ecole"_s, certificates)
                .replace(u"/etc/postgresql-common"_s, m_etc)
                .replace(u"/usr/share/additions/"_s,
                         QStringLiteral(ADDITIONS_SOURCE_DIR) + u"/classroom/"_s)
                .replace(u"192.168.10.0/24"_s, u"127.0.0.1/32"_s)
                .replace(u"postgres:postgres"_s, owner);
        };
        const auto shell = [](const QString &script, const QProcessEnvironment &environment = {}) {
            const ToolResult run = runTool(u"sh"_s, {u"-ec"_s, script}, environment, 120000);
            if (!run.ok)
                qWarning("%s", qPrintable(run.error));
            return run;
        };

        // The server, as root: its certificates, TLS, and the rules.
        QVERIFY(shell(example(u"the school's certificate authority and the server's"_s)).ok);
        QVERIFY(add(server.data() + u"/postgresql.conf"_s,
                    example(u"at the end of `postgresql.conf`"_s)));
        QVERIFY(add(server.data() + u"/pg_hba.conf"_s,
                    example(u"before every other line of `pg_hba.conf`"_s), true));
        // Restarted on the test's own port and socket, on loopback only.
        QVERIFY(classfixture::asServer({kBin + u"pg_ctl"_s, u"-D"_s, server.data(), u"-l"_s,
                                        server.m_dir.filePath(u"log"_s), u"-w"_s, u"-o"_s,
                                        u"-c listen_addresses=127.0.0.1 -p %1 -k %2"_s.arg(
                                            server.m_port, server.m_dir.path()),
                                        u"start"_s})
                    .ok);
        // As PostgreSQL's superuser: the database and the roles, whose
        // passwords the server prints, a computer's then a teacher's.
        QProcessEnvironment superuser;
        superuser.insert(u"PATH"_s, kBin + u":"_s + qEnvironmentVariable("PATH"));
        superuser.insert(u"PGHOST"_s, server.m_dir.path());
        superuser.insert(u"PGPORT"_s, server.m_port);
        superuser.insert(u"PGUSER"_s, u"postgres"_s);
        const ToolResult made = shell(example(u"as PostgreSQL's superuser"_s), superuser);
        QVERIFY(made.ok);
        const QRegularExpression password(u"^[0-9a-f]{32}$"_s, QRegularExpression::MultilineOption);
        const QString printed = QString::fromUtf8(made.output);
        QStringList passwords;
        for (const QRegularExpressionMatch &match : password.globalMatch(printed))
            passwords << match.captured();
        QCOMPARE(passwords.size(), 2);

        // A child's computer, as root, then two of its accounts play.
        QVERIFY(shell(u"cd '%1'\n"_s.arg(certificates) +
                      example(u"the authority's certificate, copied from the server"_s))
                    .ok);
        const QString port = u"port=%1\n"_s.arg(server.m_port);
        QVERIFY(add(
            m_etc + u"/pg_service.conf"_s,
            example(u"in libpq's system file"_s).replace(u"mot-de-passe-du-poste"_s, passwords[0]) +
                port));
        for (const uint account : {65533U, 65532U}) {
            const ToolResult played =
                as(account, computer.filePath(QString::number(account)),
                   {QCoreApplication::applicationDirPath() + u"/history_probe"_s, u"1_joueur"_s,
                    u"2"_s});
            QVERIFY2(played.ok, qPrintable(played.error));
        }
        QCOMPARE(server.count(u"poste12"_s), 4);

        // The teacher, in their own files, reads them.
        const QString teacher = computer.filePath(u"teacher"_s);
        QVERIFY(as(65531, teacher, {u"sh"_s, u"-c"_s, u"cat > ~/.pg_service.conf"_s},
                   (example(u"in the teacher's `~/.pg_service.conf`"_s) + port).toUtf8())
                    .ok);
        QVERIFY(as(65531, teacher, {u"sh"_s, u"-c"_s, u"cat > ~/.pgpass && chmod 0600 ~/.pgpass"_s},
                   example(u"printed in the teacher's `~/.pgpass`"_s)
                       .replace(u"mot-de-passe-enseignant"_s, passwords[1])
                       .toUtf8())
                    .ok);
        const ToolResult read = as(65531, teacher,
                                   {kBin + u"psql"_s, u"service=additions-enseignant"_s, u"-Atc"_s,
                                    u"SELECT count(*) FROM additions.answers"_s});
        QVERIFY2(read.ok, qPrintable(read.error));
        QCOMPARE(read.output.trimmed(), "4"_ba);
    }

private:
    // The first indented block after the words `after` (wrapped anywhere) in
    // the README's class part, unindented.
    static QString block(const QString &after)
    {
        QFile readme(QStringLiteral(ADDITIONS_SOURCE_DIR) + u"/README.md"_s);
        if (!readme.open(QIODevice::ReadOnly | QIODevice::Text))
            return {};
        QString text = QString::fromUtf8(readme.readAll());
        text = text.mid(text.indexOf(u"## A class on the school's server"_s));
        text = text.left(text.indexOf(u"\n## "_s));
        QStringList words = after.split(u' ');
        for (QString &word : words)
            word = QRegularExpression::escape(word);
        const qsizetype at = text.indexOf(QRegularExpression(words.join(u"\\s+"_s)));
        QStringList lines;
        for (const QString &line : text.mid(at < 0 ? text.size() : at).split(u'\n').mid(1)) {
            if (line.startsWith(u"    "_s))
                lines << line.mid(4);
            else if (!lines.isEmpty())
                break;
        }
        if (lines.isEmpty())
            qWarning("README: no block after \"%s\"", qPrintable(after));
        return lines.join(u'\n') + u'\n';
    }

    // The text added at the end of the file, or before its first line.
    static bool add(const QString &file, const QString &text, bool first = false)
    {
        QFile out(file);
        const QByteArray before = out.open(QIODevice::ReadOnly) ? out.readAll() : QByteArray();
        out.close();
        return out.open(QIODevice::WriteOnly) &&
               out.write(first ? text.toUtf8() + before : before + text.toUtf8()) > 0;
    }

    // A command as one account of the computer with a home of its own, empty
    // at first: a user of its own when the test is root.
    ToolResult as(uint account, const QString &home, QStringList command,
                  const QByteArray &input = {})
    {
        QDir().mkpath(home);
        QProcessEnvironment environment;
        environment.insert(u"HOME"_s, home);
        environment.insert(u"XDG_DATA_HOME"_s, home + u"/.local/share"_s);
        environment.insert(u"PGSYSCONFDIR"_s, m_etc);
        if (::geteuid() == 0) {
            if (::chown(QFile::encodeName(home).constData(), account, account) != 0)
                return {};
            command = QStringList{u"setpriv"_s, u"--reuid=%1"_s.arg(account),
                                  u"--regid=%1"_s.arg(account), u"--clear-groups"_s} +
                      command;
        }
        return runTool(command.first(), command.mid(1), environment, 30000, input);
    }

    QString m_etc;
};

QTEST_GUILESS_MAIN(TestClassSetup)
#include "tst_class_setup.moc"
