#!/usr/bin/python3
# Reads an application's window over the accessibility bus (AT-SPI), as a
# screen reader does, for the window tests.
#
#   atspi-reader.py tree PID
#       prints one JSON object per accessible object of the application
#       with that process id: {"role", "name", "description"}
#   atspi-reader.py watch PID SECONDS
#       prints "ready" once it listens, then one JSON object per change of an
#       accessible name in that application ({"name", "description"}), and
#       ends after SECONDS
import json
import sys

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, GLib  # noqa: E402


def application(pid):
    desktop = Atspi.get_desktop(0)
    for index in range(desktop.get_child_count()):
        app = desktop.get_child_at_index(index)
        if app is not None and app.get_process_id() == pid:
            return app
    return None


def describe(node):
    return {"role": node.get_role_name(), "name": node.get_name() or "",
            "description": node.get_description() or ""}


def walk(node, depth=0):
    print(json.dumps(describe(node), ensure_ascii=False), flush=True)
    if depth > 40:
        return
    for index in range(node.get_child_count()):
        child = node.get_child_at_index(index)
        if child is not None:
            walk(child, depth + 1)


def tree(pid):
    app = application(pid)
    if app is None:
        print(f"no application with process id {pid} on the accessibility bus", file=sys.stderr)
        return 1
    walk(app)
    return 0


def watch(pid, seconds):
    def changed(event):
        source = event.source
        try:
            if source is None or source.get_process_id() != pid:
                return
            print(json.dumps({"name": source.get_name() or "", "description": source.get_description() or ""},
                             ensure_ascii=False), flush=True)
        except GLib.Error:
            pass

    listener = Atspi.EventListener.new(changed)
    listener.register("object:property-change:accessible-name")
    print("ready", flush=True)
    loop = GLib.MainLoop()
    GLib.timeout_add(int(seconds * 1000), loop.quit)
    loop.run()
    listener.deregister("object:property-change:accessible-name")
    return 0


def main(argv):
    if len(argv) >= 3 and argv[1] == "tree":
        return tree(int(argv[2]))
    if len(argv) >= 4 and argv[1] == "watch":
        return watch(int(argv[2]), float(argv[3]))
    print(__doc__ or "usage: atspi-reader.py tree PID | watch PID SECONDS", file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
