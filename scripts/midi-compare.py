#!/usr/bin/env python3
"""Renders MIDI files with `tune render` and with two reference renderers
(FluidSynth with Debian's General MIDI sound font, and TiMidity++ with its
own free patch set) and prints, per file, how well ours and TiMidity++'s
agree with FluidSynth's, and what each render cost:

  chroma  the mean correlation of the pitch-class content of 100 ms frames
          (12 bins, each frame's mean removed), over frames where both sound
  onset   the correlation of the onset envelopes (spectral flux in 8 bands,
          10 ms frames, smoothed over 30 ms)
  cpu     user CPU seconds of the render

The references are judges only: nothing of them is shipped or linked.

  scripts/midi-compare.py [FILE.mid ...] [--tune PATH] [--seconds S]
                          [--families] [--keep DIR [--reuse]]

Without files it fetches the free set (scripts/fetch-midi.sh). --seconds
cuts each file after S seconds (default 90); --families also renders each
family of General MIDI programs alone and prints its loudness, ours against
the reference's, relative to the whole mix. --keep keeps the renders in a
folder; --reuse then takes the references' renders (and their CPU times)
from there when the cut file is the same, for trying changes of our own
quickly (a run that reports speed side by side renders everything). --timidity-config names the
patch set of TiMidity++ (default: the free patches, not the reference's
sound font, which would make it a copy of the reference). Installs
python3-numpy, fluidsynth, fluid-soundfont-gm, timidity and freepats with
apt-get when missing.
"""
import argparse
import glob
import hashlib
import os
import resource
import shutil
import struct
import subprocess
import sys
import tempfile
import wave

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SOUND_FONT = "/usr/share/sounds/sf2/FluidR3_GM.sf2"
FREE_PATCHES = "/etc/timidity/freepats.cfg"
RATE = 44100


def ensure_numpy():
    try:
        import numpy  # noqa: F401
        return
    except ImportError:
        pass
    if not os.path.exists("/usr/lib/python3/dist-packages/numpy"):
        subprocess.run(["apt-get", "install", "-y", "python3-numpy"], check=True,
                       stdout=subprocess.DEVNULL)
    system = "/usr/bin/python3"
    if os.path.realpath(sys.executable) != os.path.realpath(system) and os.path.exists(system):
        os.execv(system, [system] + sys.argv)  # the system's interpreter has Debian's numpy
    sys.exit("midi-compare: numpy is not available")


ensure_numpy()
import numpy as np  # noqa: E402


def ensure_tools():
    missing = [p for p, path in (("fluidsynth", shutil.which("fluidsynth")),
                                 ("timidity", shutil.which("timidity")),
                                 ("fluid-soundfont-gm", os.path.exists(SOUND_FONT) or None),
                                 ("freepats", os.path.exists(FREE_PATCHES) or None))
               if not path]
    if missing:
        subprocess.run(["apt-get", "install", "-y"] + missing, check=True,
                       stdout=subprocess.DEVNULL)


# --- Standard MIDI Files: just enough to cut and filter them ----------------

def read_vlq(data, i):
    v = 0
    while True:
        b = data[i]
        i += 1
        v = (v << 7) | (b & 0x7F)
        if b < 0x80:
            return v, i


def read_smf(data):
    """(division, tracks): each track a list of (tick, raw event bytes)."""
    if data[:4] != b"MThd":
        raise ValueError("not a MIDI file")
    hlen = struct.unpack(">I", data[4:8])[0]
    _fmt, ntracks, division = struct.unpack(">HHH", data[8:14])
    i = 8 + hlen
    tracks = []
    while i + 8 <= len(data) and len(tracks) < ntracks:
        cid, clen = data[i:i + 4], struct.unpack(">I", data[i + 4:i + 8])[0]
        i += 8
        body, i = data[i:i + clen], i + clen
        if cid != b"MTrk":
            continue
        events, j, tick, status = [], 0, 0, 0
        while j < len(body):
            delta, j = read_vlq(body, j)
            tick += delta
            if body[j] >= 0x80:
                status = body[j]
                j += 1
            if status == 0xFF:
                mtype = body[j]
                length, k = read_vlq(body, j + 1)
                events.append((tick, bytes([0xFF, mtype]) + body[j + 1:k + length]))
                j = k + length
            elif status in (0xF0, 0xF7):
                length, k = read_vlq(body, j)
                events.append((tick, bytes([status]) + body[j:k + length]))
                j = k + length
            else:
                n = 1 if status & 0xF0 in (0xC0, 0xD0) else 2
                events.append((tick, bytes([status]) + body[j:j + n]))
                j += n
        tracks.append(events)
    return division, tracks


