"""Two real packtool-cli at once on the same names, with their renames slowed down (strace's
fault injection), and the rules for replacing files.

Two programs: two packs of proj.kmx and proj.txt (both write proj.0KX), split and whole; an
unpack and a test while a pack --split replaces the set; a split of the packed file while a
pack makes it a set; each at several moments. Invariant: exit 0 only for exactly the right
result; the set on disk is always one program's whole set (test calls it sound, and unpack
restores exactly one of the two inputs); no temporary or lock file is left.

Replacing files: a same-size rewrite of the project file during a pack is noticed; a SIGTERM
after the packed file took its name finishes the replacement; a whole pack removes the older
set's volumes; a project file named like a volume of its set is refused; new outputs take
their source's permission bits and replaced ones keep their owner and extended attributes; a
link as an output is written through for every command.

Usage: test_concurrent.py PACKTOOL_CLI [FAULTSHIM_LIBRARY]"""
import os
import shutil
import signal
import stat
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from packtoolrun import Checks, Cli, folder, project_bytes, read, write  # noqa: E402

A = project_bytes(300 * 1000, seed=21)
B = project_bytes(280 * 1000, seed=22)
SPLIT = "20K"
WAITING = "Another Pack Tool is using"


def leftovers(work):
    """Temporary files and lock files: nothing of the kind may stay after a run."""
    return [n for n in folder(work) if n.startswith("tmp_") or n.endswith(".lock")]


def start(cli, args, cwd, slow=None):
    """Starts packtool-cli; slow = (syscalls, microseconds) delays each of those calls' return."""
    prefix, env = (), None
    if slow:
        calls, micros = slow
        prefix = ("strace", "-f", "-qq", "-o", "/dev/null", "-e", "trace=" + calls,
                  "-e", "inject=%s:delay_exit=%s" % (calls, micros))
        # LeakSanitizer cannot run under ptrace: a sanitizer build checks leaks in the other runs.
        env = {"ASAN_OPTIONS": ":".join(filter(None, [os.environ.get("ASAN_OPTIONS", ""),
                                                      "detect_leaks=0"]))}
    return cli.start(args, cwd, env=env, prefix=prefix, stdout=subprocess.PIPE,
                     stderr=subprocess.STDOUT)


def finish(proc, timeout=60):
    out, _ = proc.communicate(timeout=timeout)
    return proc.returncode, out.decode("utf-8", "replace")


RENAMES = "rename,renameat,renameat2"


def restored_by_unpack(cli, work, name="proj"):
    """What unpack restores from the set NAME.0KX on disk (None when it fails)."""
    target = os.path.join(work, name + ".KMX")
    if os.path.exists(target):
        os.unlink(target)
    status, text = cli.run_text(["unpack", "--yes", name + ".0KX"], work)
    data = read(target) if status == 0 else None
    if os.path.exists(target):
        os.unlink(target)
    return data


def two_packs(cli, checks, work):
    cases = [("split", "split"), ("whole", "whole"), ("split", "whole"), ("whole", "split")]
    for first_kind, second_kind in cases:
        for offset in (0.0, 0.4):
            case = "pack %s proj.kmx / pack %s proj.txt, +%.1fs" % (first_kind, second_kind, offset)
            for name in folder(work):
                os.unlink(os.path.join(work, name))
            write(os.path.join(work, "proj.kmx"), A)
            write(os.path.join(work, "proj.txt"), B)

            def args(kind, name):
                return ["pack", "--yes"] + (["--split", SPLIT] if kind == "split" else []) + [name]

            one = start(cli, args(first_kind, "proj.kmx"), work, (RENAMES, 150000))
            time.sleep(offset)
            two = start(cli, args(second_kind, "proj.txt"), work, (RENAMES, 150000))
            (s1, t1), (s2, t2) = finish(one), finish(two)
            checks.expect(s1 == 0 and s2 == 0, case, "exit %d, %d\n%s\n%s" % (s1, s2, t1, t2))
            # A split pack started first still holds the name (its renames are slow) when the
            # other starts.
            if first_kind == "split":
                checks.expect(WAITING in t1 + t2, case, "neither waited for the other\n%s\n%s" % (t1, t2))
            status, text = cli.run_text(["test", "proj.0KX"], work)
            checks.expect(status == 0, case, "test of the set: exit %d\n%s" % (status, text))
            restored = restored_by_unpack(cli, work)
            checks.expect(restored in (A, B), case, "unpack restored neither input")
            checks.expect(not leftovers(work), case, "left: %s" % leftovers(work))


