#!/usr/bin/python3
"""Stand-in for the pendant's HAL component: the same component name and pins, no device.

pendant.hal starts it like the real one (loadusr -Wn pendant). The test driver plays the pendant
by setting the outputs and reading the inputs over a Unix socket beside the INI file, one request
a line:  "set PIN VALUE" -> "ok",  "get PIN" -> the value,  anything wrong -> "error: why".
It starts as an unplugged pendant does: not connected, E-stop asserted; its watchdog pin changes
every 25 ms, as the component's does at each poll.
"""
import os
import signal
import socket
import sys
import threading
import time

import hal

AXES = "xyzabc"
ACTIONS = ("zero-x", "zero-y", "zero-z", "zero-a", "goto-zero", "stop", "home-all")
SOCKET_NAME = "pendant-standin.sock"


def make_component():
    c = hal.component("pendant")
    for a in AXES:
        c.newpin(f"axis.{a}.jog-counts", hal.HAL_S32, hal.HAL_OUT)
        c.newpin(f"axis.{a}.jog-scale", hal.HAL_FLOAT, hal.HAL_OUT)
        c.newpin(f"axis.{a}.jog-enable", hal.HAL_BIT, hal.HAL_OUT)
        c.newpin(f"axis.{a}.jog-plus", hal.HAL_BIT, hal.HAL_OUT)
        c.newpin(f"axis.{a}.jog-minus", hal.HAL_BIT, hal.HAL_OUT)
    for j in range(len(AXES)):
        c.newpin(f"joint.{j}.jog-plus", hal.HAL_BIT, hal.HAL_OUT)
        c.newpin(f"joint.{j}.jog-minus", hal.HAL_BIT, hal.HAL_OUT)
    c.newpin("jog-speed", hal.HAL_FLOAT, hal.HAL_OUT)
    c.newpin("dropped-counts", hal.HAL_S32, hal.HAL_OUT)
    c.newpin("watchdog", hal.HAL_BIT, hal.HAL_OUT)
    for knob in ("feed-override", "spindle-override"):
        c.newpin(f"{knob}.counts", hal.HAL_S32, hal.HAL_OUT)
        c.newpin(f"{knob}.count-enable", hal.HAL_BIT, hal.HAL_OUT)
        c.newpin(f"{knob}.direct-value", hal.HAL_BIT, hal.HAL_OUT)
        c.newpin(f"{knob}.scale", hal.HAL_FLOAT, hal.HAL_OUT)
        c.newpin(f"{knob}.value", hal.HAL_FLOAT, hal.HAL_IN)
    c.newpin("estop", hal.HAL_BIT, hal.HAL_OUT)
    c.newpin("connected", hal.HAL_BIT, hal.HAL_OUT)
    for indicator in (
            "machine-is-on", "estop-is-activated", "program-is-running", "is-homed", "coord-mode"):
        c.newpin(indicator, hal.HAL_BIT, hal.HAL_IN)
    for action in ACTIONS:
        c.newpin(f"action.{action}", hal.HAL_BIT, hal.HAL_OUT)
    c["estop"] = True
    return c


def keep_alive(c, lock):
    """Changes the watchdog pin as the component does at each poll."""
    while True:
        with lock:
            c["watchdog"] = not c["watchdog"]
        time.sleep(0.025)


def answer(c, line):
    words = line.split()
    try:
        if len(words) == 3 and words[0] == "set":
            try:
                value = int(words[2])
            except ValueError:
                value = float(words[2])
            c[words[1]] = value
            return "ok"
        if len(words) == 2 and words[0] == "get":
            return repr(c[words[1]])
    except (AttributeError, KeyError, ValueError, hal.error) as e:
        return f"error: {e}"
    return f"error: cannot read {line!r}"


def main():
    folder = os.path.dirname(os.environ.get("INI_FILE_NAME", "./x"))
    path = os.path.join(folder, SOCKET_NAME)
    c = make_component()
    if os.path.exists(path):
        os.unlink(path)
    server = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    server.bind(path)
    server.listen(1)
    # halcmd unload ends userspace components with SIGTERM: leave through hal_exit.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    c.ready()
    lock = threading.Lock()
    threading.Thread(target=keep_alive, args=(c, lock), daemon=True).start()
    try:
        while True:
            conn, _ = server.accept()
            with conn, conn.makefile("rw") as f:
                for line in f:
                    with lock:
                        reply = answer(c, line)
                    f.write(reply + "\n")
                    f.flush()
    finally:
        server.close()
        os.unlink(path)
        c.exit()


if __name__ == "__main__":
    main()
