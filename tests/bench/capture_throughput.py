#!/usr/bin/env python3
"""How many quick clipboard changes the real SVault.exe archives, and how soon.

  capture_throughput.py SVAULT_EXE WINE_RUN [--changes N | --changes KIND=N,...] [--gaps 0,5,20,50]
                        [--kinds text,html,mib,bitmap] [--producer PRODUCER_EXE [--answer | --late]]

Copies are made with xclip (a native X11 program, bridged by Wine) at a fixed
gap after each change; with --producer, by a Windows program in the same Wine
session (tests/tools/ClipProducer.cpp: no bridge in between), which sleeps
between its changes unless --answer makes it answer messages meanwhile (--late:
after each sleep). For the
producer each line also names the changes that were lost (counted from 0). Every change carries a number of its own (in the text, in
the HTML, in the picture's bottom-left pixel), so the archive tells which
changes were archived. For each kind and gap it prints one line: the share of
changes archived, and the time from the last change until its item file was
complete on disk (polled every few milliseconds). It also prints the program's
resident memory after each kind. Needs DISPLAY and WINEPREFIX.
"""
import argparse
import os
import re
import struct
import subprocess
import sys
import time
import zlib

KEY = r"HKCU\Software\Brindlework\Scrapvault\1.0\Settings"
EXTENSION = {"text": ".tx", "html": ".ht", "mib": ".tx", "bitmap": ".db"}
LABEL = {"text": "50-byte text", "html": "1.5 KB HTML", "mib": "1 MiB text", "bitmap": "1920x1080 bitmap"}
TARGET = {"text": "UTF8_STRING", "html": "text/html", "mib": "UTF8_STRING", "bitmap": "image/bmp"}