def reader_during_split_pack(cli, checks, work):
    for reader in ("unpack", "test"):
        for delay in (0.0, 0.5, 1.5):
            case = "%s during pack --split replacing the set, +%.1fs" % (reader, delay)
            for name in folder(work):
                os.unlink(os.path.join(work, name))
            write(os.path.join(work, "proj.txt"), B)
            status, text = cli.run_text(["pack", "--yes", "--split", SPLIT, "proj.txt"], work)
            checks.expect(status == 0, case, "the older set: %s" % text)
            write(os.path.join(work, "proj.kmx"), A)
            writer = start(cli, ["pack", "--yes", "--split", SPLIT, "proj.kmx"], work, (RENAMES, 150000))
            time.sleep(delay)
            args = ["unpack", "--yes", "proj.0KX"] if reader == "unpack" else ["test", "proj.0KX"]
            status, text = finish(start(cli, args, work))
            ws, wt = finish(writer)
            checks.expect(ws == 0, case, "the pack: exit %d\n%s" % (ws, wt))
            checks.expect(status == 0, case, "%s: exit %d\n%s" % (reader, status, text))
            if reader == "unpack" and status == 0:
                checks.expect(read(os.path.join(work, "proj.KMX")) in (A, B), case,
                              "unpack restored neither the old set nor the new one")
            checks.expect(restored_by_unpack(cli, work) == A, case, "the new set does not restore A")
            checks.expect(not leftovers(work), case, "left: %s" % leftovers(work))


def split_during_pack(cli, checks, work):
    for delay in (0.0, 0.5):
        case = "split of proj.0KX while pack --split proj.kmx, +%.1fs" % delay
        for name in folder(work):
            os.unlink(os.path.join(work, name))
        write(os.path.join(work, "proj.txt"), B)
        status, text = cli.run_text(["pack", "--yes", "proj.txt"], work)
        checks.expect(status == 0, case, text)
        write(os.path.join(work, "proj.kmx"), A)
        pack = start(cli, ["pack", "--yes", "--split", SPLIT, "proj.kmx"], work, (RENAMES, 150000))
        time.sleep(delay)
        split = start(cli, ["split", "--yes", "30K", "proj.0KX"], work, (RENAMES, 100000))
        (ps, pt), (ss, st) = finish(pack), finish(split)
        checks.expect(ps == 0, case, "the pack: exit %d\n%s" % (ps, pt))
        status, text = cli.run_text(["test", "proj.0KX"], work)
        checks.expect(status == 0, case, "test of the set: exit %d\n%s" % (status, text))
        restored = restored_by_unpack(cli, work)
        # A split that ran first was replaced by the pack's set; one that ran after the pack
        # found a set already and must refuse it.
        checks.expect(restored == A, case, "the set does not restore the pack's project file")
        if ss == 0:
            checks.expect(restored is not None, case, "split exit 0 but no sound set")
        checks.expect(not leftovers(work), case, "left: %s" % leftovers(work))


def same_size_rewrite(cli, checks, work):
    case = "same-size rewrite of the project file during a pack"
    for name in folder(work):
        os.unlink(os.path.join(work, name))
    big = project_bytes(2 * 1000 * 1000, seed=23)
    write(os.path.join(work, "p.kmx"), big)
    # The project file is read 4 KB at a time: every 50th read is slowed, some 2 s in all.
    pack = start(cli, ["pack", "--yes", "p.kmx"], work, ("read", "200000:when=2+50"))
    time.sleep(1.0)
    # A program saving in place: the same size, other bytes.
    with open(os.path.join(work, "p.kmx"), "r+b") as f:
        f.write(bytes(reversed(big[:4096])))
    status, text = finish(pack)
    checks.expect(status != 0, case, "exit %d after the rewrite\n%s" % (status, text))
    checks.expect("changed as we read it" in text, case, "no message:\n%s" % text)
    checks.expect(not os.path.exists(os.path.join(work, "p.0KX")), case, "a packed file was left")
    checks.expect(not leftovers(work), case, "left: %s" % leftovers(work))


