// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDateTime>
#include <QList>
#include <QString>

class QProcess;

#include <chrono>
#include <utility>

// A class hosted on its teacher's own computer: a PostgreSQL 15 cluster of
// the program's own, in the teacher's data folder, made with Debian's
// binaries; an authority of its own signs the server's certificate for this
// computer's names and addresses, its key never leaving the folder. It
// listens for the room's private networks only, over TLS, on a port of its
// own, and the teacher reaches it through its socket (over loopback on
// Windows). Every step blocks:
// never on the window's thread.
class ClassHost
{
public:
    // Not PostgreSQL's usual 5432, where a system server may listen. Each
    // account of a computer starts from a port of its own, kPort for the
    // first, so that a class stopped keeps its port from another's; the
    // next free one where a program has it.
    static constexpr int kPort = 5478;
    static int accountsPort();
    static constexpr int kLongestName = 100;

    explicit ClassHost(const QString &folder = defaultFolder());
    static QString defaultFolder();

    // Whether a class was made here, damaged or not.
    bool exists() const;
    // Makes the cluster, the class and its teacher (this account), starts
    // it, and writes the teacher's service. Refuses where a class exists:
    // one is never made again over another's answers.
    bool create(const QString &className);
    // Starts the server, with a certificate for this computer's names and
    // addresses as they are now; true when it runs already.
    bool start();
    bool stop();
    // Whether the server takes connections now.
    bool running() const;
    // A new code for the room's computers to join with, valid for `valid`,
    // as the teacher reads it out ("ACDE-FGHJ-KMNP"); empty when it could
    // not be set. The code before it is refused from then on.
    QString openJoining(std::chrono::minutes valid);
    bool closeJoining();
    // Sets the joining role's password and settings back to the code open,
    // or to none, as a holder of the code may have changed them.
    bool keepJoiningAsSet();
    // The code open now, as openJoining() gave it, and until when; empty
    // when none is.
    std::pair<QString, QDateTime> joining() const;
    // What the room's computers type to reach this one: its ".local" name
    // where the network publishes it (Avahi), else its address there, with
    // the port where it is not the usual one.
    QString address() const;
    // Of this computer's (interface, address) pairs, the IPv4 address the
    // room reaches: on the interface of the default route, `routeInterface`,
    // where it has one, for a container's bridge or a VPN is often on a
    // private network too; else the first not on loopback; else none.
    static QString roomAddress(const QList<std::pair<QString, QString>> &addresses,
                               const QString &routeInterface);
    int port() const;
    // How many times a wrong or outdated code was tried since the last
    // code was given, from the server's log.
    int wrongCodes() const;
    struct Computer
    {
        QString role;
        QDateTime lastAnswer; // invalid before its first
    };
    // The computers of the class, as they joined; empty with problem() set
    // when the server did not answer.
    QList<Computer> computers();
    // The computer may no longer send; its answers stay, until erased.
    bool remove(const QString &role);
    // Why the last step failed, in one French sentence.
    QString problem() const { return m_problem; }

private:
    bool run(const QString &program, const QStringList &arguments, const QByteArray &input = {},
             QByteArray *output = nullptr);
    // psql's arguments to reach the server as its own role.
    QStringList psqlArguments(const QString &database) const;
    bool psql(const QByteArray &input, QByteArray *output = nullptr);
    // This class's server process runs (pg_ctl's status of its folder).
    bool serverRuns() const;
    // It answers where the room and the teacher reach it.
    bool reached() const;
    // A program's folder and environment: relative paths, none of the
    // account's PostgreSQL settings, and what each program needs. False
    // when the server's password, which psql needs on Windows, is missing.
    bool prepare(QProcess &process, const QString &program) const;
    // Whether a check of the server's state says yes.
    bool says(const QString &program, const QStringList &arguments) const;
    // Why a server that runs is not reached: another program on its port.
    QString portTaken() const;
    bool makeClass(const QString &className);
    QString socketFolder() const;
    // Where psql and the teacher reach the server: its socket's folder, or
    // loopback where there are no sockets to keep to this account.
    QString serverHost() const;
    // A small file of the class's folder, kept for this account alone.
    QByteArray readOwnFile(const QString &name) const;
    bool writeOwnFile(const QString &name, const QByteArray &content);
    bool certify();
    QString log() const;
    bool failed(const QString &sentence);

    QString m_folder;
    QString m_problem;
};