def make_payloads():
    filler = os.urandom(786432)
    import base64

    mib_base = base64.b64encode(filler)  # 1 MiB of text that barely compresses
    width, height = 1920, 1080
    row = ((width * 24 + 31) // 32) * 4
    noise = bytes((i * 7 + (i >> 9)) & 0x3F for i in range(row * height))
    bmp_head = struct.pack("<2sIHHI", b"BM", 54 + len(noise), 0, 0, 54) + struct.pack(
        "<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(noise), 2835, 2835, 0, 0)
    html_body = ("<tr><td>cell</td><td>value</td></tr>" * 42).encode()

    def payload(kind, mark):
        if kind == "text":
            return ("mark %d " % mark).ljust(50, "x").encode()
        if kind == "mib":
            return ("mark %d\n" % mark).encode() + mib_base
        if kind == "html":
            return b"<html><body><p>mark %d</p><table>" % mark + html_body + b"</table></body></html>"
        bits = bytearray(noise)
        bits[0:3] = bytes((7, mark & 0xFF, (mark >> 8) & 0xFF))
        return bmp_head + bytes(bits)

    return payload


def mark_of(kind, path):
    """The number a change carried, read from its item file; None when unreadable."""
    try:
        data = open(path, "rb").read()
    except OSError:
        return None
    pos = 5
    block = None
    while pos + 5 <= len(data):
        tag = data[pos:pos + 1]
        (length,) = struct.unpack_from("<I", data, pos + 1)
        if tag == b"B":
            block = data[pos + 5:pos + 5 + length]
        pos += 5 + length
    if block is None:
        return None
    try:
        if kind == "bitmap":
            first = zlib.decompressobj().decompress(block[40:], 3)
            if first[0] != 7:
                return None
            return first[1] | (first[2] << 8)
        head = zlib.decompressobj().decompress(block, 4096)
        text = head.decode("utf-16-le", "ignore") if kind in ("text", "mib") else head.decode("utf-8", "ignore")
        found = re.search(r"mark (\d+)", text)
        return int(found.group(1)) if found else None
    except zlib.error:
        return None


class Archive:
    """Watches the archive's item files and notes when each mark first appeared."""

    def __init__(self, folder):
        self.folder = folder
        self.seen = set()
        self.first = {}  # (extension, mark) -> time

    def poll(self, kind):
        ext = EXTENSION[kind]
        now = time.monotonic()
        for root, _, files in os.walk(self.folder):
            for name in files:
                if not name.endswith(ext) or name.startswith("~"):
                    continue
                path = os.path.join(root, name)
                if path in self.seen:
                    continue
                self.seen.add(path)
                mark = mark_of(kind, path)
                if mark is not None:
                    self.first.setdefault((ext, mark), now)

    def has(self, kind, mark):
        return (EXTENSION[kind], mark) in self.first


PRODUCER_KIND = {"text": "text", "mib": "mib", "bitmap": "dib"}


def numbers(marks):
    """Change numbers for a table cell, runs written as ranges: "0, 40-42, 80"."""
    if not marks:
        return "none"
    runs = []
    for m in marks:
        if runs and m == runs[-1][1] + 1:
            runs[-1][1] = m
        else:
            runs.append([m, m])
    text = ", ".join(str(a) if a == b else "%d-%d" % (a, b) for a, b in runs[:16])
    return text + (" and %d runs more" % (len(runs) - 16) if len(runs) > 16 else "")


def resident_mib(pid):
    """Resident memory of the Wine process running SVault.exe (started as pid)."""
    candidates = [pid]
    try:
        for entry in os.listdir("/proc"):
            if entry.isdigit():
                try:
                    if b"SVault.exe" in open("/proc/%s/cmdline" % entry, "rb").read():
                        candidates.append(int(entry))
                except OSError:
                    pass
    except OSError:
        pass
    best = 0
    for p in candidates:
        try:
            for line in open("/proc/%d/status" % p):
                if line.startswith("VmRSS:"):
                    best = max(best, int(line.split()[1]) // 1024)
        except OSError:
            pass
    return best


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("svault")
    parser.add_argument("winerun")
    parser.add_argument("--changes", default="200")
    parser.add_argument("--gaps", default="0,5,20,50")
    parser.add_argument("--kinds", default="text,html,mib,bitmap")
    parser.add_argument("--archive", default=None)
    parser.add_argument("--producer", default=None)
    parser.add_argument("--answer", action="store_true")
    parser.add_argument("--late", action="store_true")
    args = parser.parse_args()
    if "=" in args.changes:
        per_kind = dict((k, int(n)) for k, n in (pair.split("=") for pair in args.changes.split(",")))
    else:
        per_kind = dict((k, int(args.changes)) for k in LABEL)
    if args.producer and "html" in args.kinds.split(","):
        parser.error("the Windows producer makes texts and pictures only")
    manner = "answering" if args.answer else "answering late" if args.late else "sleeping"
    path = "Win32 producer, %s" % manner if args.producer else None
    gaps = [int(g) for g in args.gaps.split(",")]
    kinds = args.kinds.split(",")
    work = args.archive or ("/tmp/svault-throughput-%d" % os.getpid())
    archive = os.path.join(work, "archive") + "/"
    os.makedirs(archive, exist_ok=True)
    payload = make_payloads()

    def reg(*values):
        subprocess.run([args.winerun, "reg", "add", KEY] + list(values) + ["/f"], stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)

    reg("/v", "ArchiveFolder", "/d", "Z:" + archive.replace("/", "\\"))
    reg("/v", "Startup", "/t", "REG_DWORD", "/d", "0")
    reg("/v", "DiskSizeLimit", "/t", "REG_DWORD", "/d", "0")
    reg("/v", "ItemsLimit", "/t", "REG_DWORD", "/d", "0")
    reg("/v", "LoadWholeArchive", "/t", "REG_DWORD", "/d", "0")
    svault = subprocess.Popen([args.winerun, args.svault], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    started = []  # xclip processes, ended by pid at the end

    def copy(kind, mark):
        xclip = subprocess.Popen(["xclip", "-selection", "clipboard", "-quiet", "-t", TARGET[kind]],
                                 stdin=subprocess.PIPE, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        xclip.stdin.write(payload(kind, mark))
        xclip.stdin.close()
        started.append(xclip)

    def produce(kind, marks, gap):
        """One producer run: every change of the series. The time of its last change."""
        command = [args.winerun, args.producer, "--kind", PRODUCER_KIND[kind], "--count", str(len(marks)),
                   "--gap", str(gap), "--first", str(marks[0])]
        if args.answer:
            command.append("--answer")
        elif args.late:
            command.append("--late")
        producer = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        started.append(producer)
        unset, last_change = [], time.monotonic()
        for line in producer.stdout:
            if line.startswith("unset "):
                unset.append(int(line.split()[1]))
            elif line.startswith("last"):
                # It stays a moment longer, as the owner of its last change.
                last_change = time.monotonic()
                break
        return last_change, unset

    def reap():
        for p in list(started):
            if p.poll() is not None:
                started.remove(p)

    watcher = Archive(archive)
    rows = []
    try:
        # A copy made before the program joined the clipboard chain is never archived.
        ready = False
        for attempt in range(60):
            copy("text", 60000 + attempt)
            deadline = time.monotonic() + 1.0
            while time.monotonic() < deadline and not ready:
                watcher.poll("text")
                ready = watcher.has("text", 60000 + attempt)
                time.sleep(0.05)
            if ready:
                break
        if not ready:
            print("row\tcapture\tnot measured\tSVault.exe archived no copy")
            return 1
        series = 0
        for kind in kinds:
            for gap in gaps:
                series += 1
                base = series * 300
                marks = [base + n for n in range(per_kind[kind])]
                last_change, unset = 0.0, []
                if args.producer:
                    last_change, unset = produce(kind, marks, gap)
                else:
                    for mark in marks:
                        copy(kind, mark)
                        last_change = time.monotonic()
                        if gap:
                            time.sleep(gap / 1000.0)
                        reap()
                # Until the last change is archived, or nothing new has come for 5 s.
                quiet_since, count = time.monotonic(), 0
                while True:
                    watcher.poll(kind)
                    if watcher.has(kind, marks[-1]):
                        break
                    now_count = len(watcher.first)
                    if now_count != count:
                        count, quiet_since = now_count, time.monotonic()
                    if time.monotonic() - quiet_since > 5:
                        break
                    time.sleep(0.005)
                time.sleep(0.5)
                if args.producer:
                    for p in started:
                        p.wait()
                    reap()
                watcher.poll(kind)
                captured = sum(1 for m in marks if watcher.has(kind, m))
                last = watcher.first.get((EXTENSION[kind], marks[-1]))
                latency = "%.0f ms" % ((last - last_change) * 1000) if last else "never"
                rows.append((LABEL[kind], gap, captured, len(marks), latency))
                note = "%d of %d changes" % (captured, len(marks))
                if args.producer:
                    lost = [m - base for m in marks if not watcher.has(kind, m) and m not in unset]
                    note += "; lost: %s" % numbers(lost)
                    if unset:
                        note += "; not made (clipboard held): %s" % numbers([m - base for m in unset])
                what = "%s, %s" % (path, LABEL[kind]) if path else LABEL[kind]
                print("row\tcapture, %s, gap %d ms\t%.0f %% captured, last on disk after %s\t%s"
                      % (what, gap, 100.0 * captured / len(marks), latency, note))
                sys.stdout.flush()
            print("row\tcapture, %s: SVault.exe resident memory after the series\t%d MiB\t%d items archived so far"
                  % (LABEL[kind], resident_mib(svault.pid), len(watcher.first)))
            sys.stdout.flush()
    finally:
        subprocess.run([args.winerun, args.svault, "-Uninstall"], stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        try:
            svault.wait(timeout=20)
        except subprocess.TimeoutExpired:
            svault.kill()
        for p in started:
            if p.poll() is None:
                p.kill()
                p.wait()
        subprocess.run([args.winerun, "reg", "delete", KEY, "/v", "ArchiveFolder", "/f"],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if not args.archive:
            subprocess.run(["rm", "-rf", work])
    return 0


if __name__ == "__main__":
    sys.exit(main())
