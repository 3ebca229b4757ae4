#!/usr/bin/env bash
# One archive on two machines: two SVault.exe, each in a Wine prefix and an X
# display of its own (machine A in the ones scripts/test provides, machine B in
# new ones), whose archive folders two Syncthing instances on loopback keep the
# same. A copy made on A shows in B's tree within 10 s, a delete on B leaves A's
# tree as fast, and 100 copies made on each machine at once all arrive on both,
# once each, attributed to their machine's program, with no conflict copy and
# no file in the shared folder but the archive's own.
#   sync_test.sh SVAULT_EXE TREE_EXE PRODUCER_EXE WINE_RUN PAIR_PY SHOT_FOLDER
# Needs DISPLAY and WINEPREFIX (scripts/test provides private ones) and syncthing.
set -u
source "$(dirname "$0")/xclip_lib.sh"
svault=$1 treedriver=$2 producer=$3 winerun=$4 pair=$5 shots=$6
source "$(dirname "$winerun")/lib/wine-env.sh"
# Away from scripts/sync-pair's ports (22400 on), so a person's pair may run.
export SVAULT_SYNC_PORT=${SVAULT_SYNC_TEST_PORT:-22640}
work=$(mktemp -d /tmp/svault-sync.XXXXXX)
mkdir -p "$work/a/archive" "$work/b/archive" "$work/syncthing" "$shots"
a_env=(env DISPLAY="$DISPLAY" WINEPREFIX="$WINEPREFIX")
b_xvfb= sync_pids=
# Delete asks first unless told not to (103: "Are you sure you want to remove the item?").
warnings='HKCU\Software\Brindlework\Scrapvault\1.0\Warnings'
finish() {
  # A machine whose program never came up must not hold the test until ctest's
  # timeout: its Wine server is ended below in any case.
  timeout 30 "${a_env[@]}" "$winerun" "$svault" /Uninstall >/dev/null 2>&1
  timeout 30 "${b_env[@]}" "$winerun" "$svault" /Uninstall >/dev/null 2>&1
  end_started_processes
  for pid in $sync_pids; do kill -- "-$pid" 2>/dev/null; done
  WINEPREFIX="$work/b/prefix" "$WINESERVER" -k >/dev/null 2>&1
  [ -n "$b_xvfb" ] && kill "$b_xvfb" 2>/dev/null
  # Machine A's prefix is the one the other tests share: its settings go back.
  for value in ArchiveFolder ItemsLimit DiskSizeLimit GroupBy; do
    "${a_env[@]}" "$winerun" reg delete "$key" /v $value /f >/dev/null 2>&1
  done
  "${a_env[@]}" "$winerun" reg delete "$warnings" /v 103 /f >/dev/null 2>&1
  wait 2>/dev/null
  rm -rf "$work"
}
trap finish EXIT

# Machine B: a display and a prefix of its own, as scripts/test makes them.
fdfile=$work/display
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fdfile" >/dev/null 2>&1 &
b_xvfb=$!
for _ in $(seq 1 100); do [ -s "$fdfile" ] && break; sleep 0.05; done
b_env=(env DISPLAY=":$(head -n 1 "$fdfile")" WINEPREFIX="$work/b/prefix")
"${b_env[@]}" bash -c "source '$(dirname "$winerun")/lib/wine-session.sh'; wine_session_env; wine_session_start_prefix \"\$WINEPREFIX\"" \
  >/dev/null 2>&1

on() {  # on a|b COMMAND...: runs a command on machine A or B
  local machine=$1; shift
  if [ "$machine" = a ]; then "${a_env[@]}" "$@"; else "${b_env[@]}" "$@"; fi
}
tree() { on "$1" "$winerun" "$treedriver" "${@:2}" 2>/dev/null | tr -d '\r'; }
nodes() { tree "$1" select 999999 | head -n 1; }
# What a machine's archive folder holds today, read from its files:
#   survey.py nodes FOLDER  the nodes its tree shows: a capture node for each
#                           capture with items, and a leaf for each item
#   survey.py marks FOLDER  the marks of the producers' texts, one per line
#   survey.py wrong FOLDER  how many of those name the other machine's program
cat >"$work/survey.py" <<'PY'
import glob, os, re, struct, sys, zlib
def fields(path):
    data, pos, out = open(path, "rb").read(), 5, {}
    while pos + 5 <= len(data):
        tag, size = chr(data[pos]), struct.unpack_from("<I", data, pos + 1)[0]
        out[tag] = data[pos + 5:pos + 5 + size]
        pos += 5 + size
    return out
