#!/usr/bin/env python3
"""The real window as a screen reader meets it over AT-SPI: an update of the simulated DC driven by accessible
actions only, its pages read as text line by line, every row as it appears, the upload's value rising; then a
refused upload, whose failure row and boxes are read too.

test_accessibility.py KAV_UPDATE FIRMWARE. Runs itself again inside a private D-Bus session on its own Xvfb;
exits 77 (skipped) where Xvfb, D-Bus or the AT-SPI packages are missing."""
import os
import re
import shutil
import subprocess
import sys
import tempfile

SKIP = 77
LAUNCHERS = ("/usr/libexec/at-spi-bus-launcher", "/usr/lib/at-spi2-core/at-spi-bus-launcher")


def outside():
    try:
        import pyatspi  # noqa: F401
    except ImportError:
        print("SKIP: python3-pyatspi is not installed")
        return SKIP
    missing = [t for t in ("Xvfb", "dbus-run-session") if shutil.which(t) is None]
    if missing or not any(os.path.exists(p) for p in LAUNCHERS):
        print("SKIP: missing", " ".join(missing) or "at-spi2-core")
        return SKIP
    read, write = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                            pass_fds=(write,), stderr=subprocess.DEVNULL)
    os.close(write)
    with os.fdopen(read) as f:
        display = f.readline().strip()
    try:
        env = dict(os.environ, DISPLAY=":" + display, KAV_A11Y_INSIDE="1")
        env.pop("WAYLAND_DISPLAY", None)
        return subprocess.run(["dbus-run-session", "--", sys.executable] + sys.argv, env=env).returncode
    finally:
        xvfb.terminate()
        xvfb.wait()


if os.environ.get("KAV_A11Y_INSIDE") != "1":
    sys.exit(outside())

import pyatspi  # noqa: E402
from gi.repository import GLib  # noqa: E402

KAV_UPDATE, FIRMWARE = sys.argv[1], sys.argv[2]
TIME = r"\d\d:\d\d:\d\d"
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL:", what)
    return condition


class Events:
    """What the window told assistive technology unasked, as it came."""

    def __init__(self):
        self.seen, self.values = [], []
        for kind in ("object:text-changed:insert", "object:property-change:accessible-value",
                     "object:children-changed:add", "object:state-changed:focused"):
            pyatspi.Registry.registerEventListener(self.heard, kind)

    def heard(self, event):
        try:
            # Read as it comes: polling would miss most. The task list's scroll bar has a value too.
            if event.type.endswith("accessible-value") and event.source.getRoleName() == "progress bar":
                self.values.append((event.source.name, event.source.queryValue().currentValue))
            self.seen.append((event.type, event.source.getRoleName(), event.source.name, event.any_data,
                              event.detail1))
        except Exception:  # the source may be gone already
            pass


def pump():
    GLib.MainContext.default().iteration(True)


SHOWN = []  # what the window shows, for a time-out's message


def wait_for(condition, what, seconds=30):
    """Runs the main loop until condition() gives something; woken every 20 ms to ask again."""
    result = []
    GLib.timeout_add(seconds * 1000, lambda: result.append("timeout") and False)
    tick = GLib.timeout_add(20, lambda: True)
    try:
        while True:
            try:
                value = condition()
            except Exception:  # an object that went away while it was read
                value = None
            if value:
                return value
            if result:
                shown = [line for w in SHOWN for line in tree(w)]
                raise SystemExit("timed out waiting for %s\n%s" % (what, "\n".join(failures + shown)))
            pump()
    finally:
        GLib.source_remove(tick)


def descendants(obj, showing_only=True):
    for child in obj:
        if child is None:
            continue
        if showing_only and not child.getState().contains(pyatspi.STATE_SHOWING):
            continue
        yield child
        yield from descendants(child, showing_only)


def find(root, role, name=None):
    for o in descendants(root):
        if o.getRoleName() == role and (name is None or o.name == name):
            return o
    return None


def whole(obj):
    return obj.queryText().getText(0, -1)


def lines_of(obj):
    """The text line by line, as a screen reader's line review walks it."""
    text, lines, offset = obj.queryText(), [], 0
    while offset < text.characterCount:
        content, _, end = text.getTextAtOffset(offset, pyatspi.TEXT_BOUNDARY_LINE_START)
        if end <= offset:
            break
        lines.append(content)
        offset = end
    return lines


def press(button):
    action = button.queryAction()
    names = [action.getName(i) for i in range(action.nActions)]
    action.doAction(names.index("Press") if "Press" in names else 0)


