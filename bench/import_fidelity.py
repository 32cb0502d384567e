#!/usr/bin/env python3
"""Import fidelity over a corpus: runs `tarvo fidelity` on every file and prints a Markdown
table of the figures per sound class and overall.

    bench/import_fidelity.py [--tarvo build/tarvo] [--json OUT.jsonl] FILE|FOLDER...

With no files it measures Debian's sonic-pi-samples drum and percussion hits
(/usr/share/sonic-pi/samples: bd_, drum_, elec_, perc_, sn_, tabla_) and the factory
sounds' source hits, which the factory generator writes on every build into
tools/factory/recordings of the build folder that holds the tool.
"""
import argparse
import glob
import json
import os
import subprocess
import sys

SONIC_PI = "/usr/share/sonic-pi/samples"
PREFIXES = ("bd_", "drum_", "elec_", "perc_", "sn_", "tabla_")

# A file's class: the first rule whose word is in its lower-cased path wins.
CLASSES = [
    ("kick", ("bd_", "kick", "bass", "/kick/")),
    ("hat", ("closed", "pedal", "hat")),
    ("cymbal", ("cymbal", "splash", "crash", "ride", "swash")),
    ("snare", ("sn_", "snare", "snap", "clap", "/rim/")),
    ("tom", ("tom",)),
    ("tabla", ("tabla",)),
]
SHORT_HIT_MS = 600.0  # recordings that fall 60 dB below peak within the plane


def sound_class(path):
    name = path.lower()
    for label, words in CLASSES:
        if any(w in name for w in words):
            return label
    return "percussion"


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    root = os.path.dirname(here)
    parser = argparse.ArgumentParser()
    parser.add_argument("--tarvo", default=os.path.join(root, "build", "tarvo"))
    parser.add_argument("--json", help="also write the per-file figures here")
    parser.add_argument("inputs", nargs="*")
    args = parser.parse_args()
    inputs = args.inputs
    if not inputs:
        inputs = sorted(f for f in glob.glob(os.path.join(SONIC_PI, "*.flac"))
                        if os.path.basename(f).startswith(PREFIXES))
        recordings = os.path.join(os.path.dirname(os.path.abspath(args.tarvo)), "tools", "factory", "recordings")
        if not os.path.isdir(recordings):
            sys.exit(f"no factory recordings in {recordings}: build the tool first")
        inputs.append(recordings)
    out = subprocess.run([args.tarvo, "fidelity", *inputs], check=True, capture_output=True, text=True)
    rows = [json.loads(line) for line in out.stdout.splitlines() if line.strip()]
    files = [r for r in rows if "path" in r and r.get("ok")]
    if args.json:
        with open(args.json, "w") as f:
            for r in files:
                f.write(json.dumps(r) + "\n")
    groups = {}
    for r in files:
        corpus = "factory" if "/recordings/" in r["path"] else "sonic-pi"
        groups.setdefault((corpus, sound_class(r["path"])), []).append(r)
    groups[("all", "all")] = files

    def mean(rs, key):
        return sum(r[key] for r in rs) / len(rs)

    print("| corpus | class | files | cell dB | envelope dB | spectrum dB | latest peak ms "
          "| worst short-hit end ms | loudest silent tail dB |")
    print("|---|---|---|---|---|---|---|---|---|")
    for (corpus, label), rs in sorted(groups.items(), key=lambda kv: (kv[0][0] == "all", kv[0])):
        short = [r for r in rs if r["recordingEndMs"] < SHORT_HIT_MS]
        worst_end = max((abs(r["replayEndMs"] - r["recordingEndMs"]) for r in short), default=0.0)
        print(f"| {corpus} | {label} | {len(rs)} | {mean(rs, 'cellDb'):.1f} | {mean(rs, 'envelopeDb'):.1f} "
              f"| {mean(rs, 'spectrumDb'):.1f} | {max(r['peakLateMs'] for r in rs):.0f} "
              f"| {worst_end:.0f} | {max(r['silentTailDb'] for r in rs):.0f} |")
    failed = [r for r in rows if "path" in r and not r.get("ok")]
    for r in failed:
        print(f"not measured: {r['path']}: {r.get('message')}", file=sys.stderr)


if __name__ == "__main__":
    main()
