#!/usr/bin/env python3
"""The window's texts against what they lie on, as WCAG 2.1 reckons contrast, from the skin's own colours
(src/resources/wizard.qss and the painted ones in task_row_delegate.cpp). Prints every pair; fails on one under
4.5:1. contrast.py SOURCE_DIR"""
import re
import sys

source = sys.argv[1] if len(sys.argv) > 1 else "."
qss = open(source + "/src/resources/wizard.qss").read()
delegate = open(source + "/src/wizard/front/task_row_delegate.cpp").read()


def rule(selector):
    body = re.search(re.escape(selector) + r"\s*\{(.*?)\}", qss, re.S).group(1)
    return {m[0]: m[1].strip() for m in re.findall(r"([\w-]+)\s*:\s*([^;]+);", body)}


def colours(value):
    """The colours a value names: one, or a gradient's stops."""
    return re.findall(r"#([0-9a-fA-F]{6})", value)


def painted(name):
    return "%06x" % int(re.search(r"constexpr QRgb %s = 0x([0-9a-fA-F]{6});" % name, delegate).group(1), 16)


def luminance(hex_colour):
    channels = [int(hex_colour[i:i + 2], 16) / 255 for i in (0, 2, 4)]
    linear = [c / 12.92 if c <= 0.04045 else ((c + 0.055) / 1.055) ** 2.4 for c in channels]
    return 0.2126 * linear[0] + 0.7152 * linear[1] + 0.0722 * linear[2]


def ratio(a, b):
    high, low = sorted((luminance(a), luminance(b)), reverse=True)
    return (high + 0.05) / (low + 0.05)


page, frame, rows = rule("#PageText"), rule("#PageFrame"), rule("#TaskList")
header, button, title = rule("#TaskList QHeaderView::section"), rule("QPushButton"), rule("#TitleBand")
pairs = [
    ("page text", page["color"], colours(frame["background-color"])),
    ("page caption", frame["qproperty-captionColor"], colours(frame["background-color"])),
    ("rows", rows["color"], colours(rows["background-color"]) + colours(rows["alternate-background-color"])),
    ("rate beside a row's event", "#" + painted("kTailText"),
     colours(rows["background-color"]) + colours(rows["alternate-background-color"])),
    ("percentage on the bar's fill", "#" + painted("kFigureOnFill"),
     [painted(n) for n in ("kFillTop", "kFillMiddle", "kFillBottom")]),
    ("percentage on the empty bar", "#" + painted("kFigureOnTrough"),
     [painted(n) for n in ("kTroughTop", "kTroughBottom")]),
    ("column headers", header["color"], colours(header["background"])),
    ("buttons", button["color"], colours(button["background"])),
    # The caption sits in the band's left third: its first two stops.
    ("window title", title["color"], colours(title["background"])[:2]),
]
failed = False
for what, text, backgrounds in pairs:
    worst = min(ratio(colours(text)[0], b) for b in backgrounds)
    failed |= worst < 4.5
    print("%-30s %s on %s: %.2f:1%s" % (what, text, ", ".join("#" + b for b in backgrounds), worst,
                                          "" if worst >= 4.5 else "  UNDER 4.5:1"))
sys.exit(1 if failed else 0)
