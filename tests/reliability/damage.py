#!/usr/bin/env python3
"""Damaged packed files in bulk: makes real packed files and split sets with packtool-cli,
damages copies of them (truncation, a flipped bit, splicing, a missing volume; fixed seed) and
runs `packtool-cli test` and `packtool-cli unpack --yes` on each, over an old project file.

Promises checked for every case: no crash, no hang, no sanitizer report; exit status 0 or 1;
`test` and `unpack` agree; after a failed unpack the old project file is kept and nothing new
is left in the folder; every truncated file, truncated volume and incomplete set is reported
(exit 1), except a first volume cut short in a set of two: its sizes then look like a set of
smaller volumes, so only the decoder can notice, and it is counted like the other damage. For the other damage the format has no checksum, so some cases decode to wrong bytes
without a sign: they are counted per kind, with the detection rate.

Usage: damage.py PACKTOOL_CLI [--count N] [--seed S] [--workers W] [--json FILE] [--manifest]
With --manifest every packed file and set is made with `pack --manifest`, so its checksums
lie beside it (undamaged), as they do for sets packed that way.
Exit status 1 when a promise was broken."""
import argparse
import json
import os
import random
import shutil
import subprocess
import sys
import tempfile
from concurrent.futures import ThreadPoolExecutor

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from packtoolrun import Cli, project_bytes, read, write  # noqa: E402

OLD_PROJECT = b"the old project file, which a damaged packed file must not replace\n"
# Kinds of damage whose every case must be reported.
MUST_REPORT = {"truncate-file", "truncate-volume", "missing-volume"}
SANITIZER_SIGNS = ("ERROR: AddressSanitizer", "runtime error:", "ERROR: LeakSanitizer",
                   "UndefinedBehaviorSanitizer")


def volume_ext(index):
    digits = str(index)
    return "." + digits + "0KX"[len(digits):] if len(digits) < 3 else "." + digits


def make_sources(cli, base, rng, manifest=False):
    """Real packed files and sets: [(name, {file name: bytes}, project bytes)]."""
    sources = []
    specs = [(0, True), (1, True), (300, True), (5000, False), (20000, True), (60000, True),
             (60000, False), (150000, True)]
    for n, (size, compressible) in enumerate(specs):
        data = (project_bytes(size, seed=100 + n) if compressible
                else bytes(rng.randrange(256) for _ in range(size)))
        for split in (None, "1000", "7K", "30K"):
            if split and size < 4000:
                continue
            folder = tempfile.mkdtemp(dir=base)
            write(os.path.join(folder, "work.kmx"), data)
            args = ["pack", "work.kmx"] + (["--split", split] if split else []) + \
                (["--manifest"] if manifest else [])
            proc = cli.run(args, folder, timeout=600)
            if proc.returncode != 0:
                raise RuntimeError("cannot pack %s: %s" % (args, proc.stderr.decode()))
            files = {name: read(os.path.join(folder, name)) for name in os.listdir(folder)
                     if name != "work.kmx"}
            shutil.rmtree(folder)
            sources.append(("%d%s%s" % (size, "" if compressible else "r",
                                        "/" + split if split else ""), files, data))
    return sources


def flip_bit(data, rng):
    if not data:
        return data
    pos = rng.randrange(len(data))
    return data[:pos] + bytes([data[pos] ^ (1 << rng.randrange(8))]) + data[pos + 1:]


