"""The Windows programs (build-windows/*.exe) under Wine against the native programs of the same commit:
the page's comparison of console lines, status, MAT and palette bytes and PNG pixels (tests/web/test_core.py)
run against the .exe files, and what only Windows has: backslashes, drive letters, names beyond ASCII,
threads giving -j's output, programs that stand alone."""

import os
import pathlib
import subprocess
import sys
import tempfile
import time
import unittest
import zipfile

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "web"))
import browser  # noqa: E402
import test_core  # noqa: E402
from test_core import lines, mat, texture_set, warm  # noqa: E402

BUILD = browser.ROOT / "build-windows"
# the system's own libraries, which every Windows has
SYSTEM_DLLS = {"kernel32.dll", "msvcrt.dll", "user32.dll", "advapi32.dll", "shell32.dll", "ws2_32.dll", "ntdll.dll"}


def setUpModule():
    # Wine's first start of a session also starts its services, which would hold a captured run's
    # pipes open to the end of the session: they start here, with their output nowhere
    subprocess.run(["wine", "cmd", "/c", "exit"], env=wine_env(), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=300)


def wine_env():
    return dict(os.environ, WINEPREFIX=str(BUILD / "wine"), WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=", LANG="C.UTF-8", LC_ALL="C.UTF-8")


def run_windows(program, args, files):
    """The program's .exe under Wine in a temporary directory holding `files`, as browser.run_native gives it,
    and the directory as `root`; an argument may be a function of that directory."""
    return browser.run_in(lambda root: ["wine", str(BUILD / (program + ".exe")), *[a(root) if callable(a) else a for a in args]],
                          files, wine_env(), "mat2png-windows-")


def as_windows(line):
    """A native console line as Windows prints it: files named with backslashes (a line of binary data, as
    matpal writes to standard output, is left as it is)."""
    return line if any(byte < 0x20 and byte != 0x09 for byte in line) else line.replace(b"/", b"\\")


class WindowsCoreTest(test_core.CoreTest):
    """Every comparison the page passes, with the .exe files in the page's place."""

    @classmethod
    def setUpClass(cls):
        pass

    @classmethod
    def tearDownClass(cls):
        pass

    def run_other(self, program, args, files):
        return run_windows(program, args, files)

    def native_lines(self, data):
        return [as_windows(line) for line in lines(data)]



# what only the page has: its module run twice, its records, outlines and workers, its cancel, its loading,
# its --version and its 2 GB
PAGE_ONLY = ("test_a_second_run_gives_what_the_first_gave", "test_records_say_what_became_of_each_file_as_the_console_does",
             "test_describe_outlines_a_mat_file_as_a_run_finds_it",
             "test_cancel_rejects_the_pending_calls_and_a_fresh_core_runs_the_next", "test_cancel_stops_every_worker",
             "test_a_call_that_cannot_be_made_or_posted_rejects_alone", "test_a_core_that_cannot_load_says_so_once_and_stops",
             "test_version_names_what_the_page_is_built_with", "test_a_picture_too_large_for_the_page_fails_alone",
             "test_a_worker_lost_costs_only_its_call_and_those_behind_it_run_after",
             "test_matpal_makes_no_records")
for _name in PAGE_ONLY:
    setattr(WindowsCoreTest, _name, None)

class WindowsOnlyTest(WindowsCoreTest):
    test_mat2png_matches_native = test_png2mat_matches_native = test_matpal_matches_native = None

    def test_names_beyond_ascii_in_files_folders_and_arguments(self):
        files = {"mat/héros.mat": mat(5, 3, range(15), name="été", alpha=range(15)),
                 "mat/日本.mat": mat(4, 4, range(16)), "pal/été.pal": warm(),
                 "tëx/mat/ñ.mat": mat(2, 2, range(4)), "tëx/pal/été.pal": warm()}
        cases = [("set", [], False), ("indexed set", ["-i"], False),
                 ("operands", ["mat/héros.mat", "tëx/mat/ñ.mat", "mat/日本.mat"], True),
                 ("folder operand", ["tëx/mat"], True), ("output folder", ["-o", "tëx", "mat/日本.mat"], True)]
        for name, args, ordered in cases:
            with self.subTest(name):
                self.assertSameRun("mat2png", args, files, ordered)
        images = browser.run_native("mat2png", [], files)["files"]
        with self.subTest("back"):
            self.assertSameRun("png2mat", [], {**files, **images})
        with self.subTest("palette"):
            self.assertSameRun("matpal", ["export", "été", "-f", "gpl", "-o", "tëx/été.gpl"], files, True)

    def test_backslashes_and_drive_letters_name_the_same_files(self):
        native = browser.run_native("mat2png", ["mat/alpha.mat", "mat/smooth.mat"], texture_set())
        # Wine's Z: is the Unix root; the lines name a file as its operand does, with backslashes
        cases = [("backslashes", [r"mat\alpha.mat", r"mat\smooth.mat"], lambda root: ""),
                 ("both", ["mat/alpha.mat", r"mat\smooth.mat"], lambda root: ""),
                 ("drive letters", [lambda root: "Z:" + root + "/mat/alpha.mat", lambda root: "Z:" + root.replace("/", "\\") + "\\mat\\smooth.mat"],
                  lambda root: "Z:" + root + "/")]
        for name, args, prefix in cases:
            with self.subTest(name):
                windows = run_windows("mat2png", args, texture_set())
                self.assertEqual(windows["status"], native["status"])
                self.assertEqual(windows["files"].keys(), native["files"].keys())
                for path, data in native["files"].items():
                    self.assertEqual(browser.png_content(windows["files"][path]), browser.png_content(data), path)
                named = prefix(windows["root"]).encode()
                self.assertEqual(lines(windows["stdout_bytes"]),
                                 [as_windows(line.replace(b" mat/", b" " + named + b"mat/")) for line in lines(native["stdout_bytes"])])

    def test_every_cpu_gives_the_output_of_one(self):
        files = {**texture_set(), **{f"mat/n{n:02}.mat": mat(30 + n, 20, test_core.noise(600 + 20 * n, n), kind=1 + n % 3)
                                     for n in range(24)}}
        one = run_windows("mat2png", ["-j", "1", "mat"], files)
        for jobs in ([], ["-j", "3"], ["-j", "8"]):
            with self.subTest(jobs=jobs):
                many = run_windows("mat2png", jobs + ["mat"], files)
                for key in ("status", "stdout_bytes", "stderr_bytes", "files"):
                    self.assertEqual(many[key], one[key], key)

    def test_a_file_open_elsewhere_fails_with_a_reason_and_the_batch_goes_on(self):
        with tempfile.TemporaryDirectory(prefix="mat2png-windows-") as tmp:
            root = pathlib.Path(tmp)
            browser.write_files(root, texture_set())
            native = browser.run_native("mat2png", [], texture_set())
            # cmd holds the image open for appending, sharing no deletion, until a key comes
            holder = subprocess.Popen(["wine", "cmd", "/c", r"pause >> mat\smooth.mat.png"], cwd=root, env=wine_env(),
                                      stdin=subprocess.PIPE, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            try:
                for _ in range(100):
                    if (root / "mat/smooth.mat.png").exists():
                        break
                    time.sleep(0.1)
                done = subprocess.run(["wine", str(BUILD / "mat2png.exe")], cwd=root, capture_output=True, env=wine_env(), timeout=120)
            finally:
                holder.communicate(b"\n", timeout=30)
            self.assertEqual(done.returncode, 1)
            self.assertIn(b"Could not process smooth.mat\n", done.stdout)
            self.assertIn(b"mat2png: mat\\smooth.mat: cannot write mat\\smooth.mat.png: Permission denied\n", done.stderr)
            # the others are written as on Linux, and no temporary file is left
            after = browser._snapshot(root)
            self.assertFalse(after["mat/smooth.mat.png"].startswith(b"\x89PNG"), "the held file was written over")
            for path, data in native["files"].items():
                if path != "mat/smooth.mat.png":
                    self.assertEqual(browser.png_content(after[path]), browser.png_content(data), path)
            self.assertEqual(sorted(p for p in after if p.startswith("mat/.")), [])

    def test_the_programs_stand_alone_and_ship_in_the_zip(self):
        for program in ("mat2png", "png2mat", "matpal"):
            with self.subTest(program):
                dump = subprocess.run(["x86_64-w64-mingw32-objdump", "-p", str(BUILD / (program + ".exe"))],
                                      capture_output=True, text=True, check=True).stdout
                imported = {line.split(":", 1)[1].strip().lower() for line in dump.splitlines() if "DLL Name:" in line}
                self.assertTrue(imported, "no import table found")
                self.assertLessEqual(imported, SYSTEM_DLLS)
        archives = list(BUILD.glob("mat2png-*-windows-x86_64.zip"))
        self.assertEqual(len(archives), 1, archives)
        with zipfile.ZipFile(archives[0]) as archive:
            names = {pathlib.PurePosixPath(name).name for name in archive.namelist()}
            self.assertLessEqual({"mat2png.exe", "png2mat.exe", "matpal.exe", "README.md", "LICENSE",
                                  "mat2png.txt", "png2mat.txt", "matpal.txt"}, names)
            manual = next(n for n in archive.namelist() if n.endswith("mat2png.txt"))
            self.assertIn(b"mat2png", archive.read(manual))
            self.assertNotIn(b"\x08", archive.read(manual))


if __name__ == "__main__":
    unittest.main()
