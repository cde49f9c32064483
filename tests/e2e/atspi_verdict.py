#!/usr/bin/python3
# Additions - a game for practising addition. GPL-3.0-or-later.
# What a screen reader gets from the game, over the AT-SPI bus: the window
# as a frame with its title, French names in the tree, and the verdict of a
# typed answer as an event. Run on a private X server and session bus:
#   scripts/x-session dbus-run-session -- atspi_verdict.py GAME
import os
import subprocess
import sys
import tempfile
import time

import pyatspi
from gi.repository import GLib

APP = "fr.atelier_additions.Additions"


def fail(message):
    print("FAIL: " + message, file=sys.stderr)
    sys.exit(1)


def find(node, predicate):
    if predicate(node):
        return node
    for child in node:
        found = child and find(child, predicate)
        if found:
            return found
    return None


def named(root, name):
    found = find(root, lambda node: node.name == name)
    if not found:
        fail("no accessible named " + name)
    return found


def main():
    bus = subprocess.Popen(["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"])
    config = tempfile.mkdtemp()
    game = None
    try:
        runtime = tempfile.mkdtemp()
        env = dict(os.environ, XDG_CONFIG_HOME=config, XDG_RUNTIME_DIR=runtime,
                   QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1")
        game = subprocess.Popen([sys.argv[1]], env=env)
        app = None
        for _ in range(100):
            desktop = pyatspi.Registry.getDesktop(0)
            app = next((a for a in desktop if a and a.name == APP), None)
            if app and app.childCount:
                break
            time.sleep(0.1)
        if not app or not app.childCount:
            fail("the game never showed up on the AT-SPI bus")

        window = app[0]
        if window.getRole() not in (pyatspi.ROLE_FRAME, pyatspi.ROLE_WINDOW):
            fail("the window's role is " + window.getRoleName())
        if window.name != "Form1":
            fail("the window's name is " + window.name)
        for name in ("joueur 1", "remettre le score à zéro", "nombre de parties réussies",
                     "ta réponse", "bonne réponse"):
            named(window, name)
        first, second = named(window, "premier nombre"), named(window, "second nombre")

        heard = []
        # Qt sends the object, not the new text, with the event.
        pyatspi.Registry.registerEventListener(
            lambda event: heard.append((event.source.name, event.source.description)),
            "object:property-change:accessible-description")
        named(window, "moins de 50").queryAction().doAction(0)
        GLib.timeout_add(300, pyatspi.Registry.stop)
        pyatspi.Registry.start()
        addends = [int(box.queryText().getText(0, -1)) for box in (first, second)]
        answer = str(sum(addends))
        xid = subprocess.check_output(["xdotool", "search", "--onlyvisible", "--name", "^Form1$"],
                                      text=True).split()[0]
        subprocess.check_call(["xdotool", "windowfocus", "--sync", xid])
        subprocess.check_call(["xdotool", "type", "--delay", "20", answer])
        subprocess.check_call(["xdotool", "key", "--delay", "50", "Tab", "Tab", "Tab", "space"])

        expected = "Juste ! %d + %d = %s. Score : 1." % (addends[0], addends[1], answer)
        deadline = time.monotonic() + 10
        while (("bonne réponse", expected) not in heard) and time.monotonic() < deadline:
            GLib.timeout_add(200, pyatspi.Registry.stop)
            pyatspi.Registry.start()
        if ("bonne réponse", expected) not in heard:
            fail("no verdict heard; events: %r" % heard)
        print("heard: " + expected)
    finally:
        if game:
            game.terminate()
            game.wait()
        bus.terminate()


main()
