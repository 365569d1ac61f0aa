#!/usr/bin/python3
# What a screen reader hears, read through the desktop's accessibility bus
# (AT-SPI) from the real editor: names of the boxes, the find box and the list,
# the progress bar's value events during Read, no focused list entry while the
# find box has the focus, the value the bar shows once Read is done, the named
# working area, and the about window as a modal dialog with five pressable
# links, a site list of a fixed name and the text of its picture as its
# description.
#   accessibility_bridge_test.py EDITOR DEMO_RULES_FILE
# Runs inside a private session bus (dbus-run-session) on a private X display.
import os
import shutil
import subprocess
import sys
import tempfile
import time

import pyatspi
from gi.repository import GLib

EDITOR, DEMO = sys.argv[1], sys.argv[2]
STAT_NAMES = ["攻击力", "生命", "移动力", "视野", "建造时间", "护甲", "射程", "射程 -"]
FIND_TOOLTIP = "输入单位名称开头的几个字母"
SITE_NAMES = ["编辑器主页[更新与使用说明]", "塔文诺中文站[新闻与下载]", "战略游戏论坛[模组讨论区]",
              "游戏资料库[单位数据查询]", "模组工坊[模组与地图分享]"]

failures = []


def check(condition, what):
    print(("ok    " if condition else "FAIL  ") + what)
    if not condition:
        failures.append(what)


def pump(seconds):
    context = GLib.MainContext.default()
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        while context.iteration(False):
            pass
        time.sleep(0.02)


def wait_for(predicate, seconds=20):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        result = predicate()
        if result:
            return result
        pump(0.1)
    return None


def nodes(accessible):
    found = [accessible]
    for i in range(accessible.childCount):
        child = accessible.getChildAtIndex(i)
        if child is not None:
            found += nodes(child)
    return found


def by_role(app, role):
    return [n for n in nodes(app) if n.getRoleName() == role]


def editor_app():
    for app in pyatspi.Registry.getDesktop(0):
        if app is not None and app.name == "tarvenor-unit-editor":
            return app
    return None


def has(accessible, state):
    return accessible.getState().contains(state)


def action_names(accessible):
    try:
        action = accessible.queryAction()
    except NotImplementedError:
        return []
    return [action.getName(i) for i in range(action.nActions)]


def press(app, label_start):
    button = next(b for b in by_role(app, "push button") if b.name.startswith(label_start))
    button.queryAction().doAction(0)


def labelled_by(box):
    for relation in box.getRelationSet():
        if relation.getRelationType() == pyatspi.RELATION_LABELLED_BY:
            return [relation.getTarget(i).name for i in range(relation.getNTargets())]
    return []


def main():
    folder = tempfile.mkdtemp(prefix="tarvenor-atspi-")
    os.mkdir(os.path.join(folder, "data"))
    shutil.copy(DEMO, os.path.join(folder, "data", "unitrules.xml"))
    shutil.copy(EDITOR, os.path.join(folder, "tarvenor-unit-editor"))

    # The session bus starts the accessibility bus when it is first asked for.
    value_events = []
    pyatspi.Registry.registerEventListener(
        lambda event: value_events.append(event.source.queryValue().currentValue),
        "object:property-change:accessible-value")
    env = dict(os.environ, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_QPA_PLATFORM="xcb")
    editor = subprocess.Popen([os.path.join(folder, "tarvenor-unit-editor")], cwd=folder, env=env)
    try:
        app = wait_for(editor_app)
        check(app is not None, "the editor is on the accessibility bus")
        if app is None:
            return

        check([w.name for w in by_role(app, "frame")] == ["Tarvenor 单位编辑器 v1.0 Quorrin[Velmoth]"],
              "the main window is a window with its title")
        boxes = [t for t in by_role(app, "text") if t.name != FIND_TOOLTIP]
        check(sorted(b.name for b in boxes) == sorted(STAT_NAMES), "each stat box is named by its caption")
        captions_of = {b.name: labelled_by(b) for b in boxes}
        check(all(captions_of.get(name) for name in STAT_NAMES),
              "each stat box is labelled by its caption label: %s" % captions_of)
        check(len([t for t in by_role(app, "text") if t.name == FIND_TOOLTIP]) == 1,
              "the find box is named by its tooltip")
        check([l.name for l in by_role(app, "list")] == ["单位列表"], "the list is the unit list")
        bars = by_role(app, "progress bar")
        check(len(bars) == 1, "the progress strip is a progress bar")
        check([p.name for p in by_role(app, "panel")] == ["单位编辑区"], "the working area is a named panel")

        press(app, "读入数据")
        unit_list = wait_for(lambda: next((l for l in by_role(app, "list") if l.childCount > 0), None))
        check(unit_list is not None, "Read fills the unit list")
        # The events carry no value: each is read back when it arrives here,
        # which may be after the Read is over.
        check(wait_for(lambda: len(value_events) >= 10, 10), "Read sends progress value events (%d)" % len(value_events))
        if bars:
            rest = bars[0].queryValue().currentValue
            check(rest == 0, "after Read the bar's value is what its narrow rest shows, 0 (got %s)" % rest)
        if unit_list is None:
            return

        find = next((t for t in by_role(app, "text") if t.name == FIND_TOOLTIP), None)
        if find is None:
            return
        find.queryComponent().grabFocus()
        check(wait_for(lambda: has(find, pyatspi.STATE_FOCUSED), 5) is not None, "the find box takes the focus")
        first_letter = unit_list.getChildAtIndex(0).name[:1]
        find.queryEditableText().insertText(0, first_letter, len(first_letter))
        selected = wait_for(lambda: [i for i in range(unit_list.childCount)
                                     if has(unit_list.getChildAtIndex(i), pyatspi.STATE_SELECTED)], 5)
        check(bool(selected), "typing in the find box selects a unit")
        focused = [i for i in range(unit_list.childCount) if has(unit_list.getChildAtIndex(i), pyatspi.STATE_FOCUSED)]
        check(focused == [], "no list entry reports the focus while the find box has it (got %s)" % focused)

        press(app, "关于")
        dialog = wait_for(lambda: next(iter(by_role(app, "dialog")), None), 10)
        check(dialog is not None and has(dialog, pyatspi.STATE_MODAL), "the about window is a modal dialog")
        if dialog is not None:
            links = by_role(dialog, "link")
            check([l.name for l in links] == SITE_NAMES, "the logos are links named by their sites")
            check(all(action_names(l) == ["Press"] for l in links), "each logo can be pressed")
            check("修改前请备份资料文件" in dialog.description and "editor@example.com" in dialog.description,
                  "the about window describes the text of its picture (%r)" % dialog.description)
            sites = by_role(dialog, "combo box")
            check([c.name for c in sites] == ["相关网站"], "the site list has a name of its own (%s)"
                  % [c.name for c in sites])
    finally:
        editor.kill()
        editor.wait()
        shutil.rmtree(folder, ignore_errors=True)


main()
sys.exit(1 if failures else 0)
