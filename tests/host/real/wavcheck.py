#!/usr/bin/env python3
"""Checks renders of the instrument made by real hosts.

usage: wavcheck.py FILE.wav... [--same A.wav B.wav] [--value SET RESTORED]
Every file must hold finite samples and sound (peak above SILENCE). --same: the two files
must have about the same level (a restored state plays like the saved one). --value: a
control read back after reopening must equal the value set before saving.
Prints peak and RMS per file; exits 1 on the first fault found.
"""
import math
import struct
import sys

SILENCE = 1e-3         # peak below this counts as no sound at all
SAME_LEVEL_DB = 1.5    # RMS difference allowed between a session and its reopened copy
VALUE_TOLERANCE = 1e-3


def read_wav(path):
    """Returns (rate, channels, samples): samples as floats, interleaved."""
    with open(path, "rb") as f:
        data = f.read()
    if data[:4] != b"RIFF" or data[8:12] != b"WAVE":
        raise ValueError("%s: not a WAV file" % path)
    pos, fmt, body = 12, None, None
    while pos + 8 <= len(data):
        cid, size = data[pos:pos + 4], struct.unpack("<I", data[pos + 4:pos + 8])[0]
        chunk = data[pos + 8:pos + 8 + size]
        if cid == b"fmt ":
            fmt = struct.unpack("<HHIIHH", chunk[:16])
            if fmt[0] == 0xFFFE and len(chunk) >= 26:  # extensible: the sub-format's tag
                fmt = (struct.unpack("<H", chunk[24:26])[0],) + fmt[1:]
        elif cid == b"data":
            body = chunk
        pos += 8 + size + (size & 1)
    if fmt is None or body is None:
        raise ValueError("%s: no fmt or data chunk" % path)
    tag, channels, rate, _, _, bits = fmt
    if tag == 3 and bits == 32:
        samples = struct.unpack("<%df" % (len(body) // 4), body[: len(body) // 4 * 4])
    elif tag == 1 and bits == 16:
        samples = [s / 32768.0 for s in struct.unpack("<%dh" % (len(body) // 2), body[: len(body) // 2 * 2])]
    elif tag == 1 and bits == 24:
        samples = [int.from_bytes(body[i:i + 3], "little", signed=True) / 8388608.0
                   for i in range(0, len(body) - 2, 3)]
    elif tag == 1 and bits == 32:
        samples = [s / 2147483648.0 for s in struct.unpack("<%di" % (len(body) // 4), body[: len(body) // 4 * 4])]
    else:
        raise ValueError("%s: unsupported sample format %d/%d bits" % (path, tag, bits))
    return rate, channels, samples


def measure(path):
    rate, channels, samples = read_wav(path)
    bad = sum(1 for s in samples if not math.isfinite(s))
    finite = [s for s in samples if math.isfinite(s)]
    peak = max((abs(s) for s in finite), default=0.0)
    rms = math.sqrt(sum(s * s for s in finite) / len(finite)) if finite else 0.0
    frames = len(samples) // max(channels, 1)
    print("%s: %d Hz, %d ch, %.2f s, peak %.4f (%.1f dBFS), RMS %.4f (%.1f dBFS), non-finite %d"
          % (path, rate, channels, frames / rate, peak, db(peak), rms, db(rms), bad))
    return peak, rms, bad


def db(x):
    return 20 * math.log10(x) if x > 0 else float("-inf")


def main(argv):
    files, same, value = [], None, None
    i = 0
    while i < len(argv):
        if argv[i] == "--same":
            same = argv[i + 1:i + 3]; files += same; i += 3
        elif argv[i] == "--value":
            value = argv[i + 1:i + 3]; i += 3
        else:
            files.append(argv[i]); i += 1
    levels = {}
    faults = []
    for path in dict.fromkeys(files):
        try:
            peak, rms, bad = measure(path)
        except (OSError, ValueError) as e:
            faults.append(str(e)); continue
        levels[path] = rms
        if bad:
            faults.append("%s: %d samples are not finite" % (path, bad))
        if peak < SILENCE:
            faults.append("%s: silent (peak %.2g)" % (path, peak))
    if same and all(p in levels for p in same):
        a, b = (levels[p] for p in same)
        if a > 0 and b > 0 and abs(db(a) - db(b)) > SAME_LEVEL_DB:
            faults.append("reopened session plays at %.1f dB, saved one at %.1f dB" % (db(b), db(a)))
    if value:
        try:
            set_value, restored = float(value[0]), float(value[1])
        except (ValueError, IndexError):
            faults.append("control value missing (set %r, restored %r)" % tuple(value + ["", ""])[:2])
        else:
            if abs(set_value - restored) > VALUE_TOLERANCE * max(1.0, abs(set_value)):
                faults.append("control set to %g came back as %g" % (set_value, restored))
            else:
                print("control restored: set %g, read back %g" % (set_value, restored))
    for fault in faults:
        print("FAULT:", fault)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
