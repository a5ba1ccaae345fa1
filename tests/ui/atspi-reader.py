#!/usr/bin/python3
# Reads an application's window over the accessibility bus (AT-SPI), and acts on
# its controls, as a screen reader does, for the window tests.
#
#   atspi-reader.py tree PID
#       prints one JSON object per accessible object of the application
#       with that process id: {"role", "name", "description"}
#   atspi-reader.py watch PID SECONDS [EVENT...]
#       prints "ready" once it listens, then one JSON object per event of that
#       application ({"event", "role", "name", "description", "text"}, the
#       text being what a text event carries), and ends after SECONDS; the
#       events are changes of accessible names unless others are named
#       ("object:text-changed", ...)
#   atspi-reader.py find PID ROLE NAME
#       waits for the application's object of that role whose name holds
#       NAME and prints it as tree does
#   atspi-reader.py act PID ROLE NAME toggle|type [TEXT]
#       waits for the application's object of that role whose name holds
#       NAME, then acts on it as a screen reader's user does: its "Toggle"
#       action, or, when it is enabled, its text set to TEXT; prints "done"
import json
import sys
import time

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, GLib  # noqa: E402


def application(pid):
    desktop = Atspi.get_desktop(0)
    apps = (desktop.get_child_at_index(index) for index in range(desktop.get_child_count()))
    return next((app for app in apps if app is not None and app.get_process_id() == pid), None)


def describe(node):
    return json.dumps({"role": node.get_role_name(), "name": node.get_name() or "",
                       "description": node.get_description() or ""}, ensure_ascii=False)


def nodes(node, depth=0):
    # The node and all below it, parents first; as deep as any window goes.
    yield node
    if depth > 40:
        return
    for index in range(node.get_child_count()):
        child = node.get_child_at_index(index)
        if child is not None:
            yield from nodes(child, depth + 1)


def tree(pid):
    app = application(pid)
    if app is None:
        print(f"no application with process id {pid} on the accessibility bus", file=sys.stderr)
        return 1
    for node in nodes(app):
        print(describe(node), flush=True)
    return 0


def watch(pid, seconds, kinds):
    def heard(event):
        source = event.source
        try:
            if source is None or source.get_process_id() != pid:
                return
            text = event.any_data if isinstance(event.any_data, str) else ""
            print(json.dumps({"event": event.type, "role": source.get_role_name(), "name": source.get_name() or "",
                              "description": source.get_description() or "", "text": text},
                             ensure_ascii=False), flush=True)
        except GLib.Error:
            pass

    kinds = kinds or ["object:property-change:accessible-name"]
    listener = Atspi.EventListener.new(heard)
    for kind in kinds:
        listener.register(kind)
    print("ready", flush=True)
    loop = GLib.MainLoop()
    GLib.timeout_add(int(seconds * 1000), loop.quit)
    loop.run()
    for kind in kinds:
        listener.deregister(kind)
    return 0


def await_object(pid, role, name):
    # The window registers on the bus a moment after its process starts.
    until = time.monotonic() + 30
    while time.monotonic() < until:
        app = application(pid)
        found = next((node for node in nodes(app) if node.get_role_name() == role
                      and name in (node.get_name() or "")), None) if app is not None else None
        if found is not None:
            return found
        time.sleep(0.1)
    print(f"no {role} named {name} in the application with process id {pid}", file=sys.stderr)
    return None


def find_one(pid, role, name):
    target = await_object(pid, role, name)
    if target is None:
        return 1
    print(describe(target), flush=True)
    return 0


def act(pid, role, name, action, text):
    target = await_object(pid, role, name)
    if target is None:
        return 1
    if action == "type":
        # Nobody can type into a field that is off, whatever the bus allows.
        enabled = target.get_state_set().contains(Atspi.StateType.ENABLED)
        done = enabled and Atspi.EditableText.set_text_contents(target, text)
    else:
        names = [Atspi.Action.get_action_name(target, i) for i in range(Atspi.Action.get_n_actions(target))]
        done = "Toggle" in names and Atspi.Action.do_action(target, names.index("Toggle"))
    print("done" if done else f"{action} refused by the {role}", flush=True)
    return 0 if done else 1


def main(argv):
    if len(argv) >= 3 and argv[1] == "tree":
        return tree(int(argv[2]))
    if len(argv) >= 4 and argv[1] == "watch":
        return watch(int(argv[2]), float(argv[3]), argv[4:])
    if len(argv) >= 5 and argv[1] == "find":
        return find_one(int(argv[2]), argv[3], argv[4])
    if len(argv) >= 6 and argv[1] == "act":
        return act(int(argv[2]), argv[3], argv[4], argv[5], argv[6] if len(argv) > 6 else "")
    print("usage: atspi-reader.py tree|watch|find|act PID ... (see the script's head)", file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
