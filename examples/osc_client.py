#!/usr/bin/python3
"""Prints a Quorlix wand's buttons, valuators and tracker pose as quorlix-host
publishes them over OSC (see docs/osc.md), each time they change.

usage: osc_client.py [PORT]        (default 7770)

Start the host with  quorlix-host --osc osc.udp://THIS-MACHINE:PORT/ ...
Needs Debian's python3-liblo; Ctrl-C ends it.
"""
import sys

import liblo

last = {}


def show(kind, args):
    device, entry, *values = args
    key = (kind, device, entry)
    if last.get(key) == values:  # a keyframe repeating what was shown
        return
    last[key] = values
    if kind == "buttons":
        text = " ".join(str(v) for v in values)
    else:
        text = " ".join(f"{v:+.3f}" for v in values)
    print(f"{device} {entry} {kind}: {text}", flush=True)


def handler(kind):
    return lambda path, args: show(kind, args)


def main():
    port = sys.argv[1] if len(sys.argv) > 1 else "7770"
    if not port.isdigit():
        sys.exit(f"osc_client.py: PORT is a number, not {port!r}")
    try:
        server = liblo.Server(int(port))
    except liblo.ServerError as error:
        sys.exit(f"osc_client.py: cannot listen on port {port}: {error}")
    for address, kind in (("/quorlix/controller/buttons", "buttons"),
                          ("/quorlix/controller/valuators", "valuators"),
                          ("/quorlix/tracker/pose", "pose")):
        server.add_method(address, None, handler(kind))
    print(f"listening on {server.url}", flush=True)
    try:
        while True:
            server.recv(100)
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    main()
