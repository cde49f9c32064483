// SPDX-License-Identifier: GPL-3.0-or-later
#include "services/system_beeper.h"

#include <QApplication>
#include <QMetaObject>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

#if ADDITIONS_HAVE_CANBERRA
#include <canberra.h>
#include <dlfcn.h>
#endif

namespace {

using namespace std::chrono_literals;

// A pause after each beep: three beeps with none merge into one sound, and a
// wrong answer would sound like a right one.
constexpr auto kGapBetweenBeeps = 150ms;
// No bell sound lasts longer; past this the next beep goes ahead anyway.
constexpr auto kLongestBell = 3s;
// How long a closing window waits for the sound thread to end.
constexpr auto kLongestWaitAtClose = 300ms;

void toolkitBeep()
{
    // QApplication::beep() belongs to the thread that runs the window.
    if (auto *app = QCoreApplication::instance())
        QMetaObject::invokeMethod(
            app, [] { QApplication::beep(); }, Qt::QueuedConnection);
}

// What the sound thread waits on (a bell playing, the gap after it), cut
// short when the window closes: the thread then ends within the close's
// wait, before the program's own end.
class Pause
{
public:
    // Waits up to `limit`, until `over()` holds or the window closes.
    template <typename Duration, typename Over> void wait(Duration limit, Over over)
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait_for(lock, limit, [&] { return m_closing || over(); });
    }
    // Makes `change` under the lock, then wakes the waiting thread.
    template <typename Change> void notify(Change change)
    {
        {
            std::lock_guard lock(m_mutex);
            change();
        }
        m_changed.notify_all();
    }
    void close()
    {
        notify([this] { m_closing = true; });
    }
    bool closing()
    {
        std::lock_guard lock(m_mutex);
        return m_closing;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_closing = false;
};

#if ADDITIONS_HAVE_CANBERRA
// libcanberra's calls, loaded by the sound thread rather than linked: its
// seven libraries would otherwise be loaded and relocated before the window
// shows (a fifth of what the game adds to the start of a bare window).
struct Canberra
{
    template <typename Function> static Function *find(void *library, const char *name)
    {
        return library ? reinterpret_cast<Function *>(::dlsym(library, name)) : nullptr;
    }
    explicit Canberra(void *library)
        : create(find<decltype(ca_context_create)>(library, "ca_context_create")),
          setDriver(find<decltype(ca_context_set_driver)>(library, "ca_context_set_driver")),
          open(find<decltype(ca_context_open)>(library, "ca_context_open")),
          destroy(find<decltype(ca_context_destroy)>(library, "ca_context_destroy")),
          play(find<decltype(ca_context_play_full)>(library, "ca_context_play_full")),
          newProperties(find<decltype(ca_proplist_create)>(library, "ca_proplist_create")),
          setProperty(find<decltype(ca_proplist_sets)>(library, "ca_proplist_sets")),
          freeProperties(find<decltype(ca_proplist_destroy)>(library, "ca_proplist_destroy"))
    {}
    bool complete() const
    {
        return create && setDriver && open && destroy && play && newProperties && setProperty &&
               freeProperties;
    }

    decltype(ca_context_create) *create;
    decltype(ca_context_set_driver) *setDriver;
    decltype(ca_context_open) *open;
    decltype(ca_context_destroy) *destroy;
    decltype(ca_context_play_full) *play;
    decltype(ca_proplist_create) *newProperties;
    decltype(ca_proplist_sets) *setProperty;
    decltype(ca_proplist_destroy) *freeProperties;
};

// The desktop's sound server through libcanberra. Opened before the first
// beep: a context opened by its first play loses that sound.
class CanberraBell
{
public:
    explicit CanberraBell(Pause &pause)
        : m_pause(pause), m_library(::dlopen("libcanberra.so.0", RTLD_NOW | RTLD_LOCAL)),
          ca(m_library)
    {
        if (!ca.complete())
            return;
        // PulseAudio (or PipeWire's PulseAudio service) first, then whatever
        // libcanberra finds.
        for (const char *driver : {"pulse", static_cast<const char *>(nullptr)}) {
            if (ca.create(&m_context) != CA_SUCCESS)
                return;
            if ((!driver || ca.setDriver(m_context, driver) == CA_SUCCESS) &&
                ca.open(m_context) == CA_SUCCESS)
                return;
            ca.destroy(m_context);
            m_context = nullptr;
        }
    }
    ~CanberraBell()
    {
        if (m_context)
            ca.destroy(m_context);
        // The library stays loaded: its sound server threads may outlive us.
    }
    CanberraBell(const CanberraBell &) = delete;
    CanberraBell &operator=(const CanberraBell &) = delete;

    // Plays the bell and waits until it has finished; false when it could not play.
    bool ring()
    {
        if (!m_context)
            return false;
        ca_proplist *properties = nullptr;
        if (ca.newProperties(&properties) != CA_SUCCESS)
            return false;
        ca.setProperty(properties, CA_PROP_EVENT_ID, "bell");
        ca.setProperty(properties, CA_PROP_EVENT_DESCRIPTION, "Additions");
        m_pause.notify([this] { m_playing = true; });
        const int played = ca.play(m_context, 1, properties, &CanberraBell::finished, this);
        ca.freeProperties(properties);
        if (played != CA_SUCCESS)
            return false;
        m_pause.wait(kLongestBell, [this] { return !m_playing; });
        return true;
    }

private:
    static void finished(ca_context *, uint32_t, int, void *self)
    {
        auto *bell = static_cast<CanberraBell *>(self);
        bell->m_pause.notify([bell] { bell->m_playing = false; });
    }

    Pause &m_pause;
    void *m_library;
    Canberra ca;
    ca_context *m_context = nullptr;
    bool m_playing = false; // under the pause's lock
};
#endif

} // namespace

// Beeps play on a thread of their own: a click must never wait for a sound
// server. The bell is opened there at the first beep.
class SystemBeeper::Player final : public QObject
{
public:
    void ring()
    {
        if (m_pause.closing())
            return;
#if ADDITIONS_HAVE_CANBERRA
        if (!m_bell)
            m_bell = std::make_unique<CanberraBell>(m_pause);
        if (!m_bell->ring())
            toolkitBeep();
#else
        toolkitBeep();
#endif
        m_pause.wait(kGapBetweenBeeps, [] { return false; });
    }
    // From the window's thread: the sound under way stops waiting.
    void close()
    {
        m_pause.close();
    }

private:
    Pause m_pause;
#if ADDITIONS_HAVE_CANBERRA
    std::unique_ptr<CanberraBell> m_bell;
#endif
};

SystemBeeper::SystemBeeper()
    : m_player(new Player), m_thread(std::make_unique<WorkerThread>(m_player))
{}

SystemBeeper::~SystemBeeper()
{
    // Closing cuts the sound under way short and drops the ones waiting: a
    // thread left running past the program's end could crash it. A sound
    // server that does not answer is not waited for.
    m_player->close();
    m_thread->stop(kLongestWaitAtClose);
}

void SystemBeeper::beep()
{
    m_thread->post([player = m_player] { player->ring(); });
}
