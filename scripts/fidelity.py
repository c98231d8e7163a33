#!/usr/bin/python3
"""Renders the same MIDI through the same font with a peer synthesizer and
with `oxsf render`, and compares the two: single notes of every melodic
preset (three pitches, three velocities) and whole songs. Prints one table,
worst cases first, and the figures against their targets.

Usage: fidelity.py OXSF FONT.sf2 FONT.sf3 SONG.mid... --work DIR
"""
import argparse
import os
import struct
import subprocess
import sys

import numpy as np

RATE = 44100
WINDOW = 2048
BANDS = 40
PITCHES = (48, 60, 72)
VELOCITIES = (40, 80, 120)
NOTE_SECONDS = 1.5
SLOT_SECONDS = 2.5


def varlen(value):
    out = [value & 0x7F]
    value >>= 7
    while value:
        out.insert(0, (value & 0x7F) | 0x80)
        value >>= 7
    return bytes(out)


def note_file(path, program):
    """A type-0 MIDI file: the program, then every pitch at every velocity in turn."""
    ticks = 480  # per quarter note at 120 bpm: 960 ticks a second
    per_second = 960
    events = [(0, bytes([0xC0, program]))]
    at = 0
    for pitch in PITCHES:
        for velocity in VELOCITIES:
            events.append((at, bytes([0x90, pitch, velocity])))
            events.append((at + int(NOTE_SECONDS * per_second), bytes([0x80, pitch, 0])))
            at += int(SLOT_SECONDS * per_second)
    events.append((at, bytes([0xFF, 0x2F, 0x00])))
    track = b""
    last = 0
    for time, data in events:
        track += varlen(time - last) + data
        last = time
    with open(path, "wb") as f:
        f.write(b"MThd" + struct.pack(">IHHH", 6, 0, 1, ticks))
        f.write(b"MTrk" + struct.pack(">I", len(track)) + track)


