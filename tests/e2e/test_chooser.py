"""The song file chooser in the real program: the GTK open dialog asked for at start-up and by the
F key, a path typed into it (Ctrl+L, the path, Return) loading that song and storing it as
CURRENTSONG, a file that does not exist being refused by the dialog itself, and Escape cancelling
with the two log lines."""

import re
import time

import harness
from harness import check

STAMP = r"[A-Z][a-z]{2} [A-Z][a-z]{2} \d\d \d\d:\d\d:\d\d \d{4}: "

# The stamped account every dialog leaves in the log, in this order.
DIALOG_LINES = [
    r"vi\.dwBuildNumber: \d+",
    r"vi\.dwMajorVersion: \d+",
    r"vi\.dwMinorVersion: \d+",
    r"vi\.dwPlatformId: 0",
    r"vi\.szCSDVersion: Linux .+",
    r"sizeof\(OPENFILENAME\):88 OPENFILENAME_SIZE_VERSION_400A:76 OPENFILENAME_SIZE_VERSION_400W:76",
    r"before new CFileDialog",
    r"fileDlg->DoModal",
]

CANCEL_LINES = "ERROR: CFileDialog::DoModal returns IDCANCEL\nCommDlgExtendedError is 0 (0)\n"


def song_bytes(pitch):
    return harness.smf([[(0, bytes([0x90, pitch, 100])), (480, bytes([0x80, pitch, 0])),
                         (480, bytes([0x90, pitch + 2, 100])), (960, bytes([0x80, pitch + 2, 0]))]])


def dialog_count(s):
    return s.log().count("fileDlg->DoModal")


def open_dialog_window(s):
    ids = harness.wait_until(lambda: s.xdotool("search", "--onlyvisible", "--name", "^Open$").split(), 20,
                             "the file dialog window")
    s.xdotool("windowfocus", "--sync", ids[-1])
    return ids[-1]


def dialog_gone(s):
    return not s.xdotool("search", "--onlyvisible", "--name", "^Open$").split()


def type_path(s, path):
    s.xdotool("key", "--delay", "80", "ctrl+l", "ctrl+a")
    s.xdotool("type", "--delay", "15", path)
    s.xdotool("key", "Return")


def choose(s, path):
    """Types a path into the open dialog until the program stores it. A dialog that has just been
    mapped may still drop the first keys, so the typing is repeated, a bounded number of times."""
    wanted = "Cfg::setCurrentSong(%s)\n" % path
    for attempt in range(4):
        open_dialog_window(s)
        type_path(s, path)
        try:
            return harness.wait_until(lambda: wanted in s.log(), 5, "the chosen path to be stored")
        except harness.Failure:
            if attempt == 3:
                raise


def check_dialog_account(log, n):
    """The n-th dialog's eight stamped lines appear in order, with nothing between them."""
    pattern = "".join(STAMP + line + "\n" for line in DIALOG_LINES)
    blocks = re.findall(pattern, log)
    check(len(blocks) >= n, "dialog %d did not log its account in order:\n%s" % (n, log))


def expect_song_loaded(s, path):
    s.wait_file("Nolari.cfg", lambda text: ("CURRENTSONG " + path + "\n") in text)
    harness.wait_until(lambda: path in s.title(), 20, "the window title naming %s" % path)


def startup_dialog_refuses_missing_file_and_takes_typed_path():
    with harness.Session() as s:
        song = s.write_song("first song.mid", song_bytes(60))
        s.start()
        s.wait_log("fileDlg->DoModal")
        check_dialog_account(s.log(), 1)
        open_dialog_window(s)

        type_path(s, s.path("no such song.mid"))
        # The dialog keeps running: no result is logged and its window stays up; the path typed
        # next proves that it still takes input.
        before = s.log()
        time.sleep(1.5)
        check(s.log() == before, "a missing file ended the dialog:\n%s" % s.log())
        check(not dialog_gone(s), "the dialog closed on a file that does not exist")

        choose(s, song)
        s.wait_log("before glutMainLoop()")
        check("Cfg::setCurrentSong(%s)\n" % song in s.log(), "the chosen path was not stored")
        check("IDCANCEL" not in s.log(), "confirming a file was logged as a cancel")
        harness.wait_until(lambda: dialog_gone(s), 10, "the dialog window to disappear")
        s.wait_window()
        expect_song_loaded(s, song)
        s.key("Escape")
        check(s.wait_exit() == 0, "Esc did not end the program with status 0")
        check("CURRENTSONG " + song + "\n" in s.read("Nolari.cfg"), "the chosen song was not kept")


def f_key_opens_dialog_and_escape_cancels():
    with harness.Session() as s:
        first = s.write_song("first.mid", song_bytes(60))
        second = s.write_song("Second.MID", song_bytes(64))
        s.write_cfg(["CURRENTSONG " + first])
        s.start()
        s.wait_log("before glutMainLoop()")
        s.wait_window()
        check(dialog_count(s) == 0, "a configured song must not open the dialog")

        s.key("f")
        harness.wait_until(lambda: dialog_count(s) == 1, 20, "the dialog opened by F")
        check_dialog_account(s.log(), 1)
        choose(s, second)
        harness.wait_until(lambda: dialog_gone(s), 10, "the dialog window to disappear")
        expect_song_loaded(s, second)

        s.key("f")
        harness.wait_until(lambda: dialog_count(s) == 2, 20, "the second dialog")
        check_dialog_account(s.log(), 2)
        open_dialog_window(s)
        s.xdotool("key", "Escape")
        log = s.wait_log(CANCEL_LINES)
        check(log.endswith(CANCEL_LINES), "the cancel lines are not the last ones:\n%s" % log[-400:])
        harness.wait_until(lambda: dialog_gone(s), 10, "the cancelled dialog to disappear")
        check(s.title().find(second) >= 0, "cancelling changed the song")
        check("CURRENTSONG " + second + "\n" in s.read("Nolari.cfg"), "cancelling changed CURRENTSONG")

        s.key("Escape")
        check(s.wait_exit() == 0, "Esc did not end the program with status 0")


def main():
    startup_dialog_refuses_missing_file_and_takes_typed_path()
    f_key_opens_dialog_and_escape_cancels()


harness.run(main)