def make_case(sources, rng):
    """One damaged copy: (kind, source name, {file name: bytes}, project bytes)."""
    def packed_files(source):
        return [f for f in source[1] if not f.endswith(".sha256")]
    singles = [s for s in sources if packed_files(s) == ["work.0KX"]]
    sets = [s for s in sources if len(packed_files(s)) > 1]
    kind = rng.choice(["truncate-file", "truncate-volume", "missing-volume", "bitflip-file",
                       "bitflip-volume", "bitflip-header", "splice-file", "splice-volume"])
    if kind in ("truncate-file", "bitflip-file", "splice-file"):
        name, files, data = rng.choice(singles)
    else:
        name, files, data = rng.choice(sets)
    files = dict(files)
    # The damage is done to the packed files; a manifest beside them stays as it was.
    volumes = [f for f in files if not f.endswith(".sha256")]
    if kind == "truncate-file":
        whole = files["work.0KX"]
        files["work.0KX"] = whole[:rng.randrange(len(whole))]
    elif kind == "truncate-volume":
        target = rng.choice([v for v in volumes if files[v]])
        files[target] = files[target][:rng.randrange(len(files[target]))]
        name += " " + target
        if target == "work.0KX" and len(volumes) == 2 and not any(
                f.endswith(".sha256") for f in files):
            # Volume 0 of two: the sizes then fit a set of smaller volumes, and only the decoder
            # can notice the gap (the format holds no length and no checksum).
            kind = "truncate-first-of-two"
    elif kind == "missing-volume":
        count = int.from_bytes(files["work.0KX"][14:16], "little", signed=True)
        target = "work" + volume_ext(rng.randrange(1, count))
        del files[target]
        name += " " + target
    elif kind == "bitflip-file":
        files["work.0KX"] = flip_bit(files["work.0KX"], rng)
    elif kind == "bitflip-volume":
        target = rng.choice([v for v in volumes if files[v]])
        files[target] = flip_bit(files[target], rng)
        name += " " + target
    elif kind == "bitflip-header":
        head = files["work.0KX"]
        files["work.0KX"] = flip_bit(head[:16], rng) + head[16:]
    elif kind == "splice-file":
        other = rng.choice(singles)[1]["work.0KX"]
        whole = files["work.0KX"]
        cut = rng.randrange(len(whole) + 1)
        files["work.0KX"] = whole[:cut] + other[rng.randrange(len(other) + 1):]
    elif kind == "splice-volume":
        # A volume of another set takes the place of one of this set (same name).
        others = [s for s in sets if s[0] != name]
        target = rng.choice(volumes)
        donor = rng.choice(others)[1]
        if target in donor:
            files[target] = donor[target]
        else:
            pieces = [d for f, d in donor.items() if not f.endswith(".sha256")]
            files[target] = (files[target][:16] if target == "work.0KX" else b"") + \
                rng.choice(pieces)[16:]
        name += " " + target
    return kind, name, files, data


def run_cli(cli, args, cwd, timeout):
    """The exit status and text of a run, with a sanitizer's findings as exit statuses of
    their own; None and why for a run that hangs."""
    env = {"ASAN_OPTIONS": "exitcode=86:detect_leaks=1",
           "UBSAN_OPTIONS": "exitcode=87:print_stacktrace=1:halt_on_error=1"}
    try:
        return cli.run_text(args, cwd, env=env, timeout=timeout)
    except subprocess.TimeoutExpired:
        return None, "hang (killed after %d s)" % timeout