def read_wav(path):
    """Mono float samples of a 16-bit or float WAV."""
    data = open(path, "rb").read()
    at = 12
    channels, bits, fmt, samples = 2, 16, 1, None
    while at + 8 <= len(data):
        cid, size = data[at:at + 4], struct.unpack("<I", data[at + 4:at + 8])[0]
        body = data[at + 8:at + 8 + size]
        if cid == b"fmt ":
            fmt, channels = struct.unpack("<HH", body[:4])
            bits = struct.unpack("<H", body[14:16])[0]
        elif cid == b"data":
            samples = body
        at += 8 + size + (size & 1)
    if fmt == 3 or bits == 32:
        x = np.frombuffer(samples, dtype="<f4").astype(np.float64)
    else:
        x = np.frombuffer(samples[:len(samples) // 2 * 2], dtype="<i2") / 32768.0
    x = x[:len(x) // channels * channels].reshape(-1, channels)
    return x.mean(axis=1)


def mel_filters():
    def mel(f):
        return 2595.0 * np.log10(1.0 + f / 700.0)

    def hz(m):
        return 700.0 * (10.0 ** (m / 2595.0) - 1.0)

    edges = hz(np.linspace(mel(30.0), mel(16000.0), BANDS + 2))
    freqs = np.fft.rfftfreq(WINDOW, 1.0 / RATE)
    bank = np.zeros((BANDS, len(freqs)))
    for b in range(BANDS):
        lo, mid, hi = edges[b], edges[b + 1], edges[b + 2]
        bank[b] = np.clip(np.minimum((freqs - lo) / (mid - lo), (hi - freqs) / (hi - mid)), 0, None)
    return bank


MEL = mel_filters()


def mel_power(x):
    """Mel band power per 2048-frame window (hop 1024)."""
    frames = (len(x) - WINDOW) // (WINDOW // 2) + 1
    if frames <= 0:
        return np.zeros((0, BANDS))
    idx = np.arange(WINDOW)[None, :] + (WINDOW // 2) * np.arange(frames)[:, None]
    spectra = np.abs(np.fft.rfft(x[idx] * np.hanning(WINDOW), axis=1)) ** 2
    return spectra @ MEL.T


def db(p):
    return 10.0 * np.log10(np.maximum(p, 1e-20))


def compare(ref, ours):
    """Mel correlation (median over sounding windows) and long-term band differences."""
    n = min(len(ref), len(ours))
    a, b = mel_power(ref[:n]), mel_power(ours[:n])
    energy = a.sum(axis=1)
    sounding = energy > energy.max() * 1e-4 if len(energy) else energy
    corr = []
    for wa, wb in zip(db(a[sounding]), db(b[sounding])):
        # Bands far below the window's loudest are noise floor in either render.
        floor = max(wa.max(), wb.max()) - 60.0
        wa, wb = np.maximum(wa, floor), np.maximum(wb, floor)
        if wa.std() > 0 and wb.std() > 0:
            corr.append(np.corrcoef(wa, wb)[0, 1])
    lta, ltb = a[sounding].mean(axis=0), b[sounding].mean(axis=0)
    # Levels matched over the whole note, then bands within 50 dB of the loudest compared.
    diff = db(ltb) - db(lta)
    weights = lta / lta.sum()
    diff -= (diff * weights).sum()
    used = db(lta) > db(lta).max() - 50.0
    return (float(np.median(corr)) if corr else float("nan")), np.abs(diff[used])


def envelope_db(x):
    hop = int(0.05 * RATE)
    n = len(x) // hop
    power = (x[:n * hop].reshape(n, hop) ** 2).mean(axis=1)
    return db(power)


def render(args, font, banks, midi, out_peer, out_ours):
    subprocess.run(["fluidsynth", "-ni", "-q", "-R", "0", "-C", "0", "-g", "0.5", "-r", str(RATE),
                    "-o", "audio.file.format=float",
                    "-F", out_peer, font, midi], check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)
    subprocess.run([args.oxsf, "render", "--instruments", banks, midi, "-o", out_ours, "-q",
                    "--float"], check=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("oxsf")
    parser.add_argument("sf2")
    parser.add_argument("sf3")
    parser.add_argument("songs", nargs="*")
    parser.add_argument("--work", required=True)
    parser.add_argument("--programs", type=int, default=128)
    args = parser.parse_args()
    os.makedirs(args.work, exist_ok=True)

    notes = []  # (font, program, pitch, velocity, mel correlation, band differences)
    all_bands = []
    for kind, font in (("sf2", args.sf2), ("sf3", args.sf3)):
        banks = os.path.join(args.work, kind)
        subprocess.run([args.oxsf, "import", font, banks], check=True, stdout=subprocess.DEVNULL)
        for program in range(args.programs):
            midi = os.path.join(args.work, f"notes-{program:03d}.mid")
            note_file(midi, program)
            peer = os.path.join(args.work, f"{kind}-{program:03d}-peer.wav")
            ours = os.path.join(args.work, f"{kind}-{program:03d}-oxsf.wav")
            render(args, font, banks, midi, peer, ours)
            a, b = read_wav(peer), read_wav(ours)
            slot = int(SLOT_SECONDS * RATE)
            i = 0
            for pitch in PITCHES:
                for velocity in VELOCITIES:
                    corr, bands = compare(a[i * slot:(i + 1) * slot], b[i * slot:(i + 1) * slot])
                    notes.append((kind, program, pitch, velocity, corr, bands))
                    all_bands.extend(bands)
                    i += 1

    songs = []
    for song in args.songs:
        name = os.path.splitext(os.path.basename(song))[0]
        peer = os.path.join(args.work, f"song-{name}-peer.wav")
        ours = os.path.join(args.work, f"song-{name}-oxsf.wav")
        render(args, args.sf2, os.path.join(args.work, "sf2"), song, peer, ours)
        a, b = read_wav(peer), read_wav(ours)
        n = min(len(a), len(b))
        ea, eb = envelope_db(a[:n]), envelope_db(b[:n])
        loud = ea > ea.max() - 60.0
        env_corr = float(np.corrcoef(ea[loud], eb[loud])[0, 1])
        corr, bands = compare(a[:n], b[:n])
        songs.append((name, env_corr, corr, float(np.median(bands)), float(np.max(bands))))

    print("| Font | Program | Pitch | Velocity | Mel correlation | Median band diff (dB) | Worst band (dB) |")
    print("|---|---|---|---|---|---|---|")
    worst = sorted(notes, key=lambda n: (n[4] if n[4] == n[4] else -1.0))
    for kind, program, pitch, velocity, corr, bands in worst[:20]:
        print(f"| {kind} | {program} | {pitch} | {velocity} | {corr:.3f} | "
              f"{np.median(bands):.2f} | {np.max(bands):.2f} |")
    all_bands = np.array(all_bands)
    corrs = np.array([n[4] for n in notes])
    good = np.mean(corrs >= 0.97)
    median, p95 = float(np.median(all_bands)), float(np.percentile(all_bands, 95))
    print()
    print(f"{len(notes)} notes: median band difference {median:.2f} dB (target <= 1), "
          f"95th percentile {p95:.2f} dB (target <= 3), mel correlation >= 0.97 for "
          f"{100 * good:.1f}% of notes (target >= 90%)")
    if songs:
        print()
        print("| Song | Envelope correlation | Mel correlation | Median band diff (dB) | Worst band (dB) |")
        print("|---|---|---|---|---|")
        for name, env, corr, med, mx in sorted(songs, key=lambda s: min(s[1], s[2])):
            print(f"| {name} | {env:.3f} | {corr:.3f} | {med:.2f} | {mx:.2f} |")
    return 0


if __name__ == "__main__":
    sys.exit(main())
