// SPDX-License-Identifier: GPL-3.0-or-later
#include "game_driver.h"
#include "x_tools.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtEndian>
#include <QTest>

#include <csignal>
#include <cstdlib>

using namespace Qt::StringLiterals;

namespace {

// Counts the sounds in a 16-bit PCM WAV recording: runs of 10 ms frames
// louder than a tenth of the loudest, apart when 50 ms of quiet separate them.
int countBursts(const QByteArray &wav)
{
    const qsizetype data = wav.indexOf("data");
    if (!wav.startsWith("RIFF") || data < 0 || wav.size() < 44)
        return -1;
    const int channels = qFromLittleEndian<quint16>(wav.constData() + 22);
    const int rate = static_cast<int>(qFromLittleEndian<quint32>(wav.constData() + 24));
    const auto *samples = reinterpret_cast<const qint16 *>(wav.constData() + data + 8);
    const qsizetype count = (wav.size() - data - 8) / 2;
    const qsizetype frame = qsizetype(rate / 100) * channels;
    QList<int> envelope;
    for (qsizetype start = 0; start + frame <= count; start += frame) {
        int loudest = 0;
        for (qsizetype i = start; i < start + frame; ++i)
            loudest = std::max(loudest, std::abs(int(samples[i])));
        envelope << loudest;
    }
    const int peak = envelope.isEmpty() ? 0 : *std::max_element(envelope.cbegin(), envelope.cend());
    if (peak < 300)
        return 0;
    int bursts = 0, quiet = 5;
    for (int level : envelope) {
        if (level > peak / 10) {
            if (quiet >= 5)
                ++bursts;
            quiet = 0;
        } else {
            ++quiet;
        }
    }
    return bursts;
}

// The recorder writes 16-bit mono at this rate after the WAV header, so the
// file's size says how much it has heard, however late a loaded machine
// started it.
constexpr int kRecordingRate = 48000;

qint64 recordedMs(const QString &wav)
{
    return std::max<qint64>(0, QFileInfo(wav).size() - 44) / (kRecordingRate / 1000 * 2);
}

} // namespace

// What the child hears: the game on a private X server, playing into a
// private PulseAudio server whose only output is recorded.
class TestSound : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QString missing = missingTools();
        for (const QString &tool : {u"pulseaudio"_s, u"pactl"_s, u"parecord"_s})
            if (QStandardPaths::findExecutable(tool).isEmpty())
                missing += u' ' + tool;
        if (!missing.trimmed().isEmpty())
            QSKIP(qPrintable(u"no sound server to record from: missing "_s + missing));
        QVERIFY(m_runtime.isValid());
        QFile::setPermissions(m_runtime.path(),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        m_environment = QProcessEnvironment::systemEnvironment();
        m_environment.insert(u"XDG_RUNTIME_DIR"_s, m_runtime.path());
        m_environment.insert(u"HOME"_s, m_runtime.path());
        const ToolResult server = runTool(u"pulseaudio"_s,
                                          {u"-n"_s, u"--daemonize=yes"_s, u"--exit-idle-time=-1"_s,
                                           u"--load=module-null-sink sink_name=rec"_s,
                                           u"--load=module-native-protocol-unix"_s},
                                          m_environment, 15000);
        if (!server.ok)
            QSKIP(qPrintable(u"no sound server could start here: "_s + server.error));
        m_serverStarted = true;
        QVERIFY(waitUntil(
            [&] {
                return runTool(u"pactl"_s, {u"set-default-sink"_s, u"rec"_s}, m_environment).ok;
            },
            10000, 100));
    }

    void cleanupTestCase()
    {
        if (m_serverStarted)
            signalServer(SIGTERM);
    }

    void oneBeepForARightAnswerThreeForAWrongOne_data()
    {
        QTest::addColumn<int>("error");
        QTest::addColumn<int>("bursts");
        QTest::addRow("right") << 0 << 1;
        QTest::addRow("wrong") << 1 << 3;
    }

    void oneBeepForARightAnswerThreeForAWrongOne()
    {
        QFETCH(int, error);
        QTemporaryDir home;
        GameDriver game(home.path());
        playIntoTheRecorder(game);
        START_GAME(game);
        game.click("Command9");
        const int sum = game.read("Text2").toInt() + game.read("Text3").toInt();
        game.click("Text4");
        game.type(QString::number(sum + error));

        const QString recording = home.filePath(u"heard.wav"_s);
        QProcess recorder;
        recorder.setProcessEnvironment(m_environment);
        recorder.start(u"parecord"_s,
                       {u"--latency-msec=20"_s, u"--device=rec.monitor"_s, u"--file-format=wav"_s,
                        u"--format=s16le"_s, u"--channels=1"_s, u"--rate=%1"_s.arg(kRecordingRate),
                        recording});
        QVERIFY(recorder.waitForStarted());
        QVERIFY2(waitUntil([&] { return recordedMs(recording) >= 300; }, 15000),
                 "the recorder hears nothing");
        const qint64 clicked = recordedMs(recording);
        game.click("Command2");
        QVERIFY(waitUntil([&] { return !game.read("Text5").isEmpty(); }, 5000));
        // Three bells and their gaps take about a second.
        QVERIFY(waitUntil([&] { return recordedMs(recording) >= clicked + 1500; }, 15000));
        ::kill(static_cast<pid_t>(recorder.processId()), SIGINT);
        QVERIFY(recorder.waitForFinished(5000));

        QFile heard(recording);
        QVERIFY(heard.open(QIODevice::ReadOnly));
        QTEST(countBursts(heard.readAll()), "bursts");
    }

    // Closing the window ends the game at once, during its three beeps, and
    // with a sound server that has stopped answering.
    void closingNeverWaitsForSound_data()
    {
        QTest::addColumn<bool>("serverStopped");
        QTest::addRow("during the beeps") << false;
        QTest::addRow("sound server stopped") << true;
    }

    void closingNeverWaitsForSound()
    {
        QFETCH(bool, serverStopped);
        QTemporaryDir home;
        GameDriver game(home.path());
        playIntoTheRecorder(game);
        START_GAME(game);
        if (serverStopped)
            signalServer(SIGSTOP);
        const auto resume = qScopeGuard([&] { signalServer(SIGCONT); });
        game.click("Command9");
        game.type(u"0"_s); // a wrong answer: three beeps
        game.click("Command2");
        QElapsedTimer closing;
        closing.start();
        QVERIFY2(game.close(), "the game ends cleanly when its window is closed");
        QVERIFY2(closing.elapsed() < 2000, qPrintable(u"%1 ms"_s.arg(closing.elapsed())));
    }

private:
    // The game's sounds go to the private server.
    void playIntoTheRecorder(GameDriver &game)
    {
        game.setEnvironment(u"XDG_RUNTIME_DIR"_s, m_runtime.path());
    }

    void signalServer(int signal)
    {
        QFile pidFile(m_runtime.filePath(u"pulse/pid"_s));
        if (pidFile.open(QIODevice::ReadOnly))
            ::kill(static_cast<pid_t>(pidFile.readAll().trimmed().toInt()), signal);
    }

    QTemporaryDir m_runtime;
    QProcessEnvironment m_environment;
    bool m_serverStarted = false;
};

QTEST_GUILESS_MAIN(TestSound)
#include "tst_sound.moc"
