// SPDX-License-Identifier: GPL-3.0-or-later
// Starts a program on the current X display and reports, in milliseconds
// from exec, when its window was first mapped (MapNotify) and first drawn
// (the first DamageNotify), then its resident memory a while later:
//   startup_timer [--rss-after MS] PROGRAM
// prints "map_ms paint_ms rss_kib" and stops the program.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <xcb/damage.h>
#include <xcb/xcb.h>

namespace {

using Clock = std::chrono::steady_clock;

double millisecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

long residentKib(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            return std::strtol(line.c_str() + 6, nullptr, 10);
    return -1;
}

} // namespace

int main(int argc, char *argv[])
{
    int rssAfterMs = 0;
    int first = 1;
    if (argc > 3 && std::strcmp(argv[1], "--rss-after") == 0) {
        rssAfterMs = std::atoi(argv[2]);
        first = 3;
    }
    if (first >= argc) {
        std::fprintf(stderr, "usage: startup_timer [--rss-after MS] PROGRAM\n");
        return 2;
    }
    xcb_connection_t *connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection)) {
        std::fprintf(stderr, "no X display\n");
        return 2;
    }
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(connection, root, XCB_CW_EVENT_MASK, &mask);
    xcb_damage_query_version_reply_t *version = xcb_damage_query_version_reply(
        connection, xcb_damage_query_version(connection, 1, 1), nullptr);
    std::free(version);
    const uint8_t damageEvent = xcb_get_extension_data(connection, &xcb_damage_id)->first_event;
    xcb_flush(connection);

    const Clock::time_point start = Clock::now();
    const pid_t child = fork();
    if (child == 0) {
        execv(argv[first], argv + first);
        _exit(127);
    }
    double mapped = -1, painted = -1;
    while (painted < 0) {
        xcb_generic_event_t *event = xcb_wait_for_event(connection);
        if (!event)
            break;
        const uint8_t type = event->response_type & 0x7F;
        if (type == XCB_MAP_NOTIFY && mapped < 0) {
            mapped = millisecondsSince(start);
            const auto *map = reinterpret_cast<xcb_map_notify_event_t *>(event);
            xcb_damage_create(connection, xcb_generate_id(connection), map->window,
                              XCB_DAMAGE_REPORT_LEVEL_NON_EMPTY);
            xcb_flush(connection);
        } else if (type == damageEvent + XCB_DAMAGE_NOTIFY) {
            painted = millisecondsSince(start);
        }
        std::free(event);
    }
    if (rssAfterMs > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(rssAfterMs));
    const long rss = residentKib(child);
    kill(child, SIGTERM);
    waitpid(child, nullptr, 0);
    xcb_disconnect(connection);
    std::printf("%.2f %.2f %ld\n", mapped, painted, rss);
    return mapped < 0 || painted < 0 ? 1 : 0;
}
