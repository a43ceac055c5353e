"""packtool-cli under failing writes (ENOSPC), reads (EIO) and renames, through the preloaded
fault library: every write of a pack, a split pack and an unpack of about 1 MB, reads of each file
the job reads (project file, packed file, each volume, the joined file), the final rename. After each fault: exit status 1, a message naming the failure, the project file as
it was, and nothing else in the folder.

Usage: test_cli_faults.py PACKTOOL_CLI FAULTSHIM_LIBRARY"""
import os
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from packtoolrun import Checks, Cli, folder, project_bytes, read, write  # noqa: E402

PROJECT = project_bytes(1000 * 1000, seed=7)
SPLIT = "60K"


def main():
    if len(sys.argv) < 3 or not sys.argv[2]:
        print("no fault library in a sanitizer build: nothing to run")
        return 0
    cli = Cli(sys.argv[1], sys.argv[2])
    checks = Checks()
    with tempfile.TemporaryDirectory(prefix="packtool-faults-") as work:
        project = os.path.join(work, "work.kmx")
        write(project, PROJECT)

        def clean():
            for name in os.listdir(work):
                if name != "work.kmx":
                    os.unlink(os.path.join(work, name))

        def expect_failed(case, status, text, message):
            checks.expect(status == 1, case, "exit status %d, not 1" % status)
            checks.expect(message in text, case, "no %r in the output:\n%s" % (message, text))
            checks.expect(folder(work) == ["work.kmx"], case, "left behind: %s" % folder(work))
            checks.expect(read(project) == PROJECT, case, "the project file changed")
            clean()

        # Reference runs: what a pack and a split pack write and read when nothing fails.
        pack_io = cli.io_log(["pack", "work.kmx"], work)
        packed = read(os.path.join(work, "work.0KX"))
        clean()
        split_io = cli.io_log(["pack", "--split", SPLIT, "work.kmx"], work)
        volumes = {name: read(os.path.join(work, name)) for name in folder(work) if name != "work.kmx"}
        clean()

        pack_writes = [e for e in pack_io if e[0] == "w"]
        split_writes = [e for e in split_io if e[0] == "w"]
        checks.expect(len(pack_writes) > 50, "reference", "only %d writes" % len(pack_writes))
        checks.expect(len(volumes) >= 2, "reference", "volumes: %s" % sorted(volumes))

        # Every write of a pack, then every write of the split that follows it.
        for n in range(1, len(pack_writes) + 1):
            status, text = cli.run_text(["pack", "work.kmx"], work, {"FAULTSHIM_WRITE_NTH": n})
            expect_failed("pack write %d" % n, status, text, "Disk Error - File Write Error")
        for n in range(len(pack_writes) + 1, len(split_writes) + 1):
            status, text = cli.run_text(["pack", "--split", SPLIT, "work.kmx"], work,
                                   {"FAULTSHIM_WRITE_NTH": n})
            expect_failed("split write %d (%s)" % (n, split_writes[n - 1][2]), status, text,
                          "Disk Error - File Write Error")
        # The disk fills up inside the last piece of the packed file and of the last volume.
        for case, args, budget in (("pack", ["pack", "work.kmx"], len(packed) - 1),
                                   ("split", ["pack", "--split", SPLIT, "work.kmx"],
                                    len(packed) + sum(map(len, volumes.values())) - 1)):
            status, text = cli.run_text(args, work, {"FAULTSHIM_WRITE_AFTER": budget})
            expect_failed("%s, disk full after %d bytes" % (case, budget), status, text,
                          "Disk Error - File Write Error")

        # Reads of the project file (pack) and of the moved packed stream (split).
        for offset in (0, 4096, 500000, len(PROJECT) - 1):
            status, text = cli.run_text(["pack", "work.kmx"], work,
                                   {"FAULTSHIM_READ_MATCH": "work.kmx", "FAULTSHIM_READ_AFTER": offset})
            expect_failed("project read fails at %d" % offset, status, text,
                          "Disk Error - File Read Error")
        for offset in (0, 10000, len(packed) // 2, len(packed) - 1):
            status, text = cli.run_text(["pack", "--split", SPLIT, "work.kmx"], work,
                                   {"FAULTSHIM_READ_MATCH": "/tmp_", "FAULTSHIM_READ_AFTER": offset})
            expect_failed("split read fails at %d" % offset, status, text,
                          "Disk Error - File Read Error")

        # The finished packed file cannot be renamed to its name; in a split pack, the renames
        # are the volumes' into their names at the end, volume 0 last (the stream is not moved).
        status, text = cli.run_text(["pack", "work.kmx"], work, {"FAULTSHIM_RENAME_FAIL": 1})
        expect_failed("pack rename", status, text, "Disk Error - File Write Error")
        for n in range(1, len(volumes) + 1):
            status, text = cli.run_text(["pack", "--split", SPLIT, "work.kmx"], work,
                                   {"FAULTSHIM_RENAME_NTH": n})
            expect_failed("split rename %d" % n, status, text, "Disk Error - File Write Error")

        # Nothing failed: the fault library itself changes nothing.
        status, _ = cli.run_text(["pack", "work.kmx"], work, {"FAULTSHIM_WRITE_NTH": len(pack_writes) + 1})
        checks.expect(status == 0 and read(os.path.join(work, "work.0KX")) == packed,
                      "pack without a fault", "status %d" % status)
        clean()

        runs_before = cli.runs
        unpack_faults(cli, checks, work, clean)
        runs_unpack = cli.runs
        split_faults(cli, checks, work, clean)
        runs_split = cli.runs
        older_set_faults(cli, checks, work, clean)
        print("packtool-cli runs: %d for pack and split, %d for unpack, %d for split of a packed "
              "file, %d for a split pack over an older set"
              % (runs_before, runs_unpack - runs_before, runs_split - runs_unpack, cli.runs - runs_split))

    checks.finish("cli faults")


def unpack_faults(cli, checks, work, clean):
    """Unpack of the whole packed file and of the set over an old project file: every write,
    the disk filling up, reads of the packed file, of each volume and of the joined file, and
    the final rename."""
    old = b"the project file as it was before the unpack\n"
    restored_path = os.path.join(work, "work.KMX")
    for split in (None, SPLIT):
        clean()
        cli.run_text(["pack", "work.kmx"] + (["--split", split] if split else []), work)
        inputs = folder(work)
        write(restored_path, old)
        args = ["unpack", "--yes", "work.0KX"]
        io = cli.io_log(args, work)
        checks.expect(read(restored_path) == PROJECT, "unpack reference", "restored file differs")
        write(restored_path, old)
        what = "set" if split else "whole"

        def expect_kept(case, status, text, messages):
            checks.expect(status == 1, case, "exit status %d, not 1" % status)
            checks.expect(any(m in text for m in messages), case,
                          "none of %s in the output:\n%s" % (messages, text))
            checks.expect(folder(work) == sorted(inputs + ["work.KMX"]), case,
                          "left behind: %s" % folder(work))
            checks.expect(read(restored_path) == old, case, "the old project file changed")
            write(restored_path, old)

        write_errors = ("Disk Error - File Write Error",)
        writes = [e for e in io if e[0] == "w"]
        for n in range(1, len(writes) + 1):
            status, text = cli.run_text(args, work, {"FAULTSHIM_WRITE_NTH": n})
            expect_kept("%s unpack write %d (%s)" % (what, n, writes[n - 1][2][:4]), status, text,
                        write_errors)
        total = sum(e[1] for e in writes)
        for budget in (0, total // 2, total - 1):
            status, text = cli.run_text(args, work, {"FAULTSHIM_WRITE_AFTER": budget})
            expect_kept("%s unpack, disk full after %d" % (what, budget), status, text, write_errors)

        # Reads: each file the unpack reads, at its start, middle and last byte.
        read_errors = ("Disk Error - File Read Error", "Invalid file format")
        read_files = sorted({e[2] for e in io if e[0] == "r"})
        for name in read_files:
            size = sum(e[1] for e in io if e[0] == "r" and e[2] == name)
            match = "/tmp_" if name.startswith("tmp_") else "/" + name
            for offset in sorted({0, size // 2, max(size - 1, 0)}):
                status, text = cli.run_text(args, work, {"FAULTSHIM_READ_MATCH": match,
                                                    "FAULTSHIM_READ_AFTER": offset})
                expect_kept("%s unpack, read of %s fails at %d" % (what, name[:4] if name.startswith("tmp_") else name, offset),
                            status, text, read_errors)
        checks.expect(any(n.startswith("tmp_") for n in read_files) == bool(split),
                      what, "joined file read: %s" % read_files)

        status, text = cli.run_text(args, work, {"FAULTSHIM_RENAME_FAIL": 1})
        expect_kept("%s unpack rename" % what, status, text, write_errors)


def snapshot(work):
    return {name: read(os.path.join(work, name)) for name in folder(work)}


def restore(work, files):
    for name in folder(work):
        if name not in files:
            os.unlink(os.path.join(work, name))
    for name, data in files.items():
        write(os.path.join(work, name), data)


def split_faults(cli, checks, work, clean):
    """`split SIZE work.0KX` of the user's only packed file: every write, reads of the packed
    file, every rename, and every question answered No or Cancel leave work.0KX byte for byte
    and nothing else; the message says it was left as it was."""
    clean()
    cli.run_text(["pack", "work.kmx"], work)
    before = snapshot(work)
    args = ["split", SPLIT, "work.0KX"]
    io = cli.io_log(args, work)
    count = len(folder(work)) - 1
    checks.expect(count >= 3, "split reference", "volumes: %s" % folder(work))
    restore(work, before)
    left = "'work.0KX' was left as it was; no volume of a new set was kept."

    def expect_kept(case, status, text, message, extra=None):
        checks.expect(status == 1, case, "exit status %d, not 1" % status)
        checks.expect(message in text and left in text, case, "no %r in the output:\n%s" % (message, text))
        expected = dict(before, **(extra or {}))
        checks.expect(snapshot(work) == expected, case, "folder: %s" % folder(work))
        restore(work, before)

    writes = [e for e in io if e[0] == "w"]
    for n in range(1, len(writes) + 1):
        status, text = cli.run_text(args, work, {"FAULTSHIM_WRITE_NTH": n})
        expect_kept("split write %d" % n, status, text, "Disk Error - File Write Error")
    total = sum(e[1] for e in writes)
    for budget in (0, total // 2, total - 1):
        status, text = cli.run_text(args, work, {"FAULTSHIM_WRITE_AFTER": budget})
        expect_kept("split, disk full after %d" % budget, status, text, "Disk Error - File Write Error")
    size = len(before["work.0KX"])
    for offset in (0, 10000, size // 2, size - 1):
        status, text = cli.run_text(args, work, {"FAULTSHIM_READ_MATCH": "/work.0KX",
                                            "FAULTSHIM_READ_AFTER": offset})
        expect_kept("split, read fails at %d" % offset, status, text, "Disk Error - File Read Error")
    for n in range(1, count + 1):
        status, text = cli.run_text(args, work, {"FAULTSHIM_RENAME_NTH": n})
        expect_kept("split rename %d" % n, status, text, "Disk Error - File Write Error")
    # A file with a later volume's name: No, Cancel for want of a terminal; asked before any
    # volume is written.
    other = {"work.2KX": b"not a volume"}
    for flags in (["--no"], []):
        write(os.path.join(work, "work.2KX"), other["work.2KX"])
        status, text = cli.run_text(["split"] + flags + [SPLIT, "work.0KX"], work)
        case = "split, question answered %s" % (flags or "without a terminal")
        checks.expect("Creating split file" not in text, case, "volumes written first:\n%s" % text)
        # Without a terminal the console's "answered Cancel" says it, and only once.
        expect_kept(case, status, text,
                    "Operation Aborted by User" if flags else "answered Cancel", other)
    status, text = cli.run_text(args, work)
    checks.expect(status == 0 and len(folder(work)) == count + 1, "split without a fault",
                  "status %d, folder %s\n%s" % (status, folder(work), text))


def older_set_faults(cli, checks, work, clean):
    """`pack --split` over the set of an older version of the project: a failing write, read or
    rename of the split, or a No, leaves the older set byte for byte (and the new project file);
    nothing of the new set is left beside it."""
    clean()
    project = os.path.join(work, "work.kmx")
    older = PROJECT[:10000] + b"an older version of this project " * 4 + PROJECT[10132:]
    write(project, older)
    cli.run_text(["pack", "--split", SPLIT, "work.kmx"], work)
    write(project, PROJECT)
    before = snapshot(work)
    count = len(before) - 1
    args = ["pack", "--yes", "--split", SPLIT, "work.kmx"]
    io = cli.io_log(args, work)
    after = snapshot(work)
    checks.expect(set(after) == set(before) and after != before, "older set reference",
                  "folder: %s" % sorted(after))
    restore(work, before)

    def expect_older(case, status, text, message):
        checks.expect(status == 1, case, "exit status %d, not 1" % status)
        checks.expect(message in text, case, "no %r in the output:\n%s" % (message, text))
        checks.expect(snapshot(work) == before, case, "folder: %s" % folder(work))
        restore(work, before)

    writes = [e for e in io if e[0] == "w"]
    first_volume_write = next(i for i, e in enumerate(writes) if e[2].startswith("tmp_") and
                              i > 0 and writes[i - 1][2] != e[2]) + 1
    for n in range(first_volume_write, len(writes) + 1):
        status, text = cli.run_text(args, work, {"FAULTSHIM_WRITE_NTH": n})
        expect_older("over an older set, write %d" % n, status, text, "Disk Error - File Write Error")
    stream = sum(e[1] for e in writes[:first_volume_write - 1])
    for offset in (0, stream // 2, stream - 1):
        status, text = cli.run_text(args, work, {"FAULTSHIM_READ_MATCH": "/tmp_",
                                            "FAULTSHIM_READ_AFTER": offset})
        expect_older("over an older set, read fails at %d" % offset, status, text,
                     "Disk Error - File Read Error")
    # Volume 0 is moved aside first, then each other volume is moved aside and replaced, then
    # volume 0 is put in place.
    for n in range(1, 2 * count + 1):
        status, text = cli.run_text(args, work, {"FAULTSHIM_RENAME_NTH": n})
        expect_older("over an older set, rename %d" % n, status, text, "Disk Error - File Write Error")
    # (A No to a later volume, after the split has begun, is the engine tests'.)
    status, text = cli.run_text(["pack", "--no", "--split", SPLIT, "work.kmx"], work)
    expect_older("over an older set, No", status, text, "The packed file was not written.")


if __name__ == "__main__":
    main()
