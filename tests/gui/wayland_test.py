#!/usr/bin/python3
"""The real window on GTK's Wayland backend: it names itself by the desktop entry's id (the
app_id, as WAYLAND_DEBUG shows the request) and records.

    wayland_test.py VOXMERE_EXECUTABLE DESKTOP_ENTRY MP3_CHECK

Needs DISPLAY, PULSE_SERVER and a D-Bus session bus (run under dbus-run-session). The
compositor is Weston drawn in a window of the X display: Weston's headless backend has no seat,
without which GTK cannot run a window. The button is pressed through AT-SPI, as a screen reader
presses it.
"""
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

import pyatspi
from gi.repository import GLib

from accessibility_test import descendants, wait_for


def button(frame):
    return next((node for node in descendants(frame) if node.getRoleName() == "push button"
                 and node.name in ("Start Recording", "Stop Recording")), None)


def caption_is(node, caption):
    """Whether node's name is caption now: the events that renew the name are taken first."""
    context = GLib.MainContext.default()
    while context.iteration(False):
        pass
    return node.name == caption or None


def main():
    executable, entry, mp3_check = (os.path.abspath(path) for path in sys.argv[1:4])
    app_id = os.path.basename(entry)[:-len(".desktop")]
    folder = tempfile.mkdtemp(prefix="voxmere-wayland.")
    runtime = os.path.join(folder, "runtime")
    os.mkdir(runtime, 0o700)
    env = dict(os.environ, XDG_RUNTIME_DIR=runtime)
    weston = subprocess.Popen(["weston", "--backend=x11-backend.so", "--use-pixman", "--no-config", "--idle-time=0",
                               "--socket=wayland-voxmere"], env=env, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL)
    env.pop("DISPLAY", None)
    process = None
    try:
        wait_for(lambda: os.path.exists(os.path.join(runtime, "wayland-voxmere")), "Weston's socket")
        env.update(WAYLAND_DISPLAY="wayland-voxmere", GDK_BACKEND="wayland", WAYLAND_DEBUG="1")
        # The test environment turns the accessibility bridge off for every other test.
        env.pop("NO_AT_BRIDGE", None)
        env.pop("GTK_A11Y", None)
        log_path = os.path.join(folder, "voxmere.log")
        with open(log_path, "w") as log:
            process = subprocess.Popen([executable], cwd=folder, env=env, stdout=log, stderr=log)

        def find_button():
            for app in pyatspi.Registry.getDesktop(0):
                if app is not None and app.get_process_id() == process.pid:
                    for frame in app:
                        if frame is not None and frame.name == "Voxmere":
                            return button(frame)
            return None

        start = wait_for(find_button, "the window in the accessibility tree")
        with open(log_path, errors="replace") as log:
            app_ids = re.findall(r'xdg_toplevel@\d+\.set_app_id\("([^"]*)"\)', log.read())
        if app_ids != [app_id]:
            sys.exit(f"FAIL: the window's app_id requests are {app_ids}, not just {app_id!r}")

        start.queryAction().doAction(0)
        began = time.monotonic()
        wait_for(lambda: caption_is(start, "Stop Recording"), "the Stop Recording caption")
        time.sleep(2)
        start.queryAction().doAction(0)
        seconds = time.monotonic() - began
        wait_for(lambda: caption_is(start, "Start Recording"), "the Start Recording caption")
        process.send_signal(signal.SIGTERM)
        process.wait(timeout=10)
        process = None
        return subprocess.run([mp3_check, os.path.join(folder, "RecordedAudio.mp3"), f"{seconds:.2f}", "64"]).returncode
    finally:
        if process is not None:
            process.kill()
            process.wait()
        weston.terminate()
        weston.wait()
        shutil.rmtree(folder)


if __name__ == "__main__":
    sys.exit(main())
