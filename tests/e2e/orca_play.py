#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
# What a blind child hears: the game played with the keyboard alone while
# the Orca screen reader runs, in French, with a real speech server whose
# voice goes nowhere. Orca writes each utterance to its debug log; the test
# reads those. Run on a private X server:
#   scripts/x-session orca_play.py GAME
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

SPOKEN = re.compile(r"SPEECH OUTPUT: '(.*)' ?\{")


def fail(message):
    print("FAIL: " + message, file=sys.stderr)
    sys.exit(1)


def french_locale(scratch):
    """The environment for a French Orca; compiled privately when the
    machine has no French locale."""
    available = subprocess.run(["locale", "-a"], capture_output=True, text=True).stdout
    env = {"LANG": "fr_FR.UTF-8", "LANGUAGE": "fr_FR:fr"}
    if not re.search(r"^fr_FR\.utf-?8$", available, re.M | re.I):
        folder = os.path.join(scratch, "locale")
        os.makedirs(folder)
        subprocess.run(["localedef", "-i", "fr_FR", "-f", "UTF-8",
                        os.path.join(folder, "fr_FR.UTF-8")], check=True)
        env["LOCPATH"] = folder
    return env


def speech_without_sound(home):
    """Speech Dispatcher needs an output module: its dummy voice into
    libao's null driver."""
    config = os.path.join(home, "config", "speech-dispatcher")
    os.makedirs(config)
    with open("/etc/speech-dispatcher/speechd.conf") as system:
        settings = system.read()
    with open(os.path.join(config, "speechd.conf"), "w") as own:
        own.write(settings + '\nAudioOutputMethod "libao"\n')
    with open(os.path.join(home, ".libao"), "w") as libao:
        libao.write("default_driver=null\n")


