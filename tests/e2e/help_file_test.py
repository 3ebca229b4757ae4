#!/usr/bin/env python3
"""Reads the built svault.chm back with 7-Zip and checks it against its sources:
the table of contents lists every page, every page (and what the pages link to)
is in the file, and every command of the main menu and of the notification-area
menu is explained, with its key when the menu names one.

usage: help_file_test.py SVAULT_CHM HELP_SOURCE_FOLDER RESOURCE_SCRIPT
"""
import html
import html.parser
import os
import re
import shutil
import subprocess
import sys
import tempfile


class PageParser(html.parser.HTMLParser):
    """Visible text, link targets and anchor names of one page; the Local and
    Name values of a table of contents or an index."""

    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.text = []
        self.links = []
        self.anchors = set()
        self.locals = []
        self._skip = 0

    def handle_starttag(self, tag, attrs):
        attrs = dict(attrs)
        if tag in ("script", "style", "head"):
            self._skip += 1
        if tag == "a":
            if attrs.get("href"):
                self.links.append(attrs["href"])
            if attrs.get("name"):
                self.anchors.add(attrs["name"])
        if tag == "param" and (attrs.get("name") or "").lower() == "local":
            self.locals.append(attrs.get("value") or "")

    def handle_endtag(self, tag):
        if tag in ("script", "style", "head") and self._skip:
            self._skip -= 1

    def handle_data(self, data):
        if not self._skip:
            self.text.append(data)


def parse(path):
    parser = PageParser()
    with open(path, encoding="cp1252") as f:
        parser.feed(f.read())
    return parser


def menu_items(rc_text, menu_name):
    """(name, key) of each MENUITEM of one MENU block of the resource script."""
    match = re.search(r"^%s\s+MENU\b(.*?)^END\b" % re.escape(menu_name), rc_text, re.M | re.S)
    if not match:
        raise SystemExit("menu %s not found in the resource script" % menu_name)
    items = []
    for text in re.findall(r'MENUITEM\s+"([^"]*)"', match.group(1)):
        name, _, key = text.replace("&", "").partition("\\t")
        items.append((name.rstrip(".").strip(), key.strip()))
    return items


def main():
    if len(sys.argv) != 4:
        raise SystemExit(__doc__)
    chm, sources, rc_path = sys.argv[1:]
    seven_zip = shutil.which("7z") or shutil.which("7za")
    if not seven_zip:
        raise SystemExit("7z is needed to read the help file (Debian package p7zip-full; scripts/bootstrap installs it)")
    failures = []

    with tempfile.TemporaryDirectory() as unpacked:
        result = subprocess.run([seven_zip, "x", "-y", "-o" + unpacked, chm], capture_output=True, text=True)
        if result.returncode != 0:
            raise SystemExit("7z could not read %s:\n%s%s" % (chm, result.stdout, result.stderr))
        archived = {os.path.relpath(os.path.join(root, name), unpacked).replace(os.sep, "/"): os.path.join(root, name)
                    for root, _, names in os.walk(unpacked) for name in names}

        pages = sorted(name for name in os.listdir(sources) if name.endswith(".htm"))
        contents = [name for name in os.listdir(sources) if name.endswith(".hhc")]
        index = [name for name in os.listdir(sources) if name.endswith(".hhk")]
        if len(contents) != 1:
            raise SystemExit("expected one table of contents (.hhc) in %s, found %s" % (sources, contents))

        # Every source file is in the compiled file, as it is now.
        for name in pages + contents + index + [n for n in os.listdir(sources) if n.endswith(".css")]:
            if name not in archived:
                failures.append("%s is not in the help file" % name)
                continue
            with open(os.path.join(sources, name), "rb") as a, open(archived[name], "rb") as b:
                if a.read() != b.read():
                    failures.append("%s in the help file differs from its source (stale build?)" % name)

        # The table of contents lists every page, and only pages that exist.
        listed = [local.split("#")[0] for local in parse(os.path.join(sources, contents[0])).locals]
        for page in pages:
            if page not in listed:
                failures.append("the table of contents does not list %s" % page)
        for local in listed:
            if local not in archived:
                failures.append("the table of contents lists %s, which is not in the help file" % local)

        # Links between pages, and index entries, reach a page and an anchor in it.
        parsed = {page: parse(os.path.join(sources, page)) for page in pages}
        targets = [(page, link) for page, p in parsed.items() for link in p.links]
        for name in index:
            targets += [(name, local) for local in parse(os.path.join(sources, name)).locals]
        for page, link in targets:
            if re.match(r"^[a-z]+:", link):
                continue
            file, _, anchor = link.partition("#")
            file = file or page
            if file not in archived:
                failures.append("%s links to %s, which is not in the help file" % (page, link))
            elif anchor and file in parsed and anchor not in parsed[file].anchors:
                failures.append("%s links to %s, which has no anchor %s" % (page, file, anchor))

        # Every command a user meets in the menus is explained, with its key.
        text = " ".join(" ".join(p.text) for p in parsed.values())
        text = re.sub(r"\s+", " ", html.unescape(text))
        with open(rc_path, encoding="cp1252") as f:
            rc_text = f.read()
        commands = menu_items(rc_text, "IDR_MAINFRAME") + menu_items(rc_text, "IDR_TRAY_MENU")
        for name, key in commands:
            if name not in text:
                failures.append("the command %s is not explained in the help" % name)
            if key and key not in text:
                failures.append("the key %s of %s is not named in the help" % (key, name))

    for failure in failures:
        print("FAIL:", failure)
    print("%d pages, %d menu commands checked; %d failures" % (len(pages), len(commands), len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
