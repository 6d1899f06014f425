#!/usr/bin/env python3
"""Files that Debian wants in a binary package, made from the project's own.

  debian_docs.py docs USR --source-dir DIR --package NAME --version V
                      --release R --maintainer "NAME <ADDRESS>" --homepage URL
      writes, in USR/share/doc/NAME, copyright (machine-readable, from
      LICENSE), changelog.Debian.gz (from CHANGELOG.md) and changelog.gz
      (CHANGELOG.md itself), and the package's lintian overrides

  debian_docs.py man ROOT
      compresses every manual page under ROOT/usr/share/man in place

Everything compressed here is compressed the way Debian asks: gzip at the
highest level, with no file name and no time stamp in the header, so that the
same sources always give the same bytes.
"""

import argparse
import datetime
import gzip
import os
import re
import sys
import textwrap

WIDTH = 79
DAYS = ("Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun")
MONTHS = ("Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec")


def write_gzip(data: bytes, path: str) -> None:
    with open(path, "wb") as raw:
        with gzip.GzipFile(filename="", mode="wb", compresslevel=9, fileobj=raw, mtime=0) as out:
            out.write(data)
    os.chmod(path, 0o644)


def plain_text(markdown: str) -> str:
    """Inline markdown as plain text: links become their text, code loses its ticks."""
    text = re.sub(r"\[([^\]]+)\]\([^)]*\)", r"\1", markdown)
    return text.replace("`", "")


class Release:
    def __init__(self, version: str, date: datetime.date):
        self.version = version
        self.date = date
        self.sections: list[tuple[str, list[str]]] = []


def parse_changelog(text: str) -> list[Release]:
    """Released sections of a Keep a Changelog file, newest first."""
    releases: list[Release] = []
    current = None
    for number, line in enumerate(text.splitlines(), 1):
        heading = re.match(r"^## \[([^\]]+)\](?:\s*-\s*(\d{4}-\d{2}-\d{2}))?\s*$", line)
        if heading:
            version, date = heading.groups()
            if version == "Unreleased":
                current = None
                continue
            if not date:
                sys.exit(f"CHANGELOG.md:{number}: release {version} has no date")
            current = Release(version, datetime.date.fromisoformat(date))
            releases.append(current)
        elif line.startswith("## "):
            current = None
        elif current is None:
            continue
        elif line.startswith("### "):
            current.sections.append((line[4:].strip(), []))
        elif re.match(r"^[-*] ", line):
            if not current.sections:
                current.sections.append(("Changed", []))
            current.sections[-1][1].append(line[2:].strip())
        elif line.startswith("  ") and line.strip() and current.sections and current.sections[-1][1]:
            items = current.sections[-1][1]
            items[-1] += " " + line.strip()
    return releases


def debian_date(day: datetime.date) -> str:
    return f"{DAYS[day.weekday()]}, {day.day:02d} {MONTHS[day.month - 1]} {day.year} 00:00:00 +0000"


def debian_changelog(releases: list[Release], package: str, version: str, release: str,
                     maintainer: str) -> str:
    entries = []
    for entry in releases:
        # Older releases were packaged as the first Debian revision.
        revision = release if entry.version == version else "1"
        lines = [f"{package} ({entry.version}-{revision}) unstable; urgency=medium", ""]
        for title, items in entry.sections:
            if not items:
                continue
            lines.append(f"  * {title}:")
            for item in items:
                lines += textwrap.wrap(plain_text(item), WIDTH,
                                       initial_indent="    - ", subsequent_indent="      ")
        if len(lines) == 2:
            lines.append("  * New release.")
        lines += ["", f" -- {maintainer}  {debian_date(entry.date)}"]
        entries.append("\n".join(lines) + "\n")
    return "\n".join(entries)


def debian_copyright(license_text: str, homepage: str, maintainer: str) -> str:
    notice = re.search(r"^Copyright \(c\) (\d{4}(?:-\d{4})?) (.+)$", license_text, re.M)
    grant = license_text.find("Permission is hereby granted")
    if not notice or grant < 0:
        sys.exit("LICENSE: expected the MIT licence with a copyright line")
    body = [" " + line if line.strip() else " ." for line in license_text[grant:].rstrip().splitlines()]
    return "\n".join([
        "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/",
        "Upstream-Name: zpress",
        f"Upstream-Contact: {maintainer}",
        f"Source: {homepage}",
        "Comment: zpress is linked against the system's zlib compression library",
        " (package zlib1g), which is not part of this package: zlib is distributed",
        " under its own licence, the zlib licence, given in",
        " /usr/share/doc/zlib1g/copyright.",
        "",
        "Files: *",
        f"Copyright: {notice.group(1)} {notice.group(2)}",
        "Comment: the MIT licence, as in the file LICENSE of the sources.",
        "License: Expat",
        *body,
    ]) + "\n"


# zpress is packaged outside Debian's archive, so its first package closes no
# intent-to-package bug.
LINTIAN_OVERRIDES = """\
# Packaged outside the Debian archive: there is no intent-to-package bug to close.
initial-upload-closes-no-bugs
"""


def write_text(text: str, path: str) -> None:
    os.makedirs(os.path.dirname(path), mode=0o755, exist_ok=True)
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)
    os.chmod(path, 0o644)


def docs(args: argparse.Namespace) -> None:
    with open(os.path.join(args.source_dir, "CHANGELOG.md"), encoding="utf-8") as f:
        changelog_md = f.read()
    with open(os.path.join(args.source_dir, "LICENSE"), encoding="utf-8") as f:
        license_text = f.read()

    releases = parse_changelog(changelog_md)
    if not releases or releases[0].version != args.version:
        latest = releases[0].version if releases else "none"
        sys.exit(f"CHANGELOG.md: the latest release is {latest}, the project's version is "
                 f"{args.version}: add a section for {args.version}")

    doc_dir = os.path.join(args.usr, "share", "doc", args.package)
    write_text(debian_copyright(license_text, args.homepage, args.maintainer),
               os.path.join(doc_dir, "copyright"))
    write_gzip(debian_changelog(releases, args.package, args.version, args.release,
                                args.maintainer).encode(),
               os.path.join(doc_dir, "changelog.Debian.gz"))
    write_gzip(changelog_md.encode(), os.path.join(doc_dir, "changelog.gz"))
    if len(releases) == 1 and args.release == "1":
        write_text(LINTIAN_OVERRIDES,
                   os.path.join(args.usr, "share", "lintian", "overrides", args.package))


def man(args: argparse.Namespace) -> None:
    man_root = os.path.join(args.root, "usr", "share", "man")
    for folder, _, files in os.walk(man_root):
        for name in files:
            path = os.path.join(folder, name)
            if name.endswith(".gz") or os.path.islink(path):
                continue
            with open(path, "rb") as f:
                data = f.read()
            write_gzip(data, path + ".gz")
            os.remove(path)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    commands = parser.add_subparsers(dest="command", required=True)
    d = commands.add_parser("docs")
    d.add_argument("usr")
    for option in ("--source-dir", "--package", "--version", "--release", "--maintainer",
                   "--homepage"):
        d.add_argument(option, required=True)
    d.set_defaults(run=docs)
    m = commands.add_parser("man")
    m.add_argument("root")
    m.set_defaults(run=man)
    args = parser.parse_args()
    args.run(args)


if __name__ == "__main__":
    main()
