#!/usr/bin/python3
"""The real window keeps the computer awake while it records, and lets go however the take
ends; without the buses, or with one that does not answer, it records as before.

    keep_awake_test.py VOXMERE_EXECUTABLE MP3_CHECK PRIVATE_PULSE

Needs DISPLAY and PULSE_SERVER (scripts/test-env). The buses are private ones: logind is
python-dbusmock's template on the system bus, the desktop portal the fake beside this file on
the session bus. The window is driven by the keyboard through xdotool.
"""
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

import dbusmock

EXECUTABLE, MP3_CHECK, PRIVATE_PULSE = (os.path.abspath(path) for path in sys.argv[1:4])
FAKE_PORTAL = os.path.join(os.path.dirname(os.path.abspath(__file__)), "fake_portal.py")
REASON = "Recording to RecordedAudio.mp3"


def wait_for(condition, what, seconds=5.0):
    deadline = time.monotonic() + seconds
    while True:
        result = condition()
        if result or time.monotonic() > deadline:
            break
        time.sleep(0.1)
    if not result:
        raise AssertionError(f"{what} did not come within {seconds} s")
    return result


class Voxmere:
    """One voxmere process in folder, its window given the keyboard."""

    def __init__(self, folder, env=None):
        self.log_path = os.path.join(folder, "voxmere.log")
        with open(self.log_path, "w") as log:
            self.process = subprocess.Popen([EXECUTABLE], cwd=folder, env=env, stdout=log, stderr=log)
        self.window = self._shell(f"timeout 20 xdotool search --sync --all --onlyvisible --pid {self.process.pid}"
                                  " --name '^Voxmere$' | head -1")
        if not self.window:
            raise AssertionError("no window: " + self.log())
        self.keys("windowfocus", "--sync", self.window, "sleep", "0.3")

    @staticmethod
    def _shell(command):
        return subprocess.run(command, shell=True, capture_output=True, text=True).stdout.strip()

    def keys(self, *commands):
        subprocess.run(["xdotool", *commands], check=True)

    def windows(self):
        """The main window, and a message shown over it."""
        return len(self._shell(f"xdotool search --all --onlyvisible --pid {self.process.pid}"
                               " --name '^Voxmere$'").split())

    def answer_message(self):
        wait_for(lambda: self.windows() == 2, "a message")
        message = [w for w in self._shell(f"xdotool search --all --onlyvisible --pid {self.process.pid}"
                                          " --name '^Voxmere$'").split() if w != self.window][0]
        self.keys("windowfocus", "--sync", message, "sleep", "0.3", "key", "Return", "sleep", "0.3")

    def close(self):
        self.keys("windowfocus", "--sync", self.window, "key", "Escape")
        return self.process.wait(timeout=20)

    def log(self):
        with open(self.log_path, errors="replace") as log:
            return log.read()

    def threads(self):
        return set(os.listdir(f"/proc/{self.process.pid}/task"))

    def settled_threads(self):
        """The threads once none has come or gone for a second: the toolkit starts some late."""
        seen = [self.threads()]

        def settled():
            time.sleep(1)
            seen.append(self.threads())
            return seen[-1] == seen[-2]

        wait_for(settled, "a settled window", 20)
        return seen[-1]

    def thread_names(self, but):
        names = []
        for task in self.threads() - but:
            with open(f"/proc/{self.process.pid}/task/{task}/comm") as comm:
                names.append(comm.read().strip())
        return names

    def kill(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()


class PrivatePulse:
    """A sound server of the test's own, with its 440 Hz tone as the default source."""

    def __init__(self, folder):
        os.mkdir(os.path.join(folder, "runtime"), 0o700)
        self.address = f"unix:{folder}/runtime/pulse-native"
        self.process = subprocess.Popen([PRIVATE_PULSE, "daemon", folder])
        env = dict(os.environ, PULSE_SERVER=self.address)
        wait_for(lambda: subprocess.run(["pactl", "info"], env=env, capture_output=True).returncode == 0,
                 "the sound server")
        subprocess.run([PRIVATE_PULSE, "tone", self.address, "tone", "440", "Tone"], env=env, check=True,
                       capture_output=True)
        subprocess.run(["pactl", "set-default-source", "tone.monitor"], env=env, check=True)

    def stop(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGCONT)
            self.process.kill()
            self.process.wait()


class KeepAwakeTest(dbusmock.DBusTestCase):
    @classmethod
    def setUpClass(cls):
        cls.start_system_bus()
        cls.start_session_bus()

    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="voxmere-awake.")
        self.logind_process, self.logind = self.spawn_server_template("logind", {}, stdout=subprocess.DEVNULL)
        self.portal_process, self.portal = self.spawn_server_template(FAKE_PORTAL, {}, stdout=subprocess.DEVNULL,
                                                                      system_bus=False)
        self.cleanups = []

    def tearDown(self):
        for cleanup in reversed(self.cleanups):
            cleanup()
        for process in (self.logind_process, self.portal_process):
            process.send_signal(signal.SIGCONT)
            process.terminate()
            process.wait()
        shutil.rmtree(self.folder)

    def start(self, env=None):
        voxmere = Voxmere(self.folder, env)
        self.cleanups.append(voxmere.kill)
        return voxmere

    def held(self):
        """Voxmere's logind inhibitors (what, who, why, mode) and the portal's (flags, reason)."""
        logind = [tuple(str(field) for field in inhibitor[:4]) for inhibitor in self.logind.ListInhibitors()
                  if str(inhibitor[1]) == "Voxmere"]
        return logind, self.portal_held()

    def portal_held(self):
        return [(int(flags), str(reason))
                for _, flags, reason in self.portal.ListInhibits(dbus_interface=dbusmock.MOCK_IFACE)]

    def assert_holds_one_of_each(self):
        wait_for(lambda: all(self.held()), "the inhibitors")
        time.sleep(1.5)  # a second request would be there by now
        self.assertEqual(self.held(), ([("idle", "Voxmere", REASON, "block")], [(4, REASON)]))

    def assert_none_left(self):
        wait_for(lambda: self.held() == ([], []), "the inhibitors' release")

    def assert_records(self, seconds):
        check = subprocess.run([MP3_CHECK, os.path.join(self.folder, "RecordedAudio.mp3"), str(seconds), "64"],
                               capture_output=True, text=True)
        self.assertEqual(check.returncode, 0, check.stdout)

    def test_a_take_holds_one_of_each_until_stop(self):
        voxmere = self.start()
        before = voxmere.settled_threads()
        self.assertEqual(self.held(), ([], []), "held before any take")
        voxmere.keys("key", "Return")
        self.assert_holds_one_of_each()
        voxmere.keys("key", "Return")
        self.assert_none_left()
        # Idle costs nothing: no thread the take started outlives it. (GLib's own pool threads
        # may end on their own meanwhile, so fewer is no fault.)
        try:
            wait_for(lambda: not voxmere.threads() - before, "the end of the take's threads")
        except AssertionError:
            self.fail(f"{len(before)} threads before the take, then also {voxmere.thread_names(before)}")
        self.assertEqual(voxmere.close(), 0, voxmere.log())
        self.assertEqual(voxmere.log(), "")

    def test_a_failed_start_holds_nothing(self):
        os.mkdir(os.path.join(self.folder, "RecordedAudio.mp3"))  # the file cannot be made
        voxmere = self.start()
        voxmere.keys("key", "Return")
        voxmere.answer_message()
        self.assertEqual(self.held(), ([], []))
        self.assertEqual(voxmere.close(), 0, voxmere.log())

    def test_a_failure_mid_take_lets_go(self):
        server = PrivatePulse(self.folder)
        self.cleanups.append(server.stop)
        voxmere = self.start(dict(os.environ, PULSE_SERVER=server.address))
        voxmere.keys("key", "Return")
        self.assert_holds_one_of_each()
        server.stop()
        voxmere.answer_message()
        self.assert_none_left()
        self.assertEqual(voxmere.close(), 0, voxmere.log())

    def test_a_signal_mid_take_lets_go(self):
        for signo in (signal.SIGTERM, signal.SIGKILL):
            with self.subTest(signal=signo.name):
                voxmere = self.start()
                voxmere.keys("key", "Return")
                self.assert_holds_one_of_each()
                voxmere.process.send_signal(signo)
                self.assertEqual(voxmere.process.wait(timeout=10), -signo, voxmere.log())
                self.assert_none_left()
                os.remove(os.path.join(self.folder, "RecordedAudio.mp3"))  # no replace question next

    def test_without_any_bus_the_take_records_whole(self):
        env = {name: value for name, value in os.environ.items() if name != "DBUS_SESSION_BUS_ADDRESS"}
        env["DBUS_SYSTEM_BUS_ADDRESS"] = f"unix:path={self.folder}/no-bus"
        voxmere = self.start(env)
        voxmere.keys("key", "Return", "sleep", "3", "key", "Return", "sleep", "0.5")
        self.assertEqual(voxmere.close(), 0, voxmere.log())
        self.assert_records(3)
        self.assertEqual(voxmere.log(), "")

    def test_a_logind_that_never_answers_is_given_up_on(self):
        self.logind_process.send_signal(signal.SIGSTOP)
        voxmere = self.start()
        # Stopped while the question is still out: the stop does not wait for it.
        voxmere.keys("key", "Return", "sleep", "0.5", "key", "Return", "sleep", "0.5")
        wait_for(lambda: self.portal_held() == [], "the portal's release")
        os.remove(os.path.join(self.folder, "RecordedAudio.mp3"))  # no replace question next
        take = subprocess.Popen(["xdotool", "key", "Return", "sleep", "3", "key", "Return", "sleep", "0.5"])
        wait_for(lambda: self.portal_held() == [(4, REASON)], "the portal's inhibitor")
        take.wait()
        wait_for(lambda: self.portal_held() == [], "the portal's release")
        self.assertEqual(voxmere.close(), 0, voxmere.log())
        self.assert_records(3)
        # Told once a session, by the take; the quick session is told too if its stop came late.
        told = ("Voxmere: the computer may fall asleep during this recording: "
                "logind did not answer within a second.")
        self.assertIn(voxmere.log().splitlines(), ([told], [told, told]))
        # The answers it gives once it wakes find no one to hold them.
        self.logind_process.send_signal(signal.SIGCONT)
        self.assert_none_left()

    def test_a_frozen_computer_keeps_the_take_before_and_tells_the_gap(self):
        # A sleep as the take sees it: the recorder and the sound server stand still for 10 s.
        server = PrivatePulse(self.folder)
        self.cleanups.append(server.stop)
        voxmere = self.start(dict(os.environ, PULSE_SERVER=server.address))
        voxmere.keys("key", "Return", "sleep", "3")
        voxmere.process.send_signal(signal.SIGSTOP)
        server.process.send_signal(signal.SIGSTOP)
        time.sleep(10)
        server.process.send_signal(signal.SIGCONT)
        voxmere.process.send_signal(signal.SIGCONT)
        # Its first polls after waking decide: the session ends and says why, or goes on
        # (still holding the computer awake) and Stop tells what was lost.
        time.sleep(2)
        if all(self.held()):
            voxmere.keys("key", "Return")
        voxmere.answer_message()
        self.assert_none_left()
        self.assertEqual(voxmere.close(), 0, voxmere.log())
        check = subprocess.run([MP3_CHECK, os.path.join(self.folder, "RecordedAudio.mp3"), "0", "64"],
                               capture_output=True, text=True)
        sounding = float(re.search(r": ([0-9.]+) s of sound", check.stdout).group(1))
        self.assertGreaterEqual(sounding, 2.5, check.stdout)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
