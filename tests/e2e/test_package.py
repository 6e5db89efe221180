"""The Debian package end to end: built by CPack from the build tree, checked by lintian, installed
with apt-get, started the way its desktop entry starts it (a song given relative to another folder,
the files kept in ~/.config/nolari), then purged without leaving a file behind."""

import glob
import os
import re
import shlex
import shutil
import subprocess
import tempfile

import harness
from harness import check

APT = ([] if os.geteuid() == 0 else ["sudo", "-n"]) + ["apt-get", "-y", "-q", "-o", "DPkg::Lock::Timeout=300"]
APT_ENV = dict(os.environ, DEBIAN_FRONTEND="noninteractive")


def run(command, timeout, **kwargs):
    result = subprocess.run(command, capture_output=True, text=True, timeout=timeout, **kwargs)
    check(result.returncode == 0, "%s failed (%d):\n%s%s" % (" ".join(command), result.returncode,
                                                            result.stdout[-3000:], result.stderr[-3000:]))
    return result.stdout


def installed():
    return subprocess.run(["dpkg-query", "-W", "-f=${Status}", "nolari"], capture_output=True,
                          text=True).stdout.startswith("install ok installed")


def build_package(out):
    run(["cpack", "-G", "DEB", "-B", out, "--config", os.path.join(harness.TOOLS, "CPackConfig.cmake")], 600)
    debs = glob.glob(os.path.join(out, "nolari_*_amd64.deb"))
    check(len(debs) == 1, "expected one nolari_<version>_amd64.deb in %s, found %r" % (out, os.listdir(out)))
    return debs[0]


def check_package(deb):
    info = run(["dpkg-deb", "-f", deb], 30)
    print(run(["dpkg", "-I", deb], 30))
    version = re.search(r"^Version: (\S+)$", info, re.M).group(1)
    check(os.path.basename(deb) == "nolari_%s_amd64.deb" % version, "package file named %s" % deb)
    depends = re.search(r"^Depends: (.*)$", info, re.M).group(1)
    for wanted in ("timgm6mb-soundfont | fluid-soundfont-gm", "libfluidsynth3", "librtmidi", "libgtk-3-0", "libsndfile1"):
        check(wanted in depends, "package does not depend on %r: %s" % (wanted, depends))
    check(re.search(r"^Recommends: fluid-soundfont-gm$", info, re.M), "no SoundFont recommended:\n" + info)
    lintian = subprocess.run(["lintian", "--no-tag-display-limit", deb], capture_output=True, text=True, timeout=300)
    print(lintian.stdout)
    errors = [line for line in lintian.stdout.splitlines() if line.startswith("E:")]
    check(not errors and lintian.returncode in (0, 1), "lintian errors:\n" + lintian.stdout + lintian.stderr)
    return version


def check_installed_files(version):
    files = [f for f in run(["dpkg", "-L", "nolari"], 30).splitlines() if os.path.isfile(f)]
    for wanted in ("/usr/bin/nolari", "/usr/bin/nolari-desktop", "/usr/share/applications/nolari.desktop",
                   "/usr/share/icons/hicolor/scalable/apps/nolari.svg",
                   "/usr/share/icons/hicolor/48x48/apps/nolari.png", "/usr/share/icons/hicolor/128x128/apps/nolari.png",
                   "/usr/share/icons/hicolor/256x256/apps/nolari.png", "/usr/share/man/man1/nolari.1.gz",
                   "/usr/share/nolari/demo.mid", "/usr/share/doc/nolari/copyright"):
        check(wanted in files, "%s not installed; the package holds %r" % (wanted, files))
    metainfo = [f for f in files if f.startswith("/usr/share/metainfo/")]
    check(len(metainfo) == 1, "one metainfo file expected: %r" % files)
    run(["desktop-file-validate", "/usr/share/applications/nolari.desktop"], 30)
    run(["appstreamcli", "validate", "--no-net", metainfo[0]], 60)
    check('<release version="%s"' % version in open(metainfo[0]).read(), "metainfo lacks release " + version)
    check(run(["nolari", "--version"], 10) == "nolari %s\n" % version, "--version does not say " + version)
    return files


def desktop_command(song):
    """The desktop entry's Exec line with its %f field filled in, as a launcher would run it."""
    text = open("/usr/share/applications/nolari.desktop").read()
    exec_line = re.search(r"^Exec=(.*)$", text, re.M).group(1)
    return [song if word == "%f" else word for word in shlex.split(exec_line)]


def start_from_the_desktop_entry(s, home):
    caller = os.path.join(s.work, "caller")
    os.makedirs(os.path.join(caller, "songs"))
    shutil.copy("/usr/share/nolari/demo.mid", os.path.join(caller, "songs", "ode.mid"))
    s.env["HOME"] = home
    s.env.pop("XDG_CONFIG_HOME", None)
    s.start_dir = os.path.join(home, ".config", "nolari")

    s.start(desktop_command("songs/ode.mid"), cwd=caller)
    s.wait_window()
    song = os.path.join(caller, "songs", "ode.mid")
    harness.wait_until(lambda: song in s.title(), 20, "the song's path in the title")
    check("CURRENTSONG %s\n" % song in s.read("Nolari.cfg"), "the song given did not become the current song")
    check("starting directory %s)" % s.start_dir in s.log(), "not started in ~/.config/nolari:\n" + s.log())
    s.key("Escape")
    check(s.wait_exit(15) == 0, "nolari did not exit cleanly")
    check(sorted(os.listdir(caller)) == ["songs"], "files left in the caller's folder: %r" % os.listdir(caller))
    strays = [f for f in os.listdir(home) if f.startswith("Nolari") or f.endswith((".cfg", ".xls"))]
    check(not strays, "files in the home folder itself: %r" % strays)


def main():
    check(harness.TOOLS and os.path.exists(os.path.join(harness.TOOLS, "CPackConfig.cmake")),
          "NOLARI_TOOLS does not name a configured build folder: %r" % harness.TOOLS)
    check(not installed(), "a nolari package is installed already; purge it before running this test")
    out = tempfile.mkdtemp(prefix="nolari-deb-")
    try:
        deb = build_package(out)
        version = check_package(deb)
        run(APT + ["install", "--no-install-recommends", deb], 600, env=APT_ENV)
        files = check_installed_files(version)
        with harness.Session() as s:
            start_from_the_desktop_entry(s, os.path.join(s.work, "home"))
        run(APT + ["purge", "nolari"], 600, env=APT_ENV)
        check(subprocess.run(["dpkg", "-L", "nolari"], capture_output=True).returncode != 0,
              "dpkg still lists nolari's files")
        left = [f for f in files if os.path.exists(f)]
        check(not left, "files left after purge: %r" % left)
    finally:
        if installed():
            subprocess.run(APT + ["purge", "nolari"], env=APT_ENV, capture_output=True, timeout=600)
        shutil.rmtree(out, ignore_errors=True)
    print("package: ok")


if __name__ == "__main__":
    main()
