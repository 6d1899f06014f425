"""Checks cmake/debian_docs.py: what it makes from CHANGELOG.md and LICENSE.

Usage: test_debian_docs.py SOURCE_DIR PROJECT_VERSION
"""

import gzip
import os
import subprocess
import sys
import tempfile
import unittest

SOURCE_DIR, PROJECT_VERSION = sys.argv[1], sys.argv[2]
del sys.argv[1:3]
SCRIPT = os.path.join(SOURCE_DIR, "cmake", "debian_docs.py")
sys.path.insert(0, os.path.dirname(SCRIPT))
import debian_docs  # noqa: E402

SAMPLE = """# Changelog

## [Unreleased]

- not yet released

## [2.1.0] - 2027-03-01

### Fixed

- A long entry that goes on for a while, with `code` and a [link](https://example.org),
  continued on a second line of the file.

## [2.0.0] - 2026-12-08

### Added

- First.

[2.1.0]: https://example.org/compare
"""


def docs(usr, version, source_dir=SOURCE_DIR):
    return subprocess.run(
        [sys.executable, SCRIPT, "docs", usr, "--source-dir", source_dir, "--package", "zpress",
         "--version", version, "--release", "1", "--maintainer", "m <m@zpress.dev>",
         "--homepage", "https://example.org/zpress"],
        capture_output=True, text=True)


class ChangelogTest(unittest.TestCase):
    def test_released_sections_only_newest_first(self):
        releases = debian_docs.parse_changelog(SAMPLE)
        self.assertEqual([r.version for r in releases], ["2.1.0", "2.0.0"])
        text = debian_docs.debian_changelog(releases, "zpress", "2.1.0", "3", "m <m@zpress.dev>")
        latest = text.split("\n\nzpress (")[0]
        self.assertTrue(text.startswith("zpress (2.1.0-3) unstable; urgency=medium\n"))
        self.assertIn("zpress (2.0.0-1) unstable", text)
        self.assertNotIn("not yet released", text)
        # Continuation lines are joined; inline markup is dropped; lines fit.
        self.assertIn("second line", latest)
        self.assertNotIn("`", text)
        self.assertNotIn("](", text)
        self.assertTrue(all(len(line) <= 80 for line in text.splitlines()))
        # 2027-03-01 is a Monday.
        self.assertIn(" -- m <m@zpress.dev>  Mon, 01 Mar 2027 00:00:00 +0000\n", text)

    def test_project_version_needs_a_release_section(self):
        with tempfile.TemporaryDirectory() as usr:
            result = docs(usr, PROJECT_VERSION + ".99")
            self.assertNotEqual(result.returncode, 0)
            self.assertIn("add a section", result.stderr)


class PackageFilesTest(unittest.TestCase):
    def test_files_of_the_project(self):
        with tempfile.TemporaryDirectory() as usr:
            result = docs(usr, PROJECT_VERSION)
            self.assertEqual(result.returncode, 0, result.stderr)
            doc = os.path.join(usr, "share", "doc", "zpress")
            with open(os.path.join(doc, "copyright"), encoding="utf-8") as f:
                copyright_text = f.read()
            with open(os.path.join(SOURCE_DIR, "LICENSE"), encoding="utf-8") as f:
                license_lines = [line for line in f.read().splitlines() if line.strip()]
            # The licence's grant and disclaimer appear word for word.
            grant = license_lines.index(next(l for l in license_lines if l.startswith("Permission")))
            for line in license_lines[grant:]:
                self.assertIn(" " + line + "\n", copyright_text)
            self.assertIn("Copyright: 2026 the zpress authors\n", copyright_text)
            self.assertIn("zlib licence", copyright_text)
            for name in ("changelog.Debian.gz", "changelog.gz"):
                with open(os.path.join(doc, name), "rb") as f:
                    header = f.read(10)
                # Highest level (XFL 2), no time stamp, no file name (FLG 0).
                self.assertEqual(header[3], 0, name)
                self.assertEqual(header[4:8], bytes(4), name)
                self.assertEqual(header[8], 2, name)
            with gzip.open(os.path.join(doc, "changelog.Debian.gz"), "rt") as f:
                self.assertTrue(f.readline().startswith(f"zpress ({PROJECT_VERSION}-1) "))

    def test_manual_pages_compressed_in_place(self):
        with tempfile.TemporaryDirectory() as root:
            man1 = os.path.join(root, "usr", "share", "man", "man1")
            os.makedirs(man1)
            page = os.path.join(man1, "zpress.1")
            with open(page, "w") as f:
                f.write(".TH ZPRESS 1\n")
            subprocess.run([sys.executable, SCRIPT, "man", root], check=True)
            self.assertFalse(os.path.exists(page))
            with gzip.open(page + ".gz", "rt") as f:
                self.assertEqual(f.read(), ".TH ZPRESS 1\n")
            self.assertEqual(os.stat(page + ".gz").st_mode & 0o777, 0o644)


if __name__ == "__main__":
    unittest.main()
