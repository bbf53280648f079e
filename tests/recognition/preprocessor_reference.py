#!/usr/bin/python3
"""Test signals and their reference log-mel features: preprocessor_reference.py FOLDER.

For each signal writes NAME.f32 (float32 samples) and NAME.features (float64 [64, T], row
major), computed straight from the definition with numpy's FFT in double precision: periodic
Hann 320 and HTK mel filters (0-8000 Hz, 64, unnormalised) both rounded to bfloat16, frames of
320 every 160 without padding, power spectrum, log of the value clamped to [1e-9, 1e9].
"""
import os
import subprocess
import sys
import tempfile
import wave

import numpy as np

RATE = 16000


def to_bfloat16(x):
    x = np.asarray(x, dtype=np.float32)
    out = np.empty_like(x)
    for i, value in np.ndenumerate(x):
        bits = int(np.float32(value).view(np.uint32))
        lower = bits & 0xFFFF
        upper = bits >> 16
        if lower > 0x8000 or (lower == 0x8000 and upper & 1):
            upper += 1
        out[i] = np.uint32(upper << 16).view(np.float32)
    return out


def window():
    t = np.arange(320) / 320.0
    return to_bfloat16(np.sin(np.pi * t) ** 2)  # equals 0.5 - 0.5 cos(2 pi t)


def filters():
    mel = lambda f: 2595.0 * np.log10(1.0 + f / 700.0)
    hz = lambda m: 700.0 * (10.0 ** (m / 2595.0) - 1.0)
    # The original computes its mel points in float32; in double one filter value lands on
    # the other side of a bfloat16 rounding boundary.
    centres = hz(np.linspace(mel(0.0), mel(8000.0), 66, dtype=np.float32))
    freqs = np.arange(161, dtype=np.float32) * np.float32(8000.0 / 160.0)
    bank = np.zeros((64, 161), np.float32)
    for m in range(64):
        left, centre, right = centres[m], centres[m + 1], centres[m + 2]
        for k, f in enumerate(freqs):
            rising = (f - left) / (centre - left)
            falling = (right - f) / (right - centre)
            bank[m, k] = max(0.0, min(rising, falling))
    return to_bfloat16(bank)


def features(samples):
    frames = (len(samples) - 320) // 160 + 1
    w = window().astype(np.float64)
    bank = filters().astype(np.float64)
    out = np.zeros((64, max(frames, 0)))
    for t in range(max(frames, 0)):
        frame = samples[t * 160:t * 160 + 320].astype(np.float64) * w
        power = np.abs(np.fft.rfft(frame)) ** 2
        out[:, t] = np.log(np.clip(bank @ power, 1e-9, 1e9))
    return out


def speech(folder):
    raw = os.path.join(folder, "espeak.wav")
    converted = os.path.join(folder, "speech16k.wav")
    subprocess.run(["espeak-ng", "-v", "ru", "-w", raw,
                    "Съешь же ещё этих мягких французских булок да выпей чаю"], check=True)
    subprocess.run(["sox", raw, "-r", "16000", "-c", "1", "-b", "16", converted], check=True)
    with wave.open(converted) as f:
        data = np.frombuffer(f.readframes(f.getnframes()), dtype="<i2")
    return (data.astype(np.float32) / 32768.0)


def signals(folder):
    rng = np.random.default_rng(20261206)
    t = np.arange(RATE * 2) / RATE
    yield "noise", rng.uniform(-1.0, 1.0, RATE * 2).astype(np.float32)
    yield "quiet_noise", (rng.standard_normal(RATE) * 1e-4).astype(np.float32)
    yield "tones", (0.5 * np.sin(2 * np.pi * 440 * t) + 0.3 * np.sin(2 * np.pi * 3000 * t)
                    ).astype(np.float32)
    yield "chirp", (0.8 * np.sin(2 * np.pi * (100 + 1900 * t) * t)).astype(np.float32)
    yield "silence", np.zeros(4000, np.float32)
    yield "one_frame", rng.uniform(-0.5, 0.5, 479).astype(np.float32)
    yield "speech", speech(folder)


def main():
    folder = sys.argv[1]
    os.makedirs(folder, exist_ok=True)
    with tempfile.TemporaryDirectory() as scratch:
        for name, samples in signals(scratch):
            samples.astype("<f4").tofile(os.path.join(folder, name + ".f32"))
            features(samples).astype("<f8").tofile(os.path.join(folder, name + ".features"))


if __name__ == "__main__":
    main()
