#!/usr/bin/env bash
# End to end: installs the built program into a temporary prefix and runs the INSTALLED program in
# a real X server (Xvfb, no window manager).  Clicks Start, raises the tempo, watches notes come
# onto the stave and change bar by bar, stops with Escape and starts again with Space, counts the
# clicks in the WAV the built-in synthesiser writes, quits with Ctrl+Q and checks the exit status
# and the skin file.
#   bash scripts/e2e.sh            (BUILD_DIR names the build, default build/; built if needed)
# Exits non-zero with a message on the first check that fails.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$here/build}

fail() {
  echo "e2e: FAILED: $*" >&2
  exit 1
}
for tool in Xvfb xdotool import convert python3 xdpyinfo; do
  command -v "$tool" >/dev/null || fail "$tool is missing (bash scripts/install-deps.sh)"
done

if [ ! -x "$build/clefwork" ] || [ ! -f "$build/Ckey.bmp" ]; then
  BUILD_DIR=$build bash "$here/scripts/build.sh"
else
  cmake --build "$build" --target clefwork clefwork_icons -j"$(nproc)" >/dev/null
fi

work=$(mktemp -d /tmp/clefwork-e2e.XXXXXX)
keep=${E2E_KEEP:-0}
xvfb_pid=""
app_pid=""
cleanup() {
  if [ -n "$app_pid" ] && kill -0 "$app_pid" 2>/dev/null; then kill "$app_pid" 2>/dev/null || true; fi
  if [ -n "$xvfb_pid" ] && kill -0 "$xvfb_pid" 2>/dev/null; then kill "$xvfb_pid" 2>/dev/null || true; fi
  if [ "$keep" = 1 ]; then echo "e2e: kept $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT

prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >"$work/install.log"
exe=$prefix/bin/clefwork
data=$prefix/share/clefwork
[ -x "$exe" ] || fail "the install has no $exe"
[ -f "$data/Ckey.bmp" ] || fail "the install has no pictures in $data"

# A home of its own, so nothing of the user's is read or written.
export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config XDG_DATA_HOME=$work/home/.local/share
export XDG_CACHE_HOME=$work/home/.cache XDG_RUNTIME_DIR=$work/runtime
mkdir -p "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_CACHE_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
unset QT_QPA_PLATFORM CLEFWORK_DATA_DIR

# The skin file, where the program will look for it: its folder when that can be written.
if [ -w "$data" ]; then skinfile=$data/skins.txt; else skinfile=$XDG_CONFIG_HOME/clefwork/skins.txt; fi
mkdir -p "$(dirname "$skinfile")"
printf '2\r\n' >"$skinfile"
cp "$skinfile" "$work/skins.before"

# The X server picks a free display and tells it on fd 3.
exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
exec 3>&-
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
export DISPLAY=:$(head -n1 "$work/display")
xdpyinfo >/dev/null 2>&1 || fail "no X server on $DISPLAY"

wav=$work/clefwork.wav
CLEFWORK_AUDIO_DRIVER=file CLEFWORK_AUDIO_FILE=$wav "$exe" >"$work/app.log" 2>&1 &
app_pid=$!

boxcheck() {
  if xdotool search --onlyvisible --name 'Clefwork for Bass Guitar' >/dev/null 2>&1; then
    fail "a message box \"Clefwork for Bass Guitar\" is open ($1); log: $(cat "$work/app.log")"
  fi
}

win=""
for _ in $(seq 150); do
  kill -0 "$app_pid" 2>/dev/null || fail "the program ended at start: $(cat "$work/app.log")"
  win=$(xdotool search --onlyvisible --name Clefworking 2>/dev/null | head -n1 || true)
  [ -n "$win" ] && break
  boxcheck "at start"
  sleep 0.1
done
[ -n "$win" ] || fail "no visible window named Clefworking after 15 s"
sleep 1
boxcheck "after start"
xdotool windowfocus --sync "$win" 2>/dev/null || xdotool windowfocus "$win"
eval "$(xdotool getwindowgeometry --shell "$win")" # X Y WIDTH HEIGHT
echo "e2e: window $win at $X,$Y size ${WIDTH}x$HEIGHT on $DISPLAY"

shot() { import -window root "$work/$1.png"; }
analyse() { python3 "$work/analyse.py" "$@"; }
cat >"$work/analyse.py" <<'PY'
# Pixel checks on screenshots.  Coordinates below are in the window's client area (under the menu
# bar); the client origin is found by matching the logo, which the window shows 216 pixels wide
# (smoothly scaled), centred in the 85-pixel band at the client's top-left corner.
import subprocess, sys

def load(path, resize=None):
    args = ["convert", path] + (["-filter", "Triangle", "-resize", resize] if resize else [])
    out = subprocess.run(args + ["-depth", "8", "ppm:-"], check=True,
                         capture_output=True).stdout
    # P6\n<w> <h>\n255\n<data>
    parts = out.split(b"\n", 3)
    w, h = map(int, parts[1].split())
    return w, h, parts[3]

def px(img, x, y):
    w, h, d = img
    i = 3 * (y * w + x)
    return d[i], d[i + 1], d[i + 2]

def origin(shot, logo, wx, wy):
    s, l = load(shot), load(logo, "216x")
    top = (85 - l[1]) // 2
    best = None
    for dy in range(0, 64):
        for dx in range(0, 8):
            bad = 0
            for (lx, ly) in [(x, y) for y in range(4, 40, 5) for x in range(4, 200, 9)]:
                a, b = px(s, wx + dx + lx, wy + dy + top + ly), px(l, lx, ly)
                bad += sum(abs(p - q) for p, q in zip(a, b)) > 24
            if best is None or bad < best[0]:
                best = (bad, dx, dy)
    if best[0] > 10:
        sys.exit("the logo is not at the window's corner: the window does not show as designed")
    print(wx + best[1], wy + best[2])

def dark(img, x0, y0, x1, y1):
    # Dark pixels off the rows that are stave lines (rows mostly dark across the whole stave).
    rows = []
    for y in range(y0, y1):
        n = sum(1 for x in range(x0, x1) if sum(px(img, x, y)) < 200)
        rows.append(n)
    return sum(n for n in rows if n < 0.5 * (x1 - x0))

def diff(a, b, x0, y0, x1, y1):
    return sum(1 for y in range(y0, y1) for x in range(x0, x1)
               if sum(abs(p - q) for p, q in zip(px(a, x, y), px(b, x, y))) > 60)

cmd = sys.argv[1]
if cmd == "origin":
    origin(sys.argv[2], sys.argv[3], int(sys.argv[4]), int(sys.argv[5]))
elif cmd == "dark":
    cx, cy = int(sys.argv[3]), int(sys.argv[4])
    print(dark(load(sys.argv[2]), cx + 240, cy + 48, cx + 680, cy + 330))
elif cmd == "diff":
    cx, cy = int(sys.argv[4]), int(sys.argv[5])
    x0, x1 = int(sys.argv[6]), int(sys.argv[7])
    print(diff(load(sys.argv[2]), load(sys.argv[3]), cx + x0, cy + 48, cx + x1, cy + 330))
PY

shot before
read -r CX CY < <(analyse origin "$work/before.png" "$data/logo.bmp" "$X" "$Y") ||
  fail "cannot find the window's client area on the screenshot"
echo "e2e: client area at $CX,$CY"
empty=$(analyse dark "$work/before.png" "$CX" "$CY")

# The tempo: hold the mouse in the scroll bar's trough near its right end until the slider gets
# there (client 8..258 x 356..376).
xdotool mousemove $((CX + 236)) $((CY + 366)) mousedown 1
sleep 2.5
xdotool mouseup 1
sleep 0.3
shot tempo
# Start: the picture button at client (378..426, 340..378).
xdotool mousemove $((CX + 402)) $((CY + 359)) click 1
started=$(date +%s.%N)
boxcheck "after Start"
# At 200 beats a minute a bar lasts 1.2 s; at 60, 4 s.  The first beat draws the waiting bar.
sleep 2
shot bar1
sleep 4.8
shot bar2
sleep 4.8
shot bar3
boxcheck "while playing"
kill -0 "$app_pid" 2>/dev/null || fail "the program ended while playing: $(cat "$work/app.log")"

notes1=$(analyse dark "$work/bar1.png" "$CX" "$CY")
echo "e2e: dark pixels off the stave lines: $empty before Start, $notes1 after"
[ "$notes1" -gt $((empty + 150)) ] || fail "no notes appeared on the stave ($empty -> $notes1)"
# The waiting bar (right half of the stave) is new at every first beat; 4.8 s is four bars at
# 200 beats a minute and more than one at any tempo above 50.
d12=$(analyse diff "$work/bar1.png" "$work/bar2.png" "$CX" "$CY" 460 680)
d23=$(analyse diff "$work/bar2.png" "$work/bar3.png" "$CX" "$CY" 460 680)
echo "e2e: waiting bar changed by $d12 and $d23 pixels"
[ "$d12" -gt 50 ] || [ "$d23" -gt 50 ] || fail "the waiting bar did not change from bar to bar"

# The keys, as a player presses them with the focus where the click on Start left it: Escape
# stops the beat, Space starts it again.
xdotool key --clearmodifiers Escape
escaped=$(date +%s.%N)
sleep 2.5
boxcheck "after Escape"
xdotool key --clearmodifiers space
sleep 2.5

# Quit with Ctrl+Q, through the keyboard as a player would.
xdotool windowfocus "$win" 2>/dev/null || true
xdotool key --clearmodifiers ctrl+q
status=""
for _ in $(seq 100); do
  if ! kill -0 "$app_pid" 2>/dev/null; then
    set +e
    wait "$app_pid"
    status=$?
    set -e
    break
  fi
  sleep 0.1
done
[ -n "$status" ] || { xdotool key --window "$win" ctrl+q; fail "Ctrl+Q did not quit within 10 s"; }
app_pid=""
[ "$status" -eq 0 ] || fail "the program quit with status $status: $(cat "$work/app.log")"
cmp -s "$work/skins.before" "$skinfile" || fail "the skin file changed: $(od -c "$skinfile")"

# The clicks: one per beat, from Start until Ctrl+Q.
[ -s "$wav" ] || fail "the synthesiser wrote no WAV to $wav"
read -r clicks gap regular seconds pause after < <(python3 - "$wav" <<'PY'
import array, sys, wave
w = wave.open(sys.argv[1])
rate, ch, width = w.getframerate(), w.getnchannels(), w.getsampwidth()
assert width == 2, "16-bit samples expected"
s = array.array("h", w.readframes(w.getnframes()))
win = rate // 1000  # 1 ms
env = [max(abs(v) for v in s[i:i + win * ch]) for i in range(0, len(s) - win * ch, win * ch)]
peak = max(env) if env else 0
onsets, quiet = [], True
for i, e in enumerate(env):
    if quiet and e > 0.25 * peak:
        # A click's own swells (the accent's drum) come within 100 ms of its start: one onset.
        if not onsets or i * win / rate - onsets[-1] > 0.1:
            onsets.append(i * win / rate)
        quiet = False
    elif e < 0.08 * peak:
        quiet = True
# The longest silence is the stop by Escape; the clicks after it come from Space.
gaps = [b - a for a, b in zip(onsets, onsets[1:])]
cut = max(range(len(gaps)), key=lambda i: gaps[i]) if gaps else 0
pause = gaps[cut] if gaps else 0
after = len(onsets) - cut - 1
onsets, gaps = onsets[:cut + 1], gaps[:cut]
# The tempo bar climbs to 200 while the mouse holds it: the beat at 200 is the commonest gap.
mean = sorted(gaps)[len(gaps) // 2] if gaps else 0
regular = sum(1 for g in gaps if abs(g - mean) < 0.2 * mean) / len(gaps) if gaps else 0
print(len(onsets), round(mean, 4), round(regular, 2), round(len(s) / ch / rate, 1),
      round(pause, 2), after)
PY
)
played=$(python3 -c "print(round($escaped - $started, 1))")
echo "e2e: $clicks clicks in a $seconds s WAV over $played s of play, $gap s apart ($regular of the gaps within 20 %)"
echo "e2e: after Escape $pause s of silence, then $after clicks after Space"
python3 -c "import sys; sys.exit(0 if $pause >= 1.5 else 1)" || fail "Escape did not stop the beat"
[ "$after" -ge 4 ] || fail "Space did not start the beat again ($after clicks after the stop)"
[ "$clicks" -ge 8 ] || fail "only $clicks clicks in the WAV"
python3 -c "import sys; sys.exit(0 if $regular >= 0.9 else 1)" || fail "the clicks are not evenly spaced"
# One click per beat: as many clicks as beats at 200 a minute fit into the time played.  The file
# driver's clock runs a little apart from the wall clock, so the count is checked against the
# wall clock and the spacing against the WAV's own time.
beats=$(python3 -c "print(round($played * 200 / 60))")
python3 -c "import sys; sys.exit(0 if abs($clicks - $beats) <= 3 + 0.15 * $beats else 1)" ||
  fail "$clicks clicks, but $played s at 200 beats a minute make $beats"
# The tempo bar was raised to 200 beats a minute: a beat every 0.3 s of the WAV's own time (the
# clicks are scheduled on the synthesiser's sample clock), where 60 would give 1 s.
python3 -c "import sys; sys.exit(0 if abs($gap - 0.3) <= 0.0015 else 1)" ||
  fail "a beat every $gap s: the tempo bar did not reach 200, or the beat is not 0.3 s"
echo "e2e: passed"
