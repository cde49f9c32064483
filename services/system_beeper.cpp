// SPDX-License-Identifier: GPL-3.0-or-later
#include "services/system_beeper.h"

#include <QApplication>
#include <QMetaObject>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#if ADDITIONS_HAVE_CANBERRA
#include <canberra.h>
#endif

namespace {

using namespace std::chrono_literals;

// A pause after each beep: three beeps with none merge into one sound, and a
// wrong answer would sound like a right one.
constexpr auto kGapBetweenBeeps = 150ms;
// No bell sound lasts longer; past this the next beep goes ahead anyway.
constexpr auto kLongestBell = 3s;
// How long a closing window lets the sound that is playing finish.
constexpr auto kLongestWaitAtClose = 300ms;

void toolkitBeep()
{
    // QApplication::beep() belongs to the thread that runs the window.
    if (auto *app = QCoreApplication::instance())
        QMetaObject::invokeMethod(
            app, [] { QApplication::beep(); }, Qt::QueuedConnection);
}

#if ADDITIONS_HAVE_CANBERRA
// The desktop's sound server through libcanberra. Opened before the first
// beep: a context opened by its first play loses that sound.
class CanberraBell
{
public:
    CanberraBell()
    {
        // PulseAudio (or PipeWire's PulseAudio service) first, then whatever
        // libcanberra finds.
        for (const char *driver : {"pulse", static_cast<const char *>(nullptr)}) {
            if (ca_context_create(&m_context) != CA_SUCCESS)
                return;
            if ((!driver || ca_context_set_driver(m_context, driver) == CA_SUCCESS) &&
                ca_context_open(m_context) == CA_SUCCESS)
                return;
            ca_context_destroy(m_context);
            m_context = nullptr;
        }
    }
    ~CanberraBell()
    {
        if (m_context)
            ca_context_destroy(m_context);
    }
    CanberraBell(const CanberraBell &) = delete;
    CanberraBell &operator=(const CanberraBell &) = delete;

    // Plays the bell and waits until it has finished; false when it could not play.
    bool ring()
    {
        if (!m_context)
            return false;
        ca_proplist *properties = nullptr;
        if (ca_proplist_create(&properties) != CA_SUCCESS)
            return false;
        ca_proplist_sets(properties, CA_PROP_EVENT_ID, "bell");
        ca_proplist_sets(properties, CA_PROP_EVENT_DESCRIPTION, "Additions");
        {
            std::lock_guard lock(m_mutex);
            m_playing = true;
        }
        const int played =
            ca_context_play_full(m_context, 1, properties, &CanberraBell::finished, this);
        ca_proplist_destroy(properties);
        if (played != CA_SUCCESS)
            return false;
        std::unique_lock lock(m_mutex);
        m_finished.wait_for(lock, kLongestBell, [this] { return !m_playing; });
        return true;
    }

private:
    static void finished(ca_context *, uint32_t, int, void *self)
    {
        auto *bell = static_cast<CanberraBell *>(self);
        {
            std::lock_guard lock(bell->m_mutex);
            bell->m_playing = false;
        }
        bell->m_finished.notify_all();
    }

    ca_context *m_context = nullptr;
    std::mutex m_mutex;
    std::condition_variable m_finished;
    bool m_playing = false;
};
#endif

} // namespace

// Beeps play on a thread of their own: a click must never wait for a sound
// server. The thread shares the queue's state, so that a thread stuck in a
// sound server that does not answer can be left behind when the window
// closes: closing never waits for a sound.
class SystemBeeper::Player
{
public:
    Player() : m_state(std::make_shared<State>())
    {
        m_thread = std::thread([state = m_state] { run(*state); });
    }
    ~Player()
    {
        std::unique_lock lock(m_state->mutex);
        m_state->stopping = true;
        m_state->changed.notify_all();
        if (m_state->changed.wait_for(lock, kLongestWaitAtClose,
                                      [this] { return m_state->done; })) {
            lock.unlock();
            m_thread.join();
        } else {
            m_thread.detach();
        }
    }
    void queue()
    {
        {
            std::lock_guard lock(m_state->mutex);
            ++m_state->waiting;
        }
        m_state->changed.notify_all();
    }

private:
    struct State
    {
        std::mutex mutex;
        std::condition_variable changed;
        int waiting = 0;
        bool stopping = false;
        bool done = false;
    };

    static void run(State &state)
    {
#if ADDITIONS_HAVE_CANBERRA
        CanberraBell bell;
#endif
        std::unique_lock lock(state.mutex);
        while (!state.stopping) {
            state.changed.wait(lock, [&] { return state.stopping || state.waiting > 0; });
            if (state.stopping)
                break;
            --state.waiting;
            lock.unlock();
#if ADDITIONS_HAVE_CANBERRA
            if (!bell.ring())
                toolkitBeep();
#else
            toolkitBeep();
#endif
            lock.lock();
            state.changed.wait_for(lock, kGapBetweenBeeps, [&] { return state.stopping; });
        }
        state.done = true;
        state.changed.notify_all();
    }

    std::shared_ptr<State> m_state;
    std::thread m_thread;
};

SystemBeeper::SystemBeeper() = default;

SystemBeeper::~SystemBeeper() = default;

void SystemBeeper::beep()
{
    // The player, its thread and its sound server connection wait for the
    // first beep: the window's first frame needs none of them.
    if (!m_player)
        m_player = std::make_unique<Player>();
    m_player->queue();
}
