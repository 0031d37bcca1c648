#!/usr/bin/python3
# SPDX-License-Identifier: Apache-2.0
# A real GTK 3 application typed into through IBus and Kavi: one window with one entry, keys
# from xdotool (the X server's test extension, as a keyboard would send them), and the entry's
# text read back. Run inside scripts/ibus-session with GTK_IM_MODULE=ibus.
#   gtk_entry_test.py [--screenshot PNG]   exit 0 when the entry ends with 你好
import os
import subprocess
import sys
import time

import gi

gi.require_version("Gtk", "3.0")
gi.require_version("Gdk", "3.0")
from gi.repository import Gdk, GLib, Gtk  # noqa: E402

BIN = os.environ.get("KAVI_BIN", os.path.join(os.path.dirname(__file__), "../../build/bin"))
EXPECTED = "你好"
TIME_LIMIT_S = 30


def server_answers():
    return subprocess.run([os.path.join(BIN, "kavi-client"), "--no-start", "pid"],
                          capture_output=True).returncode == 0


def candidate_window_shown():
    return subprocess.run(["xdotool", "search", "--onlyvisible", "--class", "kavi-candidate"],
                          capture_output=True).returncode == 0


def xdotool(*args):
    subprocess.run(["xdotool", *args], check=True)


class EntryWindow:
    def __init__(self, screenshot):
        self.screenshot = screenshot
        self.window = Gtk.Window(title="Kavi test")
        self.window.set_default_size(480, 120)
        self.window.move(200, 200)
        self.entry = Gtk.Entry()
        self.entry.set_placeholder_text("type here")
        box = Gtk.Box(orientation=Gtk.Orientation.VERTICAL, margin=24)
        box.pack_start(Gtk.Label(label="Kavi in a GTK 3 entry"), False, False, 8)
        box.pack_start(self.entry, False, False, 0)
        self.window.add(box)
        self.window.connect("destroy", Gtk.main_quit)
        self.result = None
        self.steps = self.run_steps()

    def wait(self, condition, seconds):
        """Lets the main loop run until condition() or the time is up."""
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline and not condition():
            yield
        return condition()

    def run_steps(self):
        # Without a window manager the pointer decides the focus: rest it on the entry.
        yield from self.wait(lambda: self.entry.get_window() is not None and
                             self.entry.get_window().is_viewable(), 5)
        origin = self.entry.get_window().get_origin()
        xdotool("mousemove", str(origin.x + 20), str(origin.y + 10))
        self.entry.grab_focus()
        yield from self.wait(lambda: False, 0.5)
        # The first key starts the engine and the engine the server: type only once it answers.
        xdotool("key", "--delay", "30", "n")
        if not (yield from self.wait(server_answers, 10)):
            self.finish("the Kavi server did not start")
            return
        xdotool("key", "BackSpace")
        yield from self.wait(lambda: False, 0.3)
        self.entry.set_text("")
        xdotool("type", "--delay", "60", "nihao")
        if not (yield from self.wait(candidate_window_shown, 5)):
            self.finish("no candidate window after nihao")
            return
        if self.screenshot:
            yield from self.wait(lambda: False, 0.5)
            self.save_screenshot()
        xdotool("key", "space")
        yield from self.wait(lambda: self.entry.get_text() == EXPECTED, 5)
        self.finish(None)

    def save_screenshot(self):
        root = Gdk.get_default_root_window()
        x, y = 150, 150
        pixbuf = Gdk.pixbuf_get_from_window(root, x, y, 820, 200)
        pixbuf.savev(self.screenshot, "png", [], [])

    def finish(self, problem):
        self.result = problem
        Gtk.main_quit()

    def tick(self):
        try:
            next(self.steps)
            return True
        except StopIteration:
            return False


def main():
    screenshot = None
    if len(sys.argv) == 3 and sys.argv[1] == "--screenshot":
        screenshot = sys.argv[2]
    app = EntryWindow(screenshot)
    app.window.show_all()
    GLib.timeout_add(20, app.tick)
    GLib.timeout_add_seconds(TIME_LIMIT_S, lambda: app.finish("time limit") or False)
    Gtk.main()
    text = app.entry.get_text()
    if app.result is None and text == EXPECTED:
        print(f"entry: {text}\n1 passed, 0 failed")
        return 0
    print(f"entry: {text!r} ({app.result or 'wrong text'})\n0 passed, 1 failed")
    return 1


if __name__ == "__main__":
    sys.exit(main())
