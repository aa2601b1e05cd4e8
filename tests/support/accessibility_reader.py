#!/usr/bin/python3
# Reads what a screen reader sees of one process, over the accessibility bus (libatspi), and prints
# it as JSON for the tests:
#   accessibility_reader.py tree PID        the process's accessible tree, one JSON document
#   accessibility_reader.py listen PID KIND SECONDS [window]
#                                           "ready" once listening, then one JSON line per event of
#                                           KIND (such as object:announcement) from that process,
#                                           with the role and name of the object it came from; with
#                                           "window", also the tree of the window that object is in,
#                                           found as a screen reader finds a pop-up: from the object
#                                           up (pop-up windows are not among the application's
#                                           children); an event that cannot be read is one line
#                                           with "error"; with "window", each event also has a
#                                           "serial", and a line "window SERIAL" on stdin asks for
#                                           that event's window again, as it is now: one JSON line
#                                           of type "window"
# Exit status 2: no application of that process on the bus (for listen: none came within 20 s).
import json
import sys
import time

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, GLib  # noqa: E402

MAX_NODES = 4000


def application_of(pid):
    desktop = Atspi.get_desktop(0)
    for i in range(desktop.get_child_count()):
        app = desktop.get_child_at_index(i)
        if app is not None and app.get_process_id() == pid:
            return app
    return None


def states_of(node):
    states = []
    state_set = node.get_state_set()
    for state in state_set.get_states():
        states.append(Atspi.StateType(state).value_nick)
    return sorted(states)


def describe(node, budget):
    budget[0] -= 1
    entry = {
        "role": node.get_role_name(),
        "name": node.get_name() or "",
        "states": states_of(node),
        "children": [],
    }
    actions = node.get_action_iface()
    if actions is not None:
        entry["actions"] = [actions.get_action_name(i) for i in range(actions.get_n_actions())]
    component = node.get_component_iface()
    if component is not None:
        box = component.get_extents(Atspi.CoordType.SCREEN)
        entry["extents"] = [box.x, box.y, box.width, box.height]
    # What a combo box shows (its value), or a field's contents.
    text = node.get_text_iface()
    if text is not None:
        entry["text"] = text.get_text(0, text.get_character_count())
    for i in range(node.get_child_count()):
        if budget[0] <= 0:
            break
        child = node.get_child_at_index(i)
        if child is not None:
            entry["children"].append(describe(child, budget))
    return entry


def tree(pid):
    app = application_of(pid)
    if app is None:
        return 2
    print(json.dumps(describe(app, [MAX_NODES])))
    return 0


def window_of(node):
    while True:
        parent = node.get_parent()
        if parent is None or parent.get_role() == Atspi.Role.APPLICATION:
            return node
        node = parent


def await_listening(pid, seconds):
    """Waits until the application of `pid` is on the bus and has answered a question asked after the
    listener was registered. A toolkit sends an event only once it has taken in the registry's news
    of a listener for it, which reaches it as a signal that its main loop handles in turn with the
    questions: its answer comes after it. The registry alone knowing is not enough."""
    deadline = time.monotonic() + seconds
    context = GLib.MainContext.default()
    why = "process %d is not on the accessibility bus" % pid
    while time.monotonic() < deadline:
        while context.iteration(False):
            pass
        desktop = Atspi.get_desktop(0)
        desktop.clear_cache()
        app = application_of(pid)
        if app is not None:
            try:
                app.clear_cache()
                app.get_name()
                return None
            except GLib.Error as error:
                why = "the application of process %d did not answer: %s" % (pid, error.message)
        time.sleep(0.05)
    return why


def listen(pid, kind, seconds, with_window):
    loop = GLib.MainLoop()
    # The sources of the events heard, by serial, whose windows a request on stdin reads again.
    sources = []

    def on_event(event):
        source = event.source
        try:
            if source is None or source.get_process_id() != pid:
                return
            data = event.any_data
            entry = {
                "type": event.type,
                "data": data if isinstance(data, str) else None,
                "role": source.get_role_name(),
                "name": source.get_name() or "",
                "detail1": event.detail1,
            }
            if with_window:
                entry["serial"] = len(sources)
                sources.append(source)
                entry["window"] = describe(window_of(source), [MAX_NODES])
            print(json.dumps(entry), flush=True)
        except GLib.Error as error:
            # Said, not dropped: a test waiting for this event names why it was not heard.
            print(json.dumps({"type": event.type, "error": error.message}), flush=True)

    def on_request(channel, condition):
        line = sys.stdin.readline()
        if not line:
            return False
        entry = {"type": "window"}
        words = line.split()
        try:
            if len(words) != 2 or not words[1].isdigit() or int(words[1]) >= len(sources):
                entry["error"] = "no event %r was heard" % line.strip()
            else:
                entry["window"] = describe(window_of(sources[int(words[1])]), [MAX_NODES])
        except GLib.Error as error:
            entry["error"] = error.message
        print(json.dumps(entry), flush=True)
        return True

    listener = Atspi.EventListener.new(on_event)
    listener.register(kind)
    why = await_listening(pid, 20)
    if why is not None:
        print(why, file=sys.stderr)
        return 2
    print("ready", flush=True)
    if with_window:
        GLib.io_add_watch(GLib.IOChannel.unix_new(sys.stdin.fileno()), GLib.PRIORITY_DEFAULT,
                          GLib.IOCondition.IN | GLib.IOCondition.HUP, on_request)
    GLib.timeout_add(int(seconds * 1000), loop.quit)
    loop.run()
    listener.deregister(kind)
    return 0


def main(argv):
    Atspi.init()
    if len(argv) == 3 and argv[1] == "tree":
        return tree(int(argv[2]))
    if len(argv) in (5, 6) and argv[1] == "listen":
        with_window = len(argv) == 6 and argv[5] == "window"
        return listen(int(argv[2]), argv[3], float(argv[4]), with_window)
    print(__doc__ or "usage: tree PID | listen PID KIND SECONDS [window]", file=sys.stderr)
    return 64


if __name__ == "__main__":
    sys.exit(main(sys.argv))
