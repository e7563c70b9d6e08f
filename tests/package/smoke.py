#!/usr/bin/env python3
"""The installed Clipvane, tried as a user who never registered anything (scripts/package-test.sh).

smoke.py USER-DIR          starts /usr/bin/Clipvane on a collection under Xvfb and waits until the
                           viewer's title names it (the title is set once the folder tree is
                           shown); then talks to /usr/bin/clipvane-native-host, and checks
                           that Chromium loads the extension.
smoke.py --reap USER-DIR   waits for the processes of that user (its HOME) to end, ending those
                           that stay.
"""
import json
import os
import signal
import socket
import struct
import subprocess
import sys
import time
import urllib.request

DEADLINE = 90
EXTENSION = "chrome-extension://pfhpkbcioilhppjlcenhmflbflekbhkf/"


def fail(message):
    print("smoke: " + message, file=sys.stderr)
    sys.exit(1)


def until(what, deadline=DEADLINE):
    end = time.monotonic() + deadline
    while time.monotonic() < end:
        result = what()
        if result:
            return result
        time.sleep(0.2)
    return None


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def devtools_targets(port):
    """The DevTools server's list of targets, empty while it does not answer."""
    try:
        with urllib.request.urlopen(f"http://127.0.0.1:{port}/json/list", timeout=5) as answer:
            return json.load(answer)
    except OSError:
        return []


def viewer_title(port):
    for page in devtools_targets(port):
        if page.get("url", "").endswith("/libTavreloHelpers.so/TavTracker.hta"):
            return page.get("title")
    return None


def extension_worker(port):
    for target in devtools_targets(port):
        if target.get("url", "").startswith(EXTENSION) and target.get("type") == "service_worker":
            return target["url"]
    return None


def talk(messages):
    """Frames the messages for the native host, closes its input and returns its answers."""
    data = b"".join(struct.pack("=I", len(m)) + m for m in (json.dumps(m).encode() for m in messages))
    host = subprocess.run(["/usr/bin/clipvane-native-host", EXTENSION], input=data, capture_output=True,
                          timeout=DEADLINE)
    answers, out = [], host.stdout
    while len(out) >= 4:
        (length,) = struct.unpack("=I", out[:4])
        answers.append(json.loads(out[4:4 + length]))
        out = out[4 + length:]
    return answers, host.stderr.decode(errors="replace")


def smoke(user):
    home = os.environ["HOME"]
    collection = os.path.join(home, "Package notes.t-q")
    with open(collection, "w", encoding="utf-8") as file:
        file.write('<?xml version="1.0" encoding="UTF-8"?>\n'
                   '<root xmlns:TavTracker="http://www.tavrelo.com/tracker/"><TavTracker:ktDATABASE Name="Mine" '
                   'IsDatabase="-1" UIN="0" CurrentNode="1"><TavTracker:ktNODE Name="Default Collection" UIN="1" '
                   'IsUnsortedNode="1"/><TavTracker:ktNODE Name="Work" UIN="2"/></TavTracker:ktDATABASE></root>\n')
    open(os.environ["TAVRELO_AUTOMATION"], "w").close()
    port = free_port()
    env = dict(os.environ, QTWEBENGINE_REMOTE_DEBUGGING=f"127.0.0.1:{port}")
    launcher = subprocess.run(["/usr/bin/Clipvane", collection], env=env, timeout=DEADLINE)
    if launcher.returncode != 0:
        fail(f"Clipvane ended with {launcher.returncode}")
    title = until(lambda: (viewer_title(port) or "").endswith(" - Tavrelo Clipvane") and viewer_title(port))
    if not title or "Package notes" not in title:
        fail(f"the viewer did not show the collection's tree (title {viewer_title(port)!r})")
    print(f"smoke: the viewer shows {title!r}")

    answers, err = talk([{"command": "launch"}])
    if len(answers) != 1 or answers[0].get("ok") is not False or not answers[0].get("error"):
        fail(f"the native host's answer to an unknown command: {answers} {err}")
    answers, err = talk([{"command": "start"}])
    if answers != [{"ok": True, "outcome": "started"}]:
        fail(f"the native host did not start Clipvane: {answers} {err}")
    print("smoke: the native host refuses an unknown command and starts Clipvane")

    # Chromium, started as a person starts it (Debian's wrapper, which reads /etc/chromium.d),
    # loads our extension from the package's link; its background worker shows in DevTools.
    if not os.path.exists("/usr/bin/chromium"):
        print("smoke: chromium is not installed: its loading of the extension was not tried")
        return
    port = free_port()
    chromium = subprocess.Popen(["/usr/bin/chromium", "--headless=new", "--no-sandbox", "--no-first-run",
                                 f"--remote-debugging-port={port}", f"--user-data-dir={home}/chromium",
                                 "about:blank"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        worker = until(lambda: extension_worker(port), 60)
    finally:
        chromium.terminate()
        try:
            chromium.wait(20)
        except subprocess.TimeoutExpired:
            chromium.kill()
            chromium.wait()
    if not worker:
        fail("Chromium did not load the extension")
    print(f"smoke: Chromium runs the extension's {worker}")


def processes_of(user):
    marker = b"\0HOME=" + os.path.join(user, "home").encode() + b"\0"
    found = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open(f"/proc/{pid}/environ", "rb") as file:
                if marker in b"\0" + file.read() + b"\0":
                    found.append(int(pid))
        except OSError:
            pass
    return [pid for pid in found if pid != os.getpid()]


def reap(user):
    if until(lambda: not processes_of(user), 15):
        return
    for pid in processes_of(user):
        print(f"smoke: ending process {pid}, still running", file=sys.stderr)
        try:
            os.kill(pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
    until(lambda: not processes_of(user), 10)


if __name__ == "__main__":
    if len(sys.argv) == 3 and sys.argv[1] == "--reap":
        reap(sys.argv[2])
    elif len(sys.argv) == 2:
        smoke(sys.argv[1])
    else:
        fail("usage: smoke.py [--reap] USER-DIR")
