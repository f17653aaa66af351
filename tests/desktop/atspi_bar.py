#!/usr/bin/env python3
"""Looks at the running lanquill's group bar through AT-SPI, as a screen reader does.

Usage: atspi_bar.py tree              prints the bar as JSON: pages (name, selected, actions),
                                      the list shown (its name, items with name and states)
       atspi_bar.py press PAGE        performs the press action of the page tab named PAGE
       atspi_bar.py activate ITEM     performs the press action of the shown list's item ITEM
Ends with 1 and a reason when the program, its bar or the named object is not found.
"""
import json
import sys
import time

import pyatspi


def fail(reason):
    print(reason, file=sys.stderr)
    sys.exit(1)


def application():
    # The program registers with the registry some time after its window shows.
    for _ in range(100):
        desktop = pyatspi.Registry.getDesktop(0)
        for app in desktop:
            if app is not None and app.name.lower() == "lanquill":
                return app
        time.sleep(0.1)
    names = [app.name for app in pyatspi.Registry.getDesktop(0) if app is not None]
    fail(f"lanquill is not on the accessibility bus, only {names}")


def find(node, role, depth=0):
    if node is None or depth > 30:
        return None
    if node.getRole() == role:
        return node
    for child in node:
        found = find(child, role, depth + 1)
        if found is not None:
            return found
    return None


def bar():
    found = find(application(), pyatspi.ROLE_PAGE_TAB_LIST)
    if found is None:
        fail("no page tab list in lanquill's accessible tree")
    return found


def actions(node):
    action = node.queryAction()
    return [action.getName(i) for i in range(action.nActions)]


def states(node):
    state = node.getState()
    names = {pyatspi.STATE_SELECTED: "selected", pyatspi.STATE_FOCUSED: "focused",
             pyatspi.STATE_SHOWING: "showing", pyatspi.STATE_SELECTABLE: "selectable"}
    return [name for key, name in names.items() if state.contains(key)]


def shown_list(tabs):
    for child in tabs:
        if child.getRole() == pyatspi.ROLE_LIST:
            return child
    fail("the page tab list holds no list")


def perform(node, wanted):
    names = actions(node)
    if wanted not in names:
        fail(f"{node.name!r} offers {names}, not {wanted!r}")
    if not node.queryAction().doAction(names.index(wanted)):
        fail(f"{wanted!r} on {node.name!r} was refused")


def main():
    command = sys.argv[1] if len(sys.argv) > 1 else "tree"
    tabs = bar()
    if command == "tree":
        pages = [{"name": c.name, "states": states(c), "actions": actions(c)}
                 for c in tabs if c.getRole() == pyatspi.ROLE_PAGE_TAB]
        shown = shown_list(tabs)
        items = [{"name": c.name, "role": c.getRoleName(), "states": states(c),
                  "actions": actions(c)} for c in shown]
        print(json.dumps({"pages": pages, "list": shown.name, "items": items},
                         ensure_ascii=False))
    elif command == "press":
        for child in tabs:
            if child.getRole() == pyatspi.ROLE_PAGE_TAB and child.name == sys.argv[2]:
                perform(child, "Press")
                return
        fail(f"no page tab named {sys.argv[2]!r}")
    elif command == "activate":
        for child in shown_list(tabs):
            if child.name == sys.argv[2]:
                perform(child, "Press")
                return
        fail(f"no item named {sys.argv[2]!r} in the shown list")
    else:
        fail(f"unknown command {command!r}")


main()