command, folder = sys.argv[1:]
titles = {}
for path in glob.glob(os.path.join(folder, "AppData", "*.se")):
    f = fields(path)
    titles[f.get("G")] = f.get("T", b"").decode()
items = [fields(p) for p in glob.glob(os.path.join(folder, "*", "*.tx")) if os.sep + "AppData" + os.sep not in p]
if command == "nodes":
    shown = [f.get("G") for f in items if f.get("G") in titles]
    print(len(shown) + len(set(shown)))
    sys.exit()
marks, wrong = [], 0
for f in items:
    text = zlib.decompress(f["B"]).decode("utf-16-le", "replace") if "B" in f else ""
    found = re.match(r"mark (\d+)", text)
    if found:
        mark = int(found.group(1))
        marks.append(mark)
        wrong += titles.get(f.get("G")) != ("Machine A" if mark < 2000 else "Machine B")
print("\n".join(map(str, sorted(marks))) if command == "marks" else wrong)
PY
survey() { python3 "$work/survey.py" "$1" "$work/$2/archive"; }
expected_nodes() { survey nodes "$1"; }
wait_nodes() {  # wait_nodes MACHINE WANT TENTHS
  for _ in $(seq 1 "$3"); do [ "$(nodes "$1")" = "$2" ] && return 0; sleep 0.1; done
  return 1
}
idle() { python3 "$pair" wait-idle "$work/syncthing" >/dev/null 2>&1; }

# Each machine archives a first copy of its own before the folders are linked.
for machine in a b; do
  archive="$work/$machine/archive/"
  on $machine "$winerun" reg add "$key" /v ArchiveFolder /d "Z:$(printf '%s' "$archive" | tr / '\\')" /f >/dev/null
  on $machine "$winerun" reg add "$key" /v Startup /t REG_DWORD /d 0 /f >/dev/null
  on $machine "$winerun" reg add "$key" /v LoadWholeArchive /t REG_DWORD /d 0 /f >/dev/null
  on $machine "$winerun" reg add "$key" /v ItemsLimit /t REG_DWORD /d 0 /f >/dev/null
  on $machine "$winerun" reg add "$key" /v DiskSizeLimit /t REG_DWORD /d 0 /f >/dev/null
  on $machine "$winerun" reg add "$key" /v GroupBy /t REG_DWORD /d 1 /f >/dev/null
  on $machine "$winerun" reg add "$warnings" /v 103 /t REG_DWORD /d 1 /f >/dev/null
  on $machine "$winerun" "$svault" >/dev/null 2>&1 &
  pids+=($!)
  ready=false
  for attempt in $(seq 1 60); do
    printf 'warm-up %s on %s' "$attempt" "$machine" | on $machine xclip -selection clipboard -quiet >/dev/null 2>&1 &
    pids+=($!)
    wait_count .tx 1 10 && { ready=true; break; }
  done
  check "machine ${machine^^} archives a first copy" $ready
  $ready || { summary; exit 1; }
done

sync_pids=$(python3 "$pair" start "$work/syncthing" "$work/a/archive" "$work/b/archive" 2>"$work/pair.err" |
  sed -n 's/^pids //p')
check "the two Syncthing instances connect" [ -n "$sync_pids" ]
[ -n "$sync_pids" ] || { cat "$work/pair.err"; summary; exit 1; }

# What each machine had before the link shows on the other.
idle
want=$(expected_nodes a)
wait_nodes a "$want" 100 && wait_nodes b "$want" 100
check "both trees show both machines' first copies ($want nodes)" [ "$(nodes a)" = "$want" -a "$(nodes b)" = "$want" ]

