// SPDX-License-Identifier: GPL-3.0-or-later
#include "x_tools.h"

#include <QDeadlineTimer>
#include <QStandardPaths>
#include <QThread>

#include <cstdlib>
#include <cstring>
#include <xcb/xcb.h>

using namespace Qt::StringLiterals;

bool waitUntil(const std::function<bool()> &condition, int timeoutMs, int intervalMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(static_cast<unsigned long>(intervalMs));
    }
    return true;
}

QString missingTools()
{
    QStringList missing;
    for (const QString &tool : {u"xprop"_s, u"xdotool"_s, u"xclip"_s, u"xwd"_s, u"convert"_s})
        if (QStandardPaths::findExecutable(tool).isEmpty())
            missing << tool;
    return missing.join(u' ');
}

bool sendDeleteWindow(quint32 window)
{
    xcb_connection_t *connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        return false;
    }
    const auto atom = [connection](const char *name) {
        const auto cookie =
            xcb_intern_atom(connection, 0, static_cast<uint16_t>(std::strlen(name)), name);
        xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(connection, cookie, nullptr);
        const xcb_atom_t value = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
        std::free(reply);
        return value;
    };
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = atom("WM_PROTOCOLS");
    event.data.data32[0] = atom("WM_DELETE_WINDOW");
    event.data.data32[1] = XCB_CURRENT_TIME;
    xcb_send_event(connection, 0, window, XCB_EVENT_MASK_NO_EVENT,
                   reinterpret_cast<const char *>(&event));
    // A round trip, so the server has delivered the message before we leave.
    std::free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
    xcb_disconnect(connection);
    return true;
}