def put_vlq(v):
    out = [v & 0x7F]
    v >>= 7
    while v:
        out.insert(0, (v & 0x7F) | 0x80)
        v >>= 7
    return bytes(out)


def write_smf(division, tracks):
    out = b"MThd" + struct.pack(">IHHH", 6, 1, len(tracks), division)
    for events in tracks:
        body, last = b"", 0
        for tick, ev in events:
            body += put_vlq(tick - last) + ev
            last = tick
        body += put_vlq(0) + b"\xff\x2f\x00"
        out += b"MTrk" + struct.pack(">I", len(body)) + body
    return out


def tick_at_seconds(division, tracks, seconds):
    tempos = sorted((t, ev) for tr in tracks for t, ev in tr if ev[:2] == b"\xff\x51")
    at, micros, now = 0, 500000, 0.0
    for t, ev in tempos:
        step = (t - at) * micros / 1e6 / division
        if now + step >= seconds:
            break
        now, at = now + step, t
        body = ev[2:]
        _, k = read_vlq(body, 0)
        micros = int.from_bytes(body[k:k + 3], "big")
    return at + int((seconds - now) * 1e6 / micros * division)


def family_of(program):
    return program // 8


def cut_and_filter(division, tracks, end_tick, family=None):
    """The file up to `end_tick` (all notes ended there); with `family`, only
    the notes of channels playing that family (16 = the drum channel)."""
    program = [0] * 16
    merged = sorted(((t, n, ev) for n, tr in enumerate(tracks) for t, ev in tr),
                    key=lambda x: (x[0], x[1]))
    out = [[] for _ in tracks]
    for t, n, ev in merged:
        if t > end_tick or ev[:2] == b"\xff\x2f":
            continue
        if t == end_tick and 0x90 <= ev[0] < 0xA0:
            continue  # no note starts at the cut
        status = ev[0]
        if 0x80 <= status < 0xF0:
            ch, kind = status & 0x0F, status & 0xF0
            if kind == 0xC0:
                program[ch] = ev[1]
            if kind in (0x80, 0x90) and family is not None:
                fam = 16 if ch == 9 else family_of(program[ch])
                if fam != family:
                    continue
        out[n].append((t, ev))
    # Every sound ends at the cut: pedal up, all sound off, all notes off.
    for ch in range(16):
        for controller in (64, 120, 123):
            out[0].append((end_tick, bytes([0xB0 | ch, controller, 0])))
    return write_smf(division, out)


# --- Rendering ---------------------------------------------------------------

