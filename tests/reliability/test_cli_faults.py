"""packtool-cli under failing writes (ENOSPC), reads (EIO) and renames, through the preloaded
fault library: every write of a pack, a split pack and an unpack of about 1 MB, reads of each file
the job reads (project file, packed file, each volume, the joined file), the final rename. After each fault: exit status 1, a message naming the failure, the project file as
it was, and nothing else in the folder.

Usage: test_cli_faults.py PACKTOOL_CLI FAULTSHIM_LIBRARY"""
import os
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
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
            status, text = cli.run(["pack", "work.kmx"], work, {"FAULTSHIM_WRITE_NTH": n})
            expect_failed("pack write %d" % n, status, text, "Disk Error - File Write Error")
        for n in range(len(pack_writes) + 1, len(split_writes) + 1):
            status, text = cli.run(["pack", "--split", SPLIT, "work.kmx"], work,
                                   {"FAULTSHIM_WRITE_NTH": n})
            expect_failed("split write %d (%s)" % (n, split_writes[n - 1][2]), status, text,
                          "Disk Error - File Write Error")
        # The disk fills up inside the last piece of the packed file and of the last volume.
        for case, args, budget in (("pack", ["pack", "work.kmx"], len(packed) - 1),
                                   ("split", ["pack", "--split", SPLIT, "work.kmx"],
                                    len(packed) + sum(map(len, volumes.values())) - 1)):
            status, text = cli.run(args, work, {"FAULTSHIM_WRITE_AFTER": budget})
            expect_failed("%s, disk full after %d bytes" % (case, budget), status, text,
                          "Disk Error - File Write Error")

        # Reads of the project file (pack) and of the moved packed stream (split).
        for offset in (0, 4096, 500000, len(PROJECT) - 1):
            status, text = cli.run(["pack", "work.kmx"], work,
                                   {"FAULTSHIM_READ_MATCH": "work.kmx", "FAULTSHIM_READ_AFTER": offset})
            expect_failed("project read fails at %d" % offset, status, text,
                          "Disk Error - File Read Error")
        for offset in (0, 10000, len(packed) // 2, len(packed) - 1):
            status, text = cli.run(["pack", "--split", SPLIT, "work.kmx"], work,
                                   {"FAULTSHIM_READ_MATCH": "/tmp_", "FAULTSHIM_READ_AFTER": offset})
            expect_failed("split read fails at %d" % offset, status, text,
                          "Disk Error - File Read Error")

        # The finished packed file cannot be renamed to its name; in a split, the renames are
        # the pack's, the move of the packed file aside, and volume 0 into its name at the end.
        status, text = cli.run(["pack", "work.kmx"], work, {"FAULTSHIM_RENAME_FAIL": 1})
        expect_failed("pack rename", status, text, "Disk Error - File Write Error")
        for n, message in ((1, "Disk Error - File Write Error"),
                           (2, "for reading, aborting..."),
                           (3, "Disk Error - File Write Error")):
            status, text = cli.run(["pack", "--split", SPLIT, "work.kmx"], work,
                                   {"FAULTSHIM_RENAME_NTH": n})
            case = "split rename %d" % n
            if n == 2:
                # The packed file could not be moved aside: it stays whole and unsplit.
                checks.expect(status == 1 and message in text, case, "exit %d\n%s" % (status, text))
                checks.expect(folder(work) == ["work.0KX", "work.kmx"] and
                              read(os.path.join(work, "work.0KX")) == packed, case,
                              "left: %s" % folder(work))
                clean()
            else:
                expect_failed(case, status, text, message)

        # Nothing failed: the fault library itself changes nothing.
        status, _ = cli.run(["pack", "work.kmx"], work, {"FAULTSHIM_WRITE_NTH": len(pack_writes) + 1})
        checks.expect(status == 0 and read(os.path.join(work, "work.0KX")) == packed,
                      "pack without a fault", "status %d" % status)
        clean()

        runs_before = cli.runs
        unpack_faults(cli, checks, work, clean)
        print("packtool-cli runs: %d for pack and split, %d for unpack" % (runs_before, cli.runs - runs_before))

    checks.finish("cli faults")


def unpack_faults(cli, checks, work, clean):
    """Unpack of the whole packed file and of the set over an old project file: every write,
    the disk filling up, reads of the packed file, of each volume and of the joined file, and
    the final rename."""
    old = b"the project file as it was before the unpack\n"
    restored_path = os.path.join(work, "work.KMX")
    for split in (None, SPLIT):
        clean()
        cli.run(["pack", "work.kmx"] + (["--split", split] if split else []), work)
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
            status, text = cli.run(args, work, {"FAULTSHIM_WRITE_NTH": n})
            expect_kept("%s unpack write %d (%s)" % (what, n, writes[n - 1][2][:4]), status, text,
                        write_errors)
        total = sum(e[1] for e in writes)
        for budget in (0, total // 2, total - 1):
            status, text = cli.run(args, work, {"FAULTSHIM_WRITE_AFTER": budget})
            expect_kept("%s unpack, disk full after %d" % (what, budget), status, text, write_errors)

        # Reads: each file the unpack reads, at its start, middle and last byte.
        read_errors = ("Disk Error - File Read Error", "Invalid file format")
        read_files = sorted({e[2] for e in io if e[0] == "r"})
        for name in read_files:
            size = sum(e[1] for e in io if e[0] == "r" and e[2] == name)
            match = "/zunj" if name.startswith("zunj") else "/" + name
            for offset in sorted({0, size // 2, max(size - 1, 0)}):
                status, text = cli.run(args, work, {"FAULTSHIM_READ_MATCH": match,
                                                    "FAULTSHIM_READ_AFTER": offset})
                expect_kept("%s unpack, read of %s fails at %d" % (what, name[:4] if name.startswith("zunj") else name, offset),
                            status, text, read_errors)
        checks.expect(any(n.startswith("zunj") for n in read_files) == bool(split),
                      what, "joined file read: %s" % read_files)

        status, text = cli.run(args, work, {"FAULTSHIM_RENAME_FAIL": 1})
        expect_kept("%s unpack rename" % what, status, text, write_errors)


if __name__ == "__main__":
    main()