def check_case(cli, base, index, case, timeout):
    kind, name, files, data = case
    folder = os.path.join(base, "case%05d" % index)
    os.mkdir(folder)
    try:
        for fname, content in files.items():
            write(os.path.join(folder, fname), content)
        write(os.path.join(folder, "work.KMX"), OLD_PROJECT)
        before = sorted(os.listdir(folder))
        problems = []
        test_status, test_text = run_cli(cli, ["test", "work.0KX"], folder, timeout)
        unpack_status, unpack_text = run_cli(cli, ["unpack", "--yes", "work.0KX"], folder, timeout)
        for label, status, text in (("test", test_status, test_text),
                                    ("unpack", unpack_status, unpack_text)):
            if status is None:
                problems.append("%s: %s" % (label, text))
            elif status not in (0, 1) or any(sign in text for sign in SANITIZER_SIGNS):
                problems.append("%s: exit %s\n%s" % (label, status, text[-3000:]))
        after = sorted(os.listdir(folder))
        restored = read(os.path.join(folder, "work.KMX")) if "work.KMX" in after else None
        if after != before:
            problems.append("files before %s, after %s" % (before, after))
        # test judges the packed file, unpack the bytes it restores: test may call a file
        # damaged whose decoded bytes are still right (a checksum of the packed file differs,
        # data lies behind the end code), but never the other way round.
        if test_status == 0 and unpack_status == 1 or (
                test_status == 1 and unpack_status == 0 and restored != data):
            problems.append("test exit %d, unpack exit %d\ntest said:\n%s\nunpack said:\n%s" % (
                test_status, unpack_status, test_text[-600:], unpack_text[-600:]))
        if unpack_status == 1 and restored != OLD_PROJECT:
            problems.append("a failed unpack changed the old project file")
        if unpack_status == 0 and restored == OLD_PROJECT:
            problems.append("unpack said restored but the old project file is there")
        if kind in MUST_REPORT and unpack_status == 0:
            problems.append("not reported: restored %s bytes" % (len(restored) if restored else 0))
        if unpack_status == 1:
            outcome = "detected"
        elif unpack_status == 0 and restored == data:
            outcome = "harmless"
        elif unpack_status == 0:
            outcome = "undetected"
        else:
            outcome = "broken"
        return kind, name, outcome, problems
    finally:
        shutil.rmtree(folder, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("cli")
    parser.add_argument("--count", type=int, default=10000)
    parser.add_argument("--seed", type=int, default=2026)
    parser.add_argument("--workers", type=int, default=2)
    parser.add_argument("--timeout", type=int, default=60)
    parser.add_argument("--json")
    parser.add_argument("--manifest", action="store_true",
                        help="pack with --manifest: the checksums lie beside every packed file")
    args = parser.parse_args()
    cli = Cli(args.cli)
    rng = random.Random(args.seed)

    with tempfile.TemporaryDirectory(prefix="packtool-damage-") as base:
        sources = make_sources(cli, base, rng, args.manifest)
        cases = [make_case(sources, rng) for _ in range(args.count)]
        with ThreadPoolExecutor(max_workers=args.workers) as pool:
            results = list(pool.map(lambda item: check_case(cli, base, item[0], item[1], args.timeout),
                                    enumerate(cases)))

    table = {}
    broken = []
    for index, (kind, name, outcome, problems) in enumerate(results):
        row = table.setdefault(kind, {"cases": 0, "detected": 0, "undetected": 0, "harmless": 0,
                                      "broken": 0})
        row["cases"] += 1
        row[outcome] += 1
        if problems:
            broken.append((index, kind, name, problems))
    print("%-16s %6s %9s %11s %9s %10s" % ("damage", "cases", "detected", "undetected",
                                           "harmless", "detection"))
    total = {"cases": 0, "detected": 0, "undetected": 0, "harmless": 0, "broken": 0}
    for kind in sorted(table):
        row = table[kind]
        for key in total:
            total[key] += row[key]
        changed = row["detected"] + row["undetected"]
        rate = 100.0 * row["detected"] / changed if changed else 100.0
        print("%-16s %6d %9d %11d %9d %9.2f%%" % (kind, row["cases"], row["detected"],
                                                  row["undetected"], row["harmless"], rate))
    changed = total["detected"] + total["undetected"]
    print("%-16s %6d %9d %11d %9d %9.2f%%" % ("all", total["cases"], total["detected"],
                                              total["undetected"], total["harmless"],
                                              100.0 * total["detected"] / changed if changed else 100.0))
    print("(detection: reported cases among those whose bytes would have come out wrong; "
          "harmless: restored the original bytes)")
    for index, kind, name, problems in broken[:20]:
        print("BROKEN case %d (%s, %s):\n  %s" % (index, kind, name, "\n  ".join(problems)))
    print("%d cases, %d broke a promise" % (len(results), len(broken)))
    if args.json:
        with open(args.json, "w") as f:
            json.dump({"seed": args.seed, "count": args.count, "kinds": table,
                       "broken": len(broken)}, f, indent=1)
    return 1 if broken else 0


if __name__ == "__main__":
    sys.exit(main())