def run_timed(cmd):
    before = resource.getrusage(resource.RUSAGE_CHILDREN).ru_utime
    res = subprocess.run(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    if res.returncode != 0:
        raise RuntimeError(" ".join(cmd) + ": " + res.stderr.decode(errors="replace")[-300:])
    return resource.getrusage(resource.RUSAGE_CHILDREN).ru_utime - before


def render_kept(kind, tune, mid, wav, timidity_config=FREE_PATCHES, reuse=False):
    """Renders like render(); with `reuse`, a reference's earlier render of
    the same cut file is taken as it is, with its CPU time."""
    stamp = wav + ".cpu"
    with open(mid, "rb") as f:
        key = hashlib.sha1(f.read()).hexdigest()
    if reuse and kind != "tune" and os.path.exists(wav) and os.path.exists(stamp):
        with open(stamp) as f:
            saved = f.read().split()
        if len(saved) == 2 and saved[0] == key:
            return float(saved[1])
    cpu = render(kind, tune, mid, wav, timidity_config)
    with open(stamp, "w") as f:
        f.write(f"{key} {cpu}\n")
    return cpu


def render(kind, tune, mid, wav, timidity_config=FREE_PATCHES):
    if kind == "tune":
        cmd = [tune, "render", mid, wav]
    elif kind == "fluidsynth":
        cmd = ["fluidsynth", "-ni", "-q", "-g", "0.5", "-r", str(RATE), "-F", wav, SOUND_FONT, mid]
    else:
        cmd = ["timidity", "-c", timidity_config, "-Ow", "-s", str(RATE), "-o", wav, mid]
    return run_timed(cmd)


def read_wav(path):
    with wave.open(path) as w:
        n, ch, width = w.getnframes(), w.getnchannels(), w.getsampwidth()
        raw = w.readframes(n)
    if width != 2:
        raise RuntimeError(path + ": not 16-bit")
    x = np.frombuffer(raw, dtype="<i2").astype(np.float32) / 32768.0
    return x.reshape(-1, ch).mean(axis=1)


# --- Features ----------------------------------------------------------------

def spectra(x, hop, size):
    frames = max(1, (len(x) - size) // hop + 1) if len(x) >= size else 1
    x = np.pad(x, (0, max(0, size - len(x))))
    idx = np.arange(size)[None, :] + hop * np.arange(frames)[:, None]
    return np.abs(np.fft.rfft(x[idx] * np.hanning(size), axis=1))


def chroma(x):
    size, hop = 8192, RATE // 10
    mag = spectra(x, hop, size)
    freqs = np.fft.rfftfreq(size, 1.0 / RATE)
    use = (freqs >= 50) & (freqs <= 5000)
    pc = (np.round(12 * np.log2(freqs[use] / 440.0)).astype(int) + 9) % 12
    out = np.zeros((mag.shape[0], 12))
    for k in range(12):
        out[:, k] = (mag[:, use][:, pc == k] ** 2).sum(axis=1)
    return out


def onset_envelope(x):
    size, hop = 1024, RATE // 100
    mag = spectra(x, hop, size)
    edges = np.geomspace(2, mag.shape[1] - 1, 9).astype(int)
    bands = np.stack([mag[:, a:b].sum(axis=1) for a, b in zip(edges[:-1], edges[1:])], axis=1)
    logb = np.log(bands + 1e-4)
    flux = np.maximum(np.diff(logb, axis=0), 0).sum(axis=1)
    return np.convolve(flux, np.ones(3) / 3, mode="same")


def pearson(a, b):
    a, b = a - a.mean(), b - b.mean()
    d = np.sqrt((a * a).sum() * (b * b).sum())
    return float((a * b).sum() / d) if d > 0 else 0.0


def chroma_agreement(ca, cb):
    n = min(len(ca), len(cb))
    ca, cb = ca[:n], cb[:n]
    ea, eb = ca.sum(axis=1), cb.sum(axis=1)
    live = (ea > ea.max() * 1e-4) & (eb > eb.max() * 1e-4)
    if not live.any():
        return 0.0
    return float(np.mean([pearson(ca[i], cb[i]) for i in np.nonzero(live)[0]]))


def onset_agreement(oa, ob):
    n = min(len(oa), len(ob))
    return pearson(oa[:n], ob[:n])


def rms_db(x):
    return 10 * np.log10(np.mean(x.astype(np.float64) ** 2) + 1e-20)


# --- The run -----------------------------------------------------------------

FAMILIES = ["piano", "chrom perc", "organ", "guitar", "bass", "strings", "ensemble", "brass",
            "reed", "pipe", "synth lead", "synth pad", "synth fx", "ethnic", "percussive",
            "sound fx", "drum kit"]


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("files", nargs="*")
    ap.add_argument("--tune", default=os.path.join(ROOT, "build", "tools", "tune"))
    ap.add_argument("--seconds", type=float, default=90.0)
    ap.add_argument("--families", action="store_true")
    ap.add_argument("--keep", help="keep the renders in this folder")
    ap.add_argument("--reuse", action="store_true",
                    help="with --keep: reuse the references' renders found there")
    ap.add_argument("--timidity-config", default=FREE_PATCHES)
    args = ap.parse_args()
    if not os.access(args.tune, os.X_OK):
        sys.exit(f"midi-compare: no tune tool at {args.tune} (build it, or name it with --tune)")
    ensure_tools()
    files = args.files
    if not files:
        out = subprocess.run([os.path.join(ROOT, "scripts", "fetch-midi.sh"),
                              os.path.join(ROOT, "build-midi-files")],
                             check=True, capture_output=True, text=True).stdout
        files = [f for f in out.split() if f.lower().endswith(".mid")]
    work = args.keep or tempfile.mkdtemp(prefix="midi-compare.")
    os.makedirs(work, exist_ok=True)

    kinds = ["tune", "fluidsynth", "timidity"]
    print(f"{'file':28} {'chroma':>13} {'onset':>13}   {'user CPU s':>20}  {'audio':>5}")
    print(f"{'':28} {'tune':>6} {'timid':>6} {'tune':>6} {'timid':>6}   "
          f"{'tune':>6} {'fluid':>6} {'timid':>6}  {'s':>5}")
    rows = []
    family_db = {}  # family -> [ours relative to mix, reference relative to mix, weight]
    for path in files:
        name = os.path.splitext(os.path.basename(path))[0]
        with open(path, "rb") as f:
            division, tracks = read_smf(f.read())
        last = max((t for tr in tracks for t, _ in tr), default=0)
        end = min(last, tick_at_seconds(division, tracks, args.seconds))
        cut = os.path.join(work, name + ".mid")
        with open(cut, "wb") as f:
            f.write(cut_and_filter(division, tracks, end))
        sound, cpu = {}, {}
        for kind in kinds:
            wav = os.path.join(work, f"{name}.{kind}.wav")
            cpu[kind] = render_kept(kind, args.tune, cut, wav, args.timidity_config, args.reuse)
            sound[kind] = read_wav(wav)
        ref_c, ref_o = chroma(sound["fluidsynth"]), onset_envelope(sound["fluidsynth"])
        row = {"name": name, "cpu": cpu, "seconds": len(sound["fluidsynth"]) / RATE}
        for kind in ("tune", "timidity"):
            row[kind] = (chroma_agreement(chroma(sound[kind]), ref_c),
                         onset_agreement(onset_envelope(sound[kind]), ref_o))
        rows.append(row)
        print(f"{name[:28]:28} {row['tune'][0]:6.3f} {row['timidity'][0]:6.3f} "
              f"{row['tune'][1]:6.3f} {row['timidity'][1]:6.3f}   {cpu['tune']:6.2f} "
              f"{cpu['fluidsynth']:6.2f} {cpu['timidity']:6.2f}  {row['seconds']:5.0f}",
              flush=True)
        if args.families:
            mix = {k: rms_db(sound[k]) for k in ("tune", "fluidsynth")}
            present = set()
            program = [0] * 16
            for _t, _n, ev in sorted((t, n, ev) for n, tr in enumerate(tracks) for t, ev in tr):
                if 0x80 <= ev[0] < 0xF0 and ev[0] & 0xF0 == 0xC0:
                    program[ev[0] & 0x0F] = ev[1]
                if 0x90 <= ev[0] < 0xA0 and ev[2] > 0 and _t < end:
                    ch = ev[0] & 0x0F
                    present.add(16 if ch == 9 else family_of(program[ch]))
            for fam in sorted(present):
                part = os.path.join(work, f"{name}.f{fam}.mid")
                with open(part, "wb") as f:
                    f.write(cut_and_filter(division, tracks, end, fam))
                level = {}
                try:
                    for kind in ("tune", "fluidsynth"):
                        wav = os.path.join(work, f"{name}.f{fam}.{kind}.wav")
                        render_kept(kind, args.tune, part, wav, reuse=args.reuse)
                        level[kind] = rms_db(read_wav(wav)) - mix[kind]
                except (RuntimeError, OSError, EOFError):
                    continue  # the family plays nothing before the cut
                acc = family_db.setdefault(fam, [0.0, 0.0, 0])
                acc[0] += level["tune"]
                acc[1] += level["fluidsynth"]
                acc[2] += 1

    def mean(key, i):
        return sum(r[key][i] for r in rows) / len(rows)

    print(f"{'mean':28} {mean('tune', 0):6.3f} {mean('timidity', 0):6.3f} "
          f"{mean('tune', 1):6.3f} {mean('timidity', 1):6.3f}   "
          f"{sum(r['cpu']['tune'] for r in rows):6.1f} "
          f"{sum(r['cpu']['fluidsynth'] for r in rows):6.1f} "
          f"{sum(r['cpu']['timidity'] for r in rows):6.1f}  "
          f"{sum(r['seconds'] for r in rows):5.0f}  (CPU and audio: totals)")
    slower = [r["name"] for r in rows if r["cpu"]["tune"] > r["cpu"]["fluidsynth"]]
    print(f"agreement with FluidSynth, tune vs TiMidity++: chroma "
          f"{'at least as high' if mean('tune', 0) >= mean('timidity', 0) else 'LOWER'}, "
          f"onset {'at least as high' if mean('tune', 1) >= mean('timidity', 1) else 'LOWER'}")
    print("speed: tune render " + ("at least as fast as FluidSynth on every file" if not slower
                                   else "slower than FluidSynth on " + ", ".join(slower)))
    if family_db:
        print("\nloudness of each family relative to its whole mix, mean over the files "
              "that use it (dB)")
        print(f"{'family':12} {'files':>5} {'tune':>7} {'fluid':>7} {'diff':>7}")
        for fam in sorted(family_db):
            ours, ref, n = family_db[fam]
            print(f"{FAMILIES[fam]:12} {n:5d} {ours / n:7.1f} {ref / n:7.1f} "
                  f"{(ours - ref) / n:+7.1f}")
    if not args.keep:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
