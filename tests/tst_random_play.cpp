// SPDX-License-Identifier: GPL-3.0-or-later
#include "fakes.h"
#include "quiz/handlers.h"
#include "services/conversions.h"

#include <QRandomGenerator>
#include <QTest>

#include <cmath>
#include <exception>

using namespace Qt::StringLiterals;

namespace {

// The sanitizers make every event ten times slower; a tenth of the events
// still reaches every refusal many times.
#if defined(ADDITIONS_SANITIZED)
constexpr int kEvents = 10000;
#else
constexpr int kEvents = 100000;
#endif

// The buttons a child can press: only those the window shows.
enum class Press { Level, Ok, Player, Reset, Information };

class RandomPlay
{
public:
    explicit RandomPlay(quint32 seed) : m_random(seed) { m_services.random.draws.clear(); }

    // One event: a press on a visible button, or a text typed into a field.
    // Returns what it did, for the failure message.
    QString step()
    {
        if (m_random.bounded(3) == 0)
            return typeSomething();
        m_services.store.failSaves = m_random.bounded(50) == 0;
        m_services.store.failReads = m_random.bounded(50) == 0;
        m_services.random.draws = {randomDraw(), randomDraw()};
        const bool problemOpen = m_window.isVisible(Toggled::Command2);
        switch (m_random.bounded(5)) {
        case 0: {
            if (problemOpen)
                break;
            const Level &level = pick(kLevels);
            quiz::levelClicked(m_window, m_services.bundle(), level);
            return u"level %1"_s.arg(level.bound);
        }
        case 1:
            if (!problemOpen)
                break;
            m_lastOk = true;
            quiz::okClicked(m_window, m_services.bundle());
            return u"OK"_s;
        case 2: {
            const Player &player = pick(kPlayers);
            quiz::playerClicked(m_window, player);
            return u"player "_s + player.key;
        }
        case 3:
            quiz::resetClicked(m_window, m_services.bundle());
            return u"reset"_s;
        case 4:
            quiz::informationClicked(m_window);
            return u"information"_s;
        }
        return u"(no visible button there)"_s;
    }

    // The rules that must hold after every event; empty when they do.
    QString brokenRule()
    {
        const bool levels = m_window.levelsVisible();
        const bool noLevels = m_window.levelsHidden();
        const bool ok = m_window.isVisible(Toggled::Command2);
        const bool green = m_window.background(Painted::Text7) == STAKE_GREEN;
        const bool open = noLevels && ok && green;
        const bool closed = levels && !ok && m_window.background(Painted::Text7) == kWhite;
        if (open == closed)
            return u"neither or both of problem open / no problem open"_s;
        if (levels && ok)
            return u"level buttons and OK shown together"_s;
        for (auto it = m_services.store.values.cbegin(); it != m_services.store.values.cend();
             ++it) {
            const std::optional<std::int16_t> score = conversions::strictShort(it.value());
            if (!score || conversions::shortToText(*score) != it.value())
                return u"stored value '%1' under '%2' is not a whole short"_s.arg(it.value(),
                                                                                  it.key());
        }
        if (m_lastOk) {
            m_lastOk = false;
            const QString key = m_window.text(Field::Text1);
            const bool known =
                std::find(kKnownKeys.begin(), kKnownKeys.end(), key) != kKnownKeys.end();
            const bool answered = !m_window.isVisible(Toggled::Command2);
            if (known && answered && !m_services.store.failSaves &&
                m_services.store.values.value(key) != m_window.text(Field::Text6))
                return u"after OK the window shows '%1' but '%2' is stored"_s.arg(
                    m_window.text(Field::Text6), m_services.store.values.value(key));
        }
        return {};
    }

    int refusals() const { return int(m_services.messenger.messages.size()); }

private:
    QString typeSomething()
    {
        const auto field = static_cast<Field>(m_random.bounded(7));
        QString text;
        switch (m_random.bounded(12)) {
        case 0:
            text = QString();
            break;
        case 1:
            text = QString::number(m_random.bounded(-40000, 40000));
            break;
        case 2:
            text = u"%1.%2"_s.arg(m_random.bounded(-100, 100)).arg(m_random.bounded(100));
            break;
        case 3:
            text = QString(m_random.bounded(1, 500), u'9');
            break;
        case 4:
            text = u"-"_s + QString(m_random.bounded(300, 400), u'9');
            break;
        case 5:
            text = u"Zoé 日本 ☺"_s;
            break;
        case 6:
            text = pick(kKnownKeys);
            break;
        case 7:
            text = u" 42 "_s;
            break;
        case 8:
            text = u"1e308"_s;
            break;
        case 9: { // the right answer, so right answers happen too
            const double sum = conversions::lenientValue(m_window.text(Field::Text2)).value_or(0) +
                               conversions::lenientValue(m_window.text(Field::Text3)).value_or(0);
            // Two typed near-limit numbers can add up past the largest double.
            text = std::isfinite(sum) ? conversions::numberToText(sum) : u"1e309"_s;
            break;
        }
        case 10:
            text = u"32767"_s;
            break;
        default:
            for (int i = m_random.bounded(30); i > 0; --i)
                text += QChar(char16_t(m_random.bounded(1, 0xD7FF)));
        }
        m_window.setText(field, text);
        return u"typed '%1' into Text%2"_s.arg(text.left(40)).arg(int(field) + 1);
    }

    template <typename T, std::size_t N> const T &pick(const std::array<T, N> &table)
    {
        return table[static_cast<std::size_t>(m_random.bounded(int(N)))];
    }

    float randomDraw() { return static_cast<float>(m_random.bounded(16777216)) / 16777216.0f; }

    QRandomGenerator m_random;
    FakeWindow m_window;
    FakeServices m_services;
    bool m_lastOk = false;
};

} // namespace

// A long random game: arbitrary presses and texts, the rules checked after
// each event. Set ADDITIONS_SEED to replay a failing run.
class TestRandomPlay : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void rulesHoldThroughALongRandomGame()
    {
        const quint32 seed = qEnvironmentVariableIsSet("ADDITIONS_SEED")
                                 ? qEnvironmentVariable("ADDITIONS_SEED").toUInt()
                                 : QRandomGenerator::global()->generate();
        RandomPlay play(seed);
        for (int event = 0; event < kEvents; ++event) {
            QString what;
            try {
                what = play.step();
            } catch (const std::exception &e) {
                QFAIL(qPrintable(u"seed %1, event %2: exception %3"_s.arg(seed).arg(event).arg(
                    QString::fromLocal8Bit(e.what()))));
            }
            const QString broken = play.brokenRule();
            QVERIFY2(broken.isEmpty(), qPrintable(u"seed %1 (ADDITIONS_SEED=%1 replays it), "
                                                  u"event %2 (%3): %4"_s.arg(seed)
                                                      .arg(event)
                                                      .arg(what, broken)));
        }
        qInfo("seed %u: %d random events played, %d refused with a message", seed, kEvents,
              play.refusals());
    }
};

QTEST_GUILESS_MAIN(TestRandomPlay)
#include "tst_random_play.moc"
