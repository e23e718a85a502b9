#!/usr/bin/python3
"""The real window as a screen reader sees it, read from outside through AT-SPI.

    accessibility_test.py VOXMERE_EXECUTABLE

Needs a display and a D-Bus session bus (run under dbus-run-session); the session bus starts
the accessibility bus and its registry on demand. The window must then say which label names
which field, name each field by its label and not by its value, describe the " ?" button,
and report the focus on every control that Tab reaches.
"""
import os
import subprocess
import sys
import tempfile
import time

import pyatspi
from gi.repository import GLib

LIMIT = 30  # seconds for anything to happen: generous, as the machine may be busy

# Tab order, and what each control is to be called.
TAB_STOPS = [
    ("push button", "Start Recording"),
    ("combo box", "Input"),
    ("text", "Output"),
    ("push button", "Browse..."),
    ("combo box", "Bit Rate"),
    ("push button", "Website"),
    ("push button", "About..."),
    ("push button", " ?"),
]
LABELS = {"Input :": "Input", "Output :": "Output", "Bit Rate :": "Bit Rate"}

failures = []


def check(condition, message):
    if not condition:
        failures.append(message)


def wait_for(find, what):
    deadline = time.monotonic() + LIMIT
    while time.monotonic() < deadline:
        found = find()
        if found:
            return found
        time.sleep(0.1)
    sys.exit(f"FAIL: {what} did not appear within {LIMIT} s")


def descendants(node):
    for child in node:
        if child is not None:
            yield child
            yield from descendants(child)


def targets(node, relation_type):
    return [relation.getTarget(i)
            for relation in node.getRelationSet() if relation.getRelationType() == relation_type
            for i in range(relation.getNTargets())]


def check_tree(frame):
    controls = [node for node in descendants(frame) if node.getRoleName() in ("push button", "combo box", "text")]
    labels = [node for node in descendants(frame) if node.getRoleName() == "label"]
    named = {(node.getRoleName(), node.name): node for node in controls}
    for role, name in TAB_STOPS:
        check((role, name) in named, f"no {role} named {name!r}; there are {sorted(named)}")

    for label in labels:
        field_name = LABELS.get(label.name)
        check(field_name is not None, f"unexpected label {label.name!r}")
        if field_name is None:
            continue
        field = [node for node in controls if node.name == field_name]
        label_for = targets(label, pyatspi.RELATION_LABEL_FOR)
        check(label_for == field, f"{label.name!r} is the label of {[t.name for t in label_for]}, "
                                  f"not just of {field_name!r}")
        if field:
            labelled_by = targets(field[0], pyatspi.RELATION_LABELLED_BY)
            check([t.name for t in labelled_by] == [label.name],
                  f"{field_name!r} is labelled by {[t.name for t in labelled_by]}")
    for button in (node for node in controls if node.getRoleName() == "push button"):
        check(not targets(button, pyatspi.RELATION_LABELLED_BY), f"button {button.name!r} has a label")

    help_button = named.get(("push button", " ?"))
    if help_button is not None:
        check(help_button.description == "Help on choosing the recording source",
              f"the help button's description is {help_button.description!r}")


def check_focus(window_id, pid):
    """Tabs once round the window, waiting each time for the new focus to be reported."""
    reported = []

    def on_focus(event):
        if event.detail1 == 1 and event.host_application.get_process_id() == pid:
            reported.append((event.source.getRoleName(), event.source.name))

    pyatspi.Registry.registerEventListener(on_focus, "object:state-changed:focused")
    subprocess.run(["xdotool", "windowfocus", "--sync", window_id], check=True)
    context = GLib.MainContext.default()
    for stop in TAB_STOPS[1:] + TAB_STOPS[:1]:
        del reported[:]
        subprocess.run(["xdotool", "key", "Tab"], check=True)
        deadline = time.monotonic() + LIMIT
        while stop not in reported and time.monotonic() < deadline:
            while context.iteration(False):
                pass
            time.sleep(0.01)
        check(stop in reported, f"the focus on the {stop[0]} {stop[1]!r} was not reported; reports: {reported}")
    pyatspi.Registry.deregisterEventListener(on_focus, "object:state-changed:focused")


def main():
    executable = os.path.abspath(sys.argv[1])
    env = dict(os.environ)
    # The test environment turns the bridge off for every other test.
    env.pop("NO_AT_BRIDGE", None)
    env.pop("GTK_A11Y", None)
    folder = tempfile.mkdtemp(prefix="voxmere-a11y.")
    with open(os.path.join(folder, "voxmere.log"), "w") as log:
        process = subprocess.Popen([executable], cwd=folder, env=env, stdout=log, stderr=log)
    try:
        def find_frame():
            for app in pyatspi.Registry.getDesktop(0):
                if app is not None and app.get_process_id() == process.pid:
                    for frame in app:
                        if frame is not None and frame.name == "Voxmere" and any(
                                node.getRoleName() == "combo box" for node in descendants(frame)):
                            return frame
            return None

        frame = wait_for(find_frame, "the window in the accessibility tree")
        check_tree(frame)
        window_id = wait_for(lambda: subprocess.run(
            ["xdotool", "search", "--all", "--onlyvisible", "--pid", str(process.pid), "--name", "^Voxmere$"],
            capture_output=True, text=True).stdout.split()[:1], "the X window")[0]
        check_focus(window_id, process.pid)
    finally:
        process.kill()
        process.wait()
    for failure in failures:
        print("FAIL:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
