#!/usr/bin/env python3
"""Two Syncthing instances on this machine that keep two folders the same.

Each instance has a home folder, a GUI/REST port and a sync port of its own;
they know each other by device id at a loopback address, with global and local
discovery, relays, NAT traversal, usage reports and upgrades off, so nothing
leaves the machine. The shared folder's watcher reports changes after one
second (Syncthing's default waits ten).

    syncthing_pair.py start WORK FOLDER_A FOLDER_B   # prints "pids A B" once both are connected
    syncthing_pair.py wait-idle WORK                  # returns once both have nothing left to sync
"""
import json
import os
import subprocess
import sys
import time
import urllib.request
import xml.etree.ElementTree as ET

FOLDER_ID = "scrapvault-archive"
API_KEY = "scrapvault-local-test-key"
BASE_PORT = int(os.environ.get("SVAULT_SYNC_PORT", "22400"))


def instance(work, name):
    index = "ab".index(name)
    return {
        "home": os.path.join(work, "syncthing-" + name),
        "gui": BASE_PORT + 10 * index,
        "sync": BASE_PORT + 10 * index + 1,
    }


def generate(home):
    out = subprocess.run(["syncthing", "generate", "--home=" + home, "--no-default-folder"],
                         stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, check=True).stdout
    for line in out.splitlines():
        if "Device ID:" in line:
            return line.split("Device ID:")[1].strip()
    raise RuntimeError("syncthing generate printed no device id: " + out)


def set_text(parent, tag, text):
    node = parent.find(tag)
    if node is None:
        node = ET.SubElement(parent, tag)
    node.text = str(text)


def configure(me, my_id, other, other_id, folder):
    path = os.path.join(me["home"], "config.xml")
    tree = ET.parse(path)
    root = tree.getroot()
    gui = root.find("gui")
    set_text(gui, "address", "127.0.0.1:%d" % me["gui"])
    set_text(gui, "apikey", API_KEY)
    options = root.find("options")
    for tag, value in [("listenAddress", "tcp://127.0.0.1:%d" % me["sync"]),
                       ("globalAnnounceEnabled", "false"), ("localAnnounceEnabled", "false"),
                       ("relaysEnabled", "false"), ("natEnabled", "false"), ("startBrowser", "false"),
                       ("urAccepted", "-1"), ("autoUpgradeIntervalH", "0"),
                       ("crashReportingEnabled", "false"), ("reconnectionIntervalS", "1")]:
        set_text(options, tag, value)
    for device in root.findall("device"):
        if device.get("id") != my_id:
            root.remove(device)
    peer = ET.SubElement(root, "device", id=other_id, name="peer", compression="metadata", introducer="false")
    set_text(peer, "address", "tcp://127.0.0.1:%d" % other["sync"])
    shared = ET.SubElement(root, "folder", id=FOLDER_ID, label="Scrapvault archive", path=folder,
                           type="sendreceive", rescanIntervalS="3600", fsWatcherEnabled="true",
                           fsWatcherDelayS="1", ignorePerms="true", autoNormalize="true")
    for device_id in (my_id, other_id):
        ET.SubElement(shared, "device", id=device_id, introducedBy="")
    # The folder counts as there once it holds Syncthing's marker.
    os.makedirs(os.path.join(folder, ".stfolder"), exist_ok=True)
    tree.write(path)


def rest(me, endpoint):
    request = urllib.request.Request("http://127.0.0.1:%d/rest/%s" % (me["gui"], endpoint),
                                     headers={"X-API-Key": API_KEY})
    with urllib.request.urlopen(request, timeout=5) as reply:
        return json.load(reply)


def wait_for(condition, seconds, what):
    deadline = time.time() + seconds
    while time.time() < deadline:
        try:
            if condition():
                return
        except OSError:
            pass
        time.sleep(0.25)
    raise SystemExit("syncthing_pair: %s did not happen within %d s" % (what, seconds))


def start(work, folder_a, folder_b):
    a, b = instance(work, "a"), instance(work, "b")
    ids = {}
    for me in (a, b):
        ids[me["home"]] = generate(me["home"])
    configure(a, ids[a["home"]], b, ids[b["home"]], os.path.abspath(folder_a))
    configure(b, ids[b["home"]], a, ids[a["home"]], os.path.abspath(folder_b))
    env = dict(os.environ, STNOUPGRADE="1", STNODEFAULTFOLDER="1", STNORESTART="1")
    pids = []
    for me in (a, b):
        log = open(os.path.join(me["home"], "syncthing.log"), "w")
        process = subprocess.Popen(["syncthing", "serve", "--home=" + me["home"], "--no-browser", "--no-restart"],
                                   stdout=log, stderr=subprocess.STDOUT, env=env, start_new_session=True)
        pids.append(process.pid)
    with open(os.path.join(work, "syncthing.pids"), "w") as f:
        f.write("%d %d\n" % tuple(pids))

    def connected():
        return all(any(c.get("connected") for c in rest(me, "system/connections")["connections"].values())
                   for me in (a, b))
    wait_for(connected, 60, "the two Syncthing instances connecting")
    print("pids %d %d" % tuple(pids))


def wait_idle(work):
    a, b = instance(work, "a"), instance(work, "b")

    def idle():
        for me in (a, b):
            status = rest(me, "db/status?folder=" + FOLDER_ID)
            if status.get("state") != "idle" or status.get("needTotalItems", 0) != 0:
                return False
        return True
    wait_for(idle, 60, "both folders becoming idle")


if __name__ == "__main__":
    if len(sys.argv) == 5 and sys.argv[1] == "start":
        start(*sys.argv[2:])
    elif len(sys.argv) == 3 and sys.argv[1] == "wait-idle":
        wait_idle(sys.argv[2])
    else:
        raise SystemExit(__doc__)