def tree(obj, depth=0):
    """A short listing of what a reader meets: role, name, and text or value where there is one."""
    out = []
    for o in [obj]:
        extra = ""
        try:
            extra = " = %r" % o.queryText().getText(0, 60)
        except NotImplementedError:
            pass
        try:
            extra = " = %s" % o.queryValue().currentValue
        except NotImplementedError:
            pass
        states = o.getState()
        marks = "".join(m for m, st in (("*", pyatspi.STATE_FOCUSED), ("!", pyatspi.STATE_IS_DEFAULT))
                        if states.contains(st))
        out.append("  " * depth + "%s %r%s%s" % (o.getRoleName(), o.name, marks, extra))
        if o.getRoleName() == "tree":
            table = o.queryTable()
            out += ["  " * (depth + 1) + "row: " + row_line(o, r) for r in range(table.nRows)]
            continue
        for child in o:
            if child is not None and child.getState().contains(pyatspi.STATE_SHOWING):
                out += tree(child, depth + 1)
    return out


def row_cells(table_obj, row):
    table = table_obj.queryTable()
    return [table.getAccessibleAt(row, c) for c in range(table.nColumns)]


def row_line(table_obj, row):
    return row_cells(table_obj, row)[1].description


def rows(table_obj):
    return [row_line(table_obj, r) for r in range(table_obj.queryTable().nRows)]


class Wizard:
    def __init__(self, folder, sim_args):
        self.events = Events()
        self.process = subprocess.Popen(
            [KAV_UPDATE, "--simulate", "--app-dir", folder, "--firmware", FIRMWARE, "--log",
             os.path.join(folder, "run.log"), "--sim-args", "--restart-seconds 0.2 " + sim_args],
            env=dict(os.environ, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_QPA_PLATFORM="xcb",
                     XDG_CONFIG_HOME=folder, XDG_STATE_HOME=folder, XDG_DATA_HOME=folder))
        self.app = wait_for(self.application, "the wizard on the accessibility bus")
        self.window = wait_for(lambda: find(self.app, "frame"), "its frame")
        SHOWN[:] = [self.app]

    def application(self):
        if self.process.poll() is not None:
            raise SystemExit("kav-update ended early with status %d" % self.process.returncode)
        for app in pyatspi.Registry.getDesktop(0):
            if app is not None and app.name == "kav-update" and app.get_process_id() == self.process.pid:
                return app
        return None

    def button(self, name):
        return wait_for(lambda: (lambda b: b if b and b.getState().contains(pyatspi.STATE_ENABLED) else None)(
            find(self.window, "push button", name)), "an enabled button " + name)

    def page_text(self):
        return find(self.window, "label")

    def end(self, boxes):
        wait_for(lambda: self.process.poll() is not None or (answer_box(self, boxes) and False), "the end")
        return self.process.returncode


def gone(obj):
    try:
        states = obj.getState()
        return states.contains(pyatspi.STATE_DEFUNCT) or not states.contains(pyatspi.STATE_SHOWING)
    except Exception:
        return True


def answer_box(wizard, boxes):
    """A box, read as a reader reads it: its text, its buttons, the default one focused; answered by it."""
    for window in wizard.app:
        if window is None or window.getRoleName() not in ("alert", "dialog"):
            continue
        label = next((o for o in descendants(window) if o.getRoleName() == "label" and whole(o)), None)
        buttons = [b for b in descendants(window) if b.getRoleName() == "push button"]
        focused = [b for b in buttons if b.getState().contains(pyatspi.STATE_FOCUSED)]
        if label is None or not focused:
            return None
        text = whole(label)
        boxes.append((window.name, text, [b.name for b in buttons]))
        check(len(lines_of(label)) >= 1 and "".join(lines_of(label)).strip() == text.strip(),
              "a box's text walks line by line: %r" % text)
        press(focused[0])
        # Qt presses a button as a click shown for a moment: another press would start that moment again.
        wait_for(lambda: gone(focused[0]), "the box to close")
        return True
    return None


