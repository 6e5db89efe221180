"""The README's first command, on a fresh copy of the sources: it installs, builds and starts
Nolari in its own working folder on the demo song."""

import os
import shutil
import subprocess

import harness
from harness import check


def copy_sources(destination):
    files = subprocess.run(["git", "ls-files"], cwd=harness.SOURCE, capture_output=True, text=True,
                           check=True).stdout.split("\n")
    for name in filter(None, files):
        target = os.path.join(destination, name)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copy2(os.path.join(harness.SOURCE, name), target)


def main():
    with harness.Session() as s:
        tree = os.path.join(s.work, "nolari")
        copy_sources(tree)
        run = subprocess.Popen(["bash", "scripts/run.sh"], cwd=tree, env=s.env, stdin=subprocess.DEVNULL,
                               stdout=open(os.path.join(s.work, "run.out"), "w"), stderr=subprocess.STDOUT)
        s.children.append(run)
        log_path = os.path.join(tree, "run", "NolariLog.txt")

        def log():
            return open(log_path).read() if os.path.exists(log_path) else ""

        def started():
            check(run.poll() is None, "the run command ended early:\n" + open(os.path.join(s.work, "run.out")).read()[-3000:])
            return "before glutMainLoop()" in log()

        harness.wait_until(started, 900, "the run command to build and start Nolari")
        demo = os.path.join(tree, "assets", "demo.mid")
        cfg = open(os.path.join(tree, "run", "Nolari.cfg")).read()
        check(cfg.startswith("CURRENTSONG %s\n" % demo), "the seeded configuration does not name the demo song: %r" % cfg)
        check("before loadCurrentSong()" in log(), "the demo song was not loaded at start")
        check("starting directory %s" % os.path.join(tree, "run") in log(), "Nolari did not start in run/")
        s.wait_window()
        s.key("Escape")
        check(run.wait(20) == 0, "Nolari started by the run command did not exit cleanly")


harness.run(main)
