#!/usr/bin/env python3
"""Plays notes into a JACK client and records all its audio outputs, sample-aligned.

usage: jack_notes.py CLIENT OUT.wav SECONDS
One note per track of the instrument (36 to 43), a quarter second apart, goes to CLIENT's
first MIDI input; every audio output of CLIENT is recorded from the same process cycles and
written as a 32-bit float WAV, so that non-finite samples survive for the check.
"""
import struct
import sys
import threading

import jack

FIRST_NOTE, NOTE_COUNT = 36, 8
SPACING, LENGTH, VELOCITY = 0.25, 0.2, 110  # seconds, seconds, MIDI velocity

target, out_path, seconds = sys.argv[1], sys.argv[2], float(sys.argv[3])
client = jack.Client("tarvo_notes", no_start_server=True)
dest = client.get_ports(target + ":", is_midi=True, is_input=True)[0].name
sources = [p.name for p in client.get_ports(target + ":", is_audio=True, is_output=True)]
midi_out = client.midi_outports.register("notes")
inputs = [client.inports.register("rec_%d" % i) for i in range(len(sources))]
rate = client.samplerate
total = int(seconds * rate)

events = []
for i in range(NOTE_COUNT):
    start = int(i * SPACING * rate)
    events.append((start, bytes([0x90, FIRST_NOTE + i, VELOCITY])))
    events.append((start + int(LENGTH * rate), bytes([0x80, FIRST_NOTE + i, 0])))
events.sort()

position = None  # frames recorded; None until every connection is made
next_event = 0
recorded = [[] for _ in inputs]
finished = threading.Event()


@client.set_process_callback
def process(frames):
    global position, next_event
    midi_out.clear_buffer()
    if position is None or finished.is_set():
        return
    while next_event < len(events) and events[next_event][0] < position + frames:
        at, data = events[next_event]
        midi_out.write_midi_event(max(0, at - position), data)
        next_event += 1
    n = min(frames, total - position)
    for port, chunks in zip(inputs, recorded):
        chunks.append(bytes(port.get_buffer()[: n * 4]))
    position += n
    if position >= total:
        finished.set()


with client:
    client.connect(midi_out, dest)
    for source, port in zip(sources, inputs):
        client.connect(source, port)
    position = 0
    if not finished.wait(seconds * 20 + 10):
        sys.exit("timeout: the JACK server did not run the process cycles")

channels = [struct.unpack("<%df" % (len(b"".join(c)) // 4), b"".join(c)) for c in recorded]
frames = min(len(c) for c in channels)
body = struct.pack("<%df" % (frames * len(channels)), *(c[i] for i in range(frames) for c in channels))
with open(out_path, "wb") as f:
    # RIFF header of an IEEE float (format 3) WAV
    f.write(b"RIFF" + struct.pack("<I", 36 + len(body)) + b"WAVE")
    f.write(b"fmt " + struct.pack("<IHHIIHH", 16, 3, len(channels), rate, rate * 4 * len(channels),
                                  4 * len(channels), 32))
    f.write(b"data" + struct.pack("<I", len(body)) + body)
print("recorded %d frames of %d outputs to %s" % (frames, len(channels), out_path))
