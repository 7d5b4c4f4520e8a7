#!/usr/bin/python3
"""Started by run_machine.sh beside LinuxCNC with AXIS as its display: waits for AXIS, brings the
machine up, turns the pendant's wheel and takes a screenshot of the X screen, then closes AXIS,
which ends LinuxCNC.

    axis_shot.py INI PNG                  the stand-in's pins are the wheel
    axis_shot.py INI PNG --vpendant MOUNT wheel turns are reports pushed to the virtual pendant
"""
import os
import subprocess
import sys
import time

import hal

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import driver  # noqa: E402  (beside this file)


def wait_for_axis(timeout=60.0):
    start = time.monotonic()
    while subprocess.run(["axis-remote", "--ping"], capture_output=True).returncode != 0:
        if time.monotonic() - start > timeout:
            raise SystemExit("axis_shot: AXIS did not come up")
        time.sleep(0.5)


def main():
    ini, png = sys.argv[1], sys.argv[2]
    wait_for_axis()
    me = hal.component("pendant-shot")
    me.ready()
    m = driver.Machine()
    if len(sys.argv) > 4 and sys.argv[3] == "--vpendant":
        p = driver.VirtualPendant(sys.argv[4], ini)
    else:
        p = driver.StandInPendant(os.path.dirname(os.path.abspath(ini)))
    try:
        driver.bring_up(m, p, time.time())
        # A few wheel turns: X and Y by hand, leaving a path in the preview.
        p.wheel("x", 2500, 0.01)
        m.settle("x")
        p.wheel("y", 1200, 0.01)
        m.settle("y")
        p.wheel("z", -150, 0.1)
        m.settle("z")
        time.sleep(2.0)  # AXIS redraws on its own poll
        subprocess.run(["import", "-window", "root", png], check=True)
        # Just the AXIS window, not the empty screen round it.
        subprocess.run(["convert", png, "-trim", "+repage", png], check=True)
    finally:
        subprocess.run(["axis-remote", "--quit"], capture_output=True)


if __name__ == "__main__":
    main()
