"""A MIDI file as mido, an independent reader, sees it: the file's type and division, its track
names, and every channel message with its time in seconds from mido's own tempo handling.

Run as a program it prints one line per item, for the unit tests:
    type 0 tracks 1 division 1000
    name <track name>
    <seconds with 3 decimals> <hex bytes of the message>
"""

import sys

try:
    import mido
except ImportError:
    # Debian's python3-mido is installed for the system's Python; a python3 found first on the
    # path (pyenv, a virtual environment) reads the same pure-Python package from there.
    sys.path.append("/usr/lib/python3/dist-packages")
    import mido


def read(path):
    """(file, names, messages): messages as (seconds, bytes) in file order."""
    midi = mido.MidiFile(path)
    names = [m.name for track in midi.tracks for m in track if m.type == "track_name"]
    seconds = 0.0
    messages = []
    for message in midi:  # times in seconds, tempo applied
        seconds += message.time
        if not message.is_meta:
            messages.append((seconds, bytes(message.bytes())))
    return midi, names, messages


def main(path):
    midi, names, messages = read(path)
    print("type %d tracks %d division %d" % (midi.type, len(midi.tracks), midi.ticks_per_beat))
    for name in names:
        print("name " + name)
    for seconds, data in messages:
        print("%.3f %s" % (seconds, data.hex()))


if __name__ == "__main__":
    main(sys.argv[1])