def sigterm_after_rename(cli, checks, work):
    for manifest in (False, True):
        case = "SIGTERM while the whole packed file takes its name%s" % (", --manifest" if manifest else "")
        for name in folder(work):
            os.unlink(os.path.join(work, name))
        write(os.path.join(work, "p.kmx"), B)
        status, text = cli.run_text(["pack", "--yes", "--manifest", "--split", SPLIT, "p.kmx"], work)
        old_volumes = [n for n in folder(work) if n.startswith("p.") and n[-2:].upper() in ("KX", "0X")]
        checks.expect(status == 0 and len(old_volumes) >= 3, case, "older set: %s" % old_volumes)
        write(os.path.join(work, "p.kmx"), A)
        old_inode = os.stat(os.path.join(work, "p.0KX")).st_ino
        args = ["pack", "--yes"] + (["--manifest"] if manifest else []) + ["p.kmx"]
        proc = start(cli, args, work, (RENAMES, 1500000))
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline and os.stat(os.path.join(work, "p.0KX")).st_ino == old_inode:
            time.sleep(0.01)
        proc.send_signal(signal.SIGTERM)
        status, text = finish(proc)
        files = folder(work)
        checks.expect(status == 0, case, "exit %d\n%s" % (status, text))
        checks.expect("left as it was" not in text, case, "said nothing changed:\n%s" % text)
        checks.expect(restored_by_unpack(cli, work, "p") == A, case, "p.0KX does not restore the new file")
        checks.expect([n for n in files if n.startswith("p.") and n != "p.0KX" and n[-2:] == "KX"] == [],
                      case, "volumes of the older set left: %s" % files)
        if manifest:
            status, text = cli.run_text(["test", "p.0KX"], work)
            checks.expect(status == 0 and "p.sha256" in files, case, "manifest: %s\n%s" % (files, text))
        else:
            checks.expect("p.sha256" not in files, case, "the older set's manifest stayed")
        checks.expect(not leftovers(work), case, "left: %s" % leftovers(work))


def whole_pack_over_set(cli, checks, work):
    case = "whole pack over an older set"
    for name in folder(work):
        os.unlink(os.path.join(work, name))
    write(os.path.join(work, "p.kmx"), B)
    cli.run_text(["pack", "--yes", "--split", SPLIT, "p.kmx"], work)
    count = len([n for n in folder(work) if n.endswith(("KX", "X"))])
    write(os.path.join(work, "p.kmx"), A)
    status, text = cli.run_text(["pack", "--yes", "p.kmx"], work)
    checks.expect(status == 0, case, text)
    checks.expect(folder(work) == ["p.0KX", "p.kmx"], case, "of %d volumes left: %s" % (count, folder(work)))
    # Declined: the older set stays whole.
    for name in folder(work):
        os.unlink(os.path.join(work, name))
    write(os.path.join(work, "p.kmx"), B)
    cli.run_text(["pack", "--yes", "--split", SPLIT, "p.kmx"], work)
    before = {n: read(os.path.join(work, n)) for n in folder(work)}
    status, text = cli.run_text(["pack", "--no", "p.kmx"], work)
    after = {n: read(os.path.join(work, n)) for n in folder(work)}
    checks.expect(status != 0 and after == before, "whole pack over a set, declined", text)


def project_named_like_volume(cli, checks, work):
    for name in ("p.1KX", "p.1kx", "p.12X", "p.100", "P.2Kx", "p.1RV"):
        case = "pack --split of a project file named %s" % name
        for entry in folder(work):
            os.unlink(os.path.join(work, entry))
        write(os.path.join(work, name), A)
        status, text = cli.run_text(["pack", "--yes", "--split", SPLIT, name], work)
        checks.expect(status != 0, case, "exit %d" % status)
        checks.expect(name in text and "named like a volume" in text, case, "message:\n%s" % text)
        checks.expect(folder(work) == [name] and read(os.path.join(work, name)) == A, case,
                      "files: %s" % folder(work))
    # Packed whole, such a file is nobody's volume: it packs, and stays.
    for entry in folder(work):
        os.unlink(os.path.join(work, entry))
    write(os.path.join(work, "p.1KX"), A)
    status, text = cli.run_text(["pack", "--yes", "p.1KX"], work)
    checks.expect(status == 0 and read(os.path.join(work, "p.1KX")) == A, "whole pack of p.1KX", text)