class Orca:
    def __init__(self, scratch, env):
        prefs = os.path.join(scratch, "orca")
        os.makedirs(prefs)
        # Each utterance reaches the log as it is said.
        with open(os.path.join(prefs, "orca-customizations.py"), "w") as custom:
            custom.write("import orca.debug\n"
                         "if orca.debug.debugFile:\n"
                         "    orca.debug.debugFile.reconfigure(line_buffering=True)\n")
        self.log = os.path.join(scratch, "orca.log")
        self.read_up_to = 0
        self.process = subprocess.Popen(
            ["/usr/bin/python3", "/usr/bin/orca", "-u", prefs, "--debug-file", self.log],
            env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def said(self):
        """Everything said since the last call, once Orca has spoken and
        then been quiet for 1.5 s (at most 30 s: a loaded machine starts
        Orca slowly)."""
        deadline = time.monotonic() + 30
        last_size, quiet_since = -1, time.monotonic()
        while time.monotonic() < deadline:
            size = os.path.getsize(self.log) if os.path.exists(self.log) else 0
            if size != last_size:
                last_size, quiet_since = size, time.monotonic()
            elif size > self.read_up_to and time.monotonic() - quiet_since > 1.5:
                break
            time.sleep(0.1)
        with open(self.log, encoding="utf-8", errors="replace") as log:
            log.seek(self.read_up_to)
            text = log.read()
            self.read_up_to = log.tell()
        return [match.group(1) for match in SPOKEN.finditer(text)]


def press(*keys):
    """Keys pressed, or text typed when the first is "type"."""
    if keys[0] == "type":
        subprocess.run(["xdotool", "type", "--delay", "100", keys[1]], check=True)
    else:
        subprocess.run(["xdotool", "key", "--delay", "100"] + list(keys), check=True)


def expect(heard, *parts):
    said = " | ".join(heard)
    for part in parts:
        if part not in said:
            fail("expected to hear %r; Orca said: %s" % (part, said))
    print("heard: " + said)
    return said


def play(orca, open_progress):
    tab3 = ("Tab", "Tab", "Tab")
    expect(orca.said(), "Additions cadre", "BIENVENUE.")
    press(*tab3, "space")
    expect(orca.said(), "joueur 1.")
    # "moins de 200", then letters instead of an answer.
    press("Tab", "space")
    said = expect(orca.said(), "ta réponse texte", " plus ")
    first, second = map(int, re.search(r"(\d+) plus (\d+)", said).groups())
    press("type", "abc")
    press(*tab3, "space")
    expect(orca.said(), "Écris ta réponse avec des chiffres")
    press("Return")
    expect(orca.said(), "Additions cadre", "ta réponse")
    press("ctrl+a")
    press("type", str(first + second))
    press(*tab3, "space")
    expect(orca.said(), "Juste ! %d + %d = %d. Score : 2." % (first, second, first + second))
    right = (first, second)
    # OK leaves the keyboard on "moins de 50"; a wrong answer there.
    press("space")
    said = expect(orca.said(), "ta réponse texte", " plus ")
    first, second = map(int, re.search(r"(\d+) plus (\d+)", said).groups())
    press("type", str(first + second + 1))
    press(*tab3, "space")
    expect(orca.said(), "Faux : %d + %d = %d. Score : 1." % (first, second, first + second))
    # Back through the boxes: each is read whole, a one-digit score too.
    for box, value in [("score", 1), ("bonne réponse", first + second),
                       ("ta réponse", first + second + 1), ("second nombre", second),
                       ("premier nombre", first)]:
        press("shift+Tab")
        expect(orca.said(), "%s texte. | %d sélectionné." % (box, value))
    # The adults' program beside the game: a mark per level, each read with
    # its count; the chart says where the score went; its tables read out
    # what the chart shows.
    open_progress()
    expect(orca.said(), "Additions : progrès.", "joueur 1 liste déroulante.")
    press("Tab", "Tab", "Tab", "Tab", "Tab")
    expect(orca.said(), "Classe… bouton.")
    press("Tab")
    expect(orca.said(), "maîtrise par niveau.", "tableau avec 1 ligne 5 colonnes")
    press("Right")
    expect(orca.said(), "moins de 200 : familier, 1 réponse(s) juste(s) sur 1")
    press("Left")
    expect(orca.said(), "moins de 50 : commencé, 0 réponse(s) juste(s) sur 1")
    press("Tab")
    expect(orca.said(), "courbe du score", "score de 2 à 1 en 2 réponses")
    press("Tab")
    expect(orca.said(), "réponses par niveau.", "tableau avec 2 lignes")
    press("Tab")
    expect(orca.said(), "dernières réponses.", "tableau avec 2 lignes")
    press("Down")
    expect(orca.said(), "%d + %d. | %d. | oui. | 2." % (*right, sum(right)))
    press("Up")
    expect(orca.said(), "%d + %d. | %d. | non. | 1." % (first, second, first + second + 1))

def main():
    scratch = tempfile.mkdtemp()
    home = os.path.join(scratch, "home")
    runtime = os.path.join(scratch, "runtime")
    os.makedirs(home)
    os.makedirs(runtime, mode=0o700)
    speech_without_sound(home)
    env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=os.path.join(home, "config"),
               XDG_RUNTIME_DIR=runtime, **french_locale(scratch))
    # Orca needs Debian's Python with its orca and pyatspi modules.
    env["PATH"] = "/usr/bin:/bin"
    started = []
    try:
        started.append(subprocess.Popen(["/usr/libexec/at-spi-bus-launcher",
                                         "--launch-immediately"], env=env))
        # A window manager gives a message box the focus, as on a desktop.
        started.append(subprocess.Popen(["openbox", "--sm-disable"], env=env,
                                        stderr=subprocess.DEVNULL))
        orca = Orca(scratch, env)
        started.append(orca.process)
        if "Lecteur d’écran activé." not in orca.said():
            fail("Orca did not start")
        started.append(subprocess.Popen([sys.argv[1]], env=dict(
            env, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_ACCESSIBILITY="1")))
        def open_progress():
            started.append(subprocess.Popen([sys.argv[2]], env=dict(
                env, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_ACCESSIBILITY="1")))

        play(orca, open_progress)
    finally:
        for process in reversed(started):
            process.terminate()
            try:
                process.wait(5)
            except subprocess.TimeoutExpired:
                process.kill()
        shutil.rmtree(scratch, ignore_errors=True)


main()
