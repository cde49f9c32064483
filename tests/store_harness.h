// Additions - a game for practising addition. GPL-3.0-or-later.
// What the store tests share: copies of the game's store in other processes
// (the score store probe), and the bytes of the files they leave.
#pragma once

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

// A settings folder of its own per case, on tmpfs where the machine has one:
// there saves are fastest, and races show most.
inline std::unique_ptr<QTemporaryDir> freshConfig()
{
    const QString base =
        QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm") : QDir::tempPath();
    return std::make_unique<QTemporaryDir>(base + QStringLiteral("/additions-store-XXXXXX"));
}

// The score store in another process, on the given configuration folder.
class Probe
{
public:
    // A user id other than -1 runs the probe as that user, through setpriv.
    Probe(const QString &config, const QStringList &arguments,
          const QProcessEnvironment &extra = QProcessEnvironment(), int user = -1)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), config);
        for (const QString &name : extra.keys())
            environment.insert(name, extra.value(name));
        m_process.setProcessEnvironment(environment);
        const QString probe =
            QCoreApplication::applicationDirPath() + QStringLiteral("/score_store_probe");
        const QString id = QString::number(user);
        if (user == -1)
            m_process.start(probe, arguments);
        else
            m_process.start(QStringLiteral("setpriv"),
                            QStringList{QStringLiteral("--reuid=") + id,
                                        QStringLiteral("--regid=") + id,
                                        QStringLiteral("--clear-groups"), probe} +
                                arguments);
    }
    ~Probe()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished();
        }
    }
    bool succeeded(int timeoutMs = 60000)
    {
        return m_process.waitForFinished(timeoutMs) &&
               m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 0;
    }
    QString output() { return QString::fromUtf8(m_process.readAllStandardOutput()); }
    QProcess &process() { return m_process; }

private:
    QProcess m_process;
};

// What another run of the game reads under the key: the score, "<none>", or
// a note that the read failed.
inline QString readKey(const QString &config, const QString &key)
{
    Probe probe(config, {QStringLiteral("read"), key});
    return probe.succeeded() ? probe.output() : QStringLiteral("<read failed>");
}

inline QByteArray fileContents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline void writeFile(const QString &path, const QByteArray &contents)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(contents), contents.size());
}