# A copy on A in B's tree, then a delete on B gone from A's tree.
before=$(nodes b)
start=$(date +%s.%N)
printf 'made on A' | on a xclip -selection clipboard -quiet >/dev/null 2>&1 &
pids+=($!)
wait_nodes b $((before + 2)) 100
took=$(python3 -c "import time; print('%.1f' % (time.time() - $start))")
echo "     a copy on A in B's tree after ${took} s"
check "a copy made on A is in B's tree within 10 s" [ "$(nodes b)" = $((before + 2)) ]
idle
tree b select 0 >/dev/null
start=$(date +%s.%N)
tree b command 32778 >/dev/null  # Delete: the first capture node, with its item
after=$(nodes b)
wait_nodes a "$after" 100
took=$(python3 -c "import time; print('%.1f' % (time.time() - $start))")
echo "     a delete on B gone from A's tree after ${took} s"
check "a capture deleted on B leaves A's tree within 10 s" [ "$after" = $((before)) -a "$(nodes a)" = "$after" ]

# 100 copies on each machine at once, each from a program of its own title.
on a "$winerun" "$producer" --answer --count 100 --first 1000 --gap 60 --title 'Machine A' >/dev/null 2>&1 &
producer_a=$!
on b "$winerun" "$producer" --answer --count 100 --first 2000 --gap 60 --title 'Machine B' >/dev/null 2>&1 &
producer_b=$!
wait $producer_a $producer_b
marks() { survey marks "$1"; }
# Until both hold every copy, or neither has gained one for 8 s.
last= still=0
for _ in $(seq 1 60); do
  now="$(marks a | wc -l) $(marks b | wc -l)"
  [ "$now" = "200 200" ] && break
  if [ "$now" = "$last" ]; then still=$((still + 1)); else still=0; fi
  [ $still -ge 8 ] && break
  last=$now
  sleep 1
done
idle
want=$(expected_nodes a)
wait_nodes a "$want" 200 && wait_nodes b "$want" 200
expected_marks=$( (seq 1000 1099; seq 2000 2099) | sort -n)
for machine in a b; do
  check "machine ${machine^^}: the 200 copies once each, none lost" [ "$(marks $machine)" = "$expected_marks" ]
  check "machine ${machine^^}: no conflict copy" [ "$(find "$work/$machine/archive" -name '*sync-conflict*' | wc -l)" = 0 ]
  others=$(find "$work/$machine/archive" -type f ! -path '*/.stfolder/*' ! -regex '.*/AppData/[^/]*\.\(se\|app\)' \
    ! -regex '.*/[0-9_]*/C-[^/]*\.\(tx\|db\|mt\|rt\|ht\)' | wc -l)
  check "machine ${machine^^}: nothing in the shared folder but record files" [ "$others" = 0 ]
  check "machine ${machine^^}: the tree shows every capture once ($want nodes)" [ "$(nodes $machine)" = "$want" ]
  # Each text's capture names the machine that made it.
  wrong=$(survey wrong $machine)
  echo "     machine ${machine^^}: $(marks $machine | wc -l) copies, $(marks $machine | uniq | wc -l) different," \
    "$wrong attributed elsewhere; missing: $(comm -23 <(echo "$expected_marks") <(marks $machine) | tr '\n' ' ')"
  check "machine ${machine^^}: every copy is attributed to its machine's program" [ "$wrong" = 0 ]
  # Grouped by application: "Machine A", "Machine B", then the warm-ups' group.
  tree $machine command 32774 >/dev/null
  groups=$(tree $machine groups)
  echo "     machine ${machine^^} by application: $groups"
  check "machine ${machine^^}: the tree shows 100 copies under each machine's program" \
    [ "$(echo "$groups" | cut -d' ' -f1-2)" = "100 100" ]
  tree $machine command 32775 >/dev/null
done
on a "$winerun" "$svault" >/dev/null 2>&1
on b "$winerun" "$svault" >/dev/null 2>&1
sleep 1
on a import -window root "$shots/sync-a.png" 2>/dev/null
on b import -window root "$shots/sync-b.png" 2>/dev/null
summary