def run_update(folder, sim_args):
    os.makedirs(folder)
    wizard = Wizard(folder, sim_args)
    page = wait_for(wizard.page_text, "the page text")
    listing = tree(wizard.window)
    page1 = whole(page)
    lines = lines_of(page)
    check(wizard.window.name == "KAV 1F Firmware Update", "the window is a frame named with the title")
    check(page.name == "INSTRUCTIONS" and len(lines) > 3 and "".join(lines) == page1,
          "page 1 walks line by line: %r" % lines)
    check(not any(o.getRoleName() in ("filler", "image") for o in descendants(wizard.window)),
          "no decoration in the tree:\n" + "\n".join(listing))
    first_word = page1.split()[0]
    text = page.queryText()
    text.setSelection(0, 0, len(first_word)) if text.getNSelections() else text.addSelection(0, len(first_word))
    check(tuple(text.getSelection(0)) == (0, len(first_word)), "the page's text selects")

    press(wizard.button("Next"))
    page2 = wait_for(lambda: (lambda t: t if t != page1 else None)(whole(page)), "page 2")
    check(not page2.startswith("\n") and len(lines_of(page)) > 3, "page 2 starts with its text, not the "
          "picture's room: %r" % page2[:40])
    wait_for(lambda: any(e[0].startswith("object:text-changed:insert") and e[2] == page.name and
                         page2.startswith(str(e[3])[:20]) for e in wizard.events.seen), "page 2 announced")

    press(wizard.button("Next"))
    table = wait_for(lambda: find(wizard.window, "tree"), "the task list")
    seen_rows, values, boxes, final_row = [], [], [], [None]

    def progress():
        # Every row as it appears, the upload's value, and any box, until the wizard waits for Close.
        for line in rows(table):
            if line not in seen_rows and not re.search(r"\d+ ?%", line):
                seen_rows.append(line)
        bar = find(wizard.window, "progress bar")
        if bar is not None:
            value = (bar.name, bar.queryValue().currentValue)
            if not values or values[-1] != value:
                values.append(value)
        answer_box(wizard, boxes)
        # The end: Next gives way to "Update another DC", or after a failure is greyed for good.
        ended = find(wizard.window, "push button", "Update another DC") or (
            final_row[0] and final_row[0] == seen_rows[-1:] and "failed" in final_row[0][0])
        final_row[0] = seen_rows[-1:] and seen_rows[-1]
        return ended and not any(w and w.getRoleName() in ("alert", "dialog") for w in wizard.app)

    wait_for(progress, "the update's end", 90)
    finished = tree(wizard.window)
    final_rows = rows(table)
    seen_rows.extend(r for r in final_rows if r not in seen_rows)
    for line in final_rows:
        check(re.fullmatch(TIME + r", .+, .+", line), "a row reads as one line: %r" % line)
    icons = {row_cells(table, r)[0].name for r in range(table.queryTable().nRows)}
    check(icons <= {"started", "information", "failed"} and "started" in icons, "icons read as words: %s" % icons)
    added = [e for e in wizard.events.seen if e[0].startswith("object:children-changed:add") and e[1] == "tree"]
    check(len(added) >= len(final_rows), "each row added is announced (%d of %d)" % (len(added), len(final_rows)))
    press(wizard.button("Close"))
    status = wizard.end(boxes)
    values = sorted(set(values + wizard.events.values), key=lambda v: (wizard.events.values + values).index(v))
    return dict(listing=listing, finished=finished, rows=seen_rows, values=values, boxes=boxes, status=status,
                page1=page1)


def main():
    verbose = "-v" in sys.argv
    with tempfile.TemporaryDirectory() as folder:
        good = run_update(os.path.join(folder, "good") + os.sep, "")
    check(good["status"] == 0, "the update ends with status 0, not %d" % good["status"])
    check(all(step for step, _ in good["values"]), "the progress bar names its step")
    upload = [v for step, v in good["values"] if step == "Writing the new firmware"]
    check(len(upload) >= 4 and upload == sorted(upload) and upload[-1] > 80,
          "the upload's value rises to 100: %s" % good["values"])
    check(re.search(r", The update succeeded[^,]*, information$|, information$", good["rows"][-1]),
          "the last row: %r" % good["rows"][-1])
    with tempfile.TemporaryDirectory() as folder:
        bad = run_update(os.path.join(folder, "bad") + os.sep, "--refuse B6:5")
    check(bad["status"] != 0, "the refused upload fails the run")
    check(any(r.endswith(", failed") for r in bad["rows"]), "the failure row says failed: %s" % bad["rows"])
    check(bad["boxes"], "the failed road's boxes were read")
    if verbose or failures:
        for name, run in (("good", good), ("bad", bad)):
            print("== %s: page 1\n%s\n== finished\n%s" % (name, "\n".join(run["listing"]), "\n".join(run["finished"])))
            print("rows:", *run["rows"], sep="\n  ")
            steps = {step: [v for s, v in run["values"] if s == step] for step, _ in run["values"]}
            print("values:", {step: (len(v), v[0], v[-1]) for step, v in steps.items()}, "\nboxes:", run["boxes"])
    return 1 if failures else 0


os.makedirs(os.environ.setdefault("XDG_RUNTIME_DIR", tempfile.mkdtemp()), exist_ok=True)
sys.exit(main())