def modes_owners_and_links(cli, checks, work):
    for entry in folder(work):
        os.unlink(os.path.join(work, entry))
    old_umask = os.umask(0o022)
    try:
        write(os.path.join(work, "p.kmx"), A)
        os.chmod(os.path.join(work, "p.kmx"), 0o600)
        status, text = cli.run_text(["pack", "--yes", "--split", SPLIT, "p.kmx"], work)
        modes = {n: stat.S_IMODE(os.stat(os.path.join(work, n)).st_mode) for n in folder(work)}
        checks.expect(status == 0 and set(modes.values()) == {0o600}, "split pack of a 0600 project",
                      "modes: %s" % modes)
        status, text = cli.run_text(["join", "--yes", "p.0KX", "joined.0KX"], work)
        mode = stat.S_IMODE(os.stat(os.path.join(work, "joined.0KX")).st_mode)
        checks.expect(status == 0 and mode == 0o600, "join of a 0600 set", "mode %o\n%s" % (mode, text))
        status, text = cli.run_text(["split", "--yes", SPLIT, "joined.0KX"], work)
        modes = {n: stat.S_IMODE(os.stat(os.path.join(work, n)).st_mode)
                 for n in folder(work) if n.startswith("joined.")}
        checks.expect(status == 0 and set(modes.values()) == {0o600}, "split of a 0600 packed file",
                      "modes: %s\n%s" % (modes, text))

        # A replaced output keeps its owner, group, bits and extended attributes.
        out = os.path.join(work, "out.0KX")
        write(out, b"older output")
        os.chmod(out, 0o640)
        xattr = True
        try:
            os.setxattr(out, "user.note", b"keep me")
        except OSError:
            xattr = False
        if os.geteuid() == 0:
            os.chown(out, 4321, 4322)
        status, text = cli.run_text(["join", "--yes", "p.0KX", "out.0KX"], work)
        info = os.stat(out)
        checks.expect(status == 0 and stat.S_IMODE(info.st_mode) == 0o640, "join over a 0640 file",
                      "mode %o\n%s" % (stat.S_IMODE(info.st_mode), text))
        if os.geteuid() == 0:
            checks.expect((info.st_uid, info.st_gid) == (4321, 4322), "join over another's file",
                          "owner %d:%d" % (info.st_uid, info.st_gid))
        if xattr:
            kept = os.getxattr(out, "user.note") if "user.note" in os.listxattr(out) else None
            checks.expect(kept == b"keep me", "join over a file with xattrs", "user.note: %r" % kept)

        # Links as outputs: written through to their files, and still links, for every command.
        elsewhere = tempfile.mkdtemp(prefix="packtool-links-")
        try:
            for entry in folder(work):
                os.unlink(os.path.join(work, entry))
            write(os.path.join(work, "p.kmx"), A)
            cli.run_text(["pack", "--yes", "--split", SPLIT, "p.kmx"], work)
            volumes = sorted(n for n in folder(work) if n != "p.kmx")
            write(os.path.join(elsewhere, "v1"), b"old volume 1")
            os.unlink(os.path.join(work, "p.1KX"))
            os.symlink(os.path.join(elsewhere, "v1"), os.path.join(work, "p.1KX"))
            write(os.path.join(elsewhere, "joined"), b"old joined")
            os.symlink(os.path.join(elsewhere, "joined"), os.path.join(work, "j.0KX"))
            write(os.path.join(work, "p.kmx"), B)
            status, text = cli.run_text(["pack", "--yes", "--split", SPLIT, "p.kmx"], work)
            checks.expect(status == 0 and os.path.islink(os.path.join(work, "p.1KX")),
                          "pack --split over a linked volume", "the link was replaced\n%s" % text)
            checks.expect(restored_by_unpack(cli, work, "p") == B, "pack --split over a linked volume",
                          "the set does not restore")
            status, text = cli.run_text(["join", "--yes", "p.0KX", "j.0KX"], work)
            checks.expect(status == 0 and os.path.islink(os.path.join(work, "j.0KX")) and
                          read(os.path.join(elsewhere, "joined"))[:4] != b"old ",
                          "join into a link", "the link was replaced or not written\n%s" % text)
            checks.expect(not leftovers(work) and not leftovers(elsewhere), "links",
                          "left: %s %s" % (leftovers(work), leftovers(elsewhere)))
            del volumes
        finally:
            shutil.rmtree(elsewhere)
    finally:
        os.umask(old_umask)


def main():
    cli = Cli(sys.argv[1])
    checks = Checks()
    if shutil.which("strace") is None:
        print("strace is not installed: the runs with slowed renames cannot be made")
        sys.exit(1)
    with tempfile.TemporaryDirectory(prefix="packtool-concurrent-") as work:
        two_packs(cli, checks, work)
        reader_during_split_pack(cli, checks, work)
        split_during_pack(cli, checks, work)
        same_size_rewrite(cli, checks, work)
        sigterm_after_rename(cli, checks, work)
        whole_pack_over_set(cli, checks, work)
        project_named_like_volume(cli, checks, work)
        modes_owners_and_links(cli, checks, work)
    checks.finish("test_concurrent")


if __name__ == "__main__":
    main()
