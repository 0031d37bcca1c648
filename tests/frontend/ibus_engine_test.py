#!/usr/bin/python3
# SPDX-License-Identifier: Apache-2.0
# ibus-engine-kavi inside a real ibus-daemon: an IBus input context, as an application's input
# module holds one, types through Kavi and receives the committed text; the candidate window
# appears under the caret the context reported. Run inside scripts/ibus-session.
import os
import subprocess
import sys
import time
import unittest

import gi

gi.require_version("IBus", "1.0")
from gi.repository import GLib, IBus  # noqa: E402

BIN = os.environ.get("KAVI_BIN", os.path.join(os.path.dirname(__file__), "../../build/bin"))

# Where the test application says its caret is (root coordinates): x, y, width, height.
CARET = (400, 300, 2, 20)


def server_answers():
    return subprocess.run([os.path.join(BIN, "kavi-client"), "--no-start", "pid"],
                          capture_output=True).returncode == 0


def keysym(ch):
    return IBus.KEY_space if ch == " " else ord(ch)


class Application:
    """One input context, with what the engine sent back to it."""

    warm = False

    def __init__(self, bus):
        self.bus = bus
        self.context = bus.create_input_context("kavi-test")
        self.committed = ""
        self.preedit = ""
        self.context.connect("commit-text", self._on_commit)
        self.context.connect("update-preedit-text", self._on_preedit)
        self.context.connect("hide-preedit-text", self._on_hide_preedit)
        self.context.set_capabilities(IBus.Capabilite.PREEDIT_TEXT | IBus.Capabilite.FOCUS)
        self.context.focus_in()
        # IBus shares one engine between contexts: once a context before this one chose Kavi,
        # this one has it already. Choosing it again would start a second engine behind the
        # first one's back, and a key typed during that switch reaches the engine on its way
        # out, which ends its composition as it goes.
        if self.engine_name() != "kavi":
            self.context.set_engine("kavi")
        self.pump_until(lambda: self.engine_name() == "kavi", 5)
        self.context.set_cursor_location(*CARET)
        # The engine starts the server when it starts; typing waits until it answers and has
        # loaded what the first conversion needs (a key that times out goes to the application).
        if not Application.warm:
            self.pump_until(server_answers, 10)
            self.type("a")
            self.context.process_key_event(IBus.KEY_Escape, 0, 0)
            self.pump(0.2)
            Application.warm = True

    def engine_name(self):
        engine = self.context.get_engine()
        return engine.get_name() if engine else ""

    def _on_commit(self, _context, text):
        self.committed += text.get_text()

    def _on_preedit(self, _context, text, _cursor, visible):
        self.preedit = text.get_text() if visible else ""

    def _on_hide_preedit(self, _context):
        self.preedit = ""

    def pump(self, seconds=0.05):
        deadline = time.monotonic() + seconds
        main = GLib.MainContext.default()
        while time.monotonic() < deadline:
            while main.pending():
                main.iteration(False)
            time.sleep(0.005)

    def pump_until(self, condition, seconds):
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            self.pump(0.02)
            if condition():
                return True
        return condition()

    def type(self, text):
        """Presses and releases each key; returns whether each press was consumed."""
        consumed = []
        for ch in text:
            sym = keysym(ch)
            consumed.append(self.context.process_key_event(sym, 0, 0))
            self.context.process_key_event(sym, 0, IBus.ModifierType.RELEASE_MASK)
        self.pump()
        return consumed


def candidate_window():
    """(x, y, width, height) of Kavi's mapped candidate window, or None."""
    found = subprocess.run(["xdotool", "search", "--onlyvisible", "--class", "kavi-candidate"],
                           capture_output=True, text=True).stdout.split()
    for window in found:
        shown = subprocess.run(["xdotool", "getwindowgeometry", "--shell", window],
                               capture_output=True, text=True).stdout
        values = dict(line.split("=", 1) for line in shown.split())
        return tuple(int(values[k]) for k in ("X", "Y", "WIDTH", "HEIGHT"))
    return None


class IbusEngineTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        IBus.init()
        cls.bus = IBus.Bus()
        assert cls.bus.is_connected(), "no ibus-daemon"

    def setUp(self):
        self.app = Application(self.bus)

    def tearDown(self):
        self.app.context.focus_out()
        self.app.context.destroy()

    def test_nihao_space_commits(self):
        self.assertTrue(all(self.app.type("nihao")))
        self.assertTrue(self.app.pump_until(lambda: self.app.preedit == "ni hao", 3),
                        self.app.preedit)
        self.app.type(" ")
        self.assertTrue(self.app.pump_until(lambda: self.app.committed == "你好", 3),
                        self.app.committed)
        self.assertTrue(self.app.pump_until(lambda: self.app.preedit == "", 3))

    def test_a_whole_phrase(self):
        self.app.type("zhonghuarenmingongheguo ")
        self.assertTrue(self.app.pump_until(lambda: self.app.committed == "中华人民共和国", 3),
                        self.app.committed)

    def test_backtick_calculator(self):
        consumed = self.app.type("`1+2=")
        self.assertTrue(self.app.pump_until(lambda: self.app.preedit == "`1+2=", 3),
                        (self.app.preedit, consumed))
        self.app.type(" ")
        self.assertTrue(self.app.pump_until(lambda: self.app.committed == "3", 3),
                        self.app.committed)

    def test_keys_without_composition_reach_the_application(self):
        consumed = self.app.context.process_key_event(IBus.KEY_Return, 0, 0)
        self.assertFalse(consumed)
        self.assertEqual(self.app.committed, "")

    def test_candidate_window_appears_under_the_caret(self):
        self.app.type("nihao")
        self.assertTrue(self.app.pump_until(lambda: candidate_window() is not None, 5),
                        "no candidate window")
        x, y, width, height = candidate_window()
        caret_x, caret_y, _, caret_height = CARET
        # Just below the caret's bottom edge, starting near its left edge.
        self.assertGreaterEqual(y, caret_y + caret_height)
        self.assertLess(y, caret_y + caret_height + 40)
        self.assertLess(abs(x - caret_x), 60)
        self.assertGreater(width, 50)
        self.assertGreater(height, 10)
        # A commit hides it again.
        self.app.type(" ")
        self.assertTrue(self.app.pump_until(lambda: candidate_window() is None, 3))


if __name__ == "__main__":
    unittest.main(verbosity=2)
