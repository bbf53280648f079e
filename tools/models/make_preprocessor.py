#!/usr/bin/python3
"""Writes gigaam-v3-preprocessor.onnx, the feature extractor the recogniser runs first.

    make_preprocessor.py OUTPUT.onnx

Features of 16 kHz audio in [-1, 1], as GigaAM v3 computes them: frames of 320 samples every
160 samples with no centring or padding, so T = (N - 320) // 160 + 1; a periodic Hann window
of 320; the power spectrum of a 320-point DFT (161 bins); 64 HTK-scale mel filters over
0-8000 Hz without normalisation; the natural log of the value clamped to [1e-9, 1e9]. The
window and the filter bank are rounded to bfloat16, as the original model stores them.

Interface: "waveforms" float [1, N], "waveforms_lens" int64 [1]
        -> "features" float [1, 64, T], "features_lens" int64 [1] = (lens - 320) // 160 + 1.

The transform runs in double precision: in float32 the weak bins of a clean tone (far below
the frame's loudest bin) lose several per cent of their power to rounding, which the log
turns into visible errors.
"""
import sys

import numpy as np
from onnx import TensorProto, checker, helper, numpy_helper, save

SAMPLE_RATE = 16000
N_FFT = 320
HOP = 160
N_MELS = 64
N_BINS = N_FFT // 2 + 1


def bfloat16(values):
    """Rounds float32 values to the nearest bfloat16 (ties to even), kept as float32."""
    bits = np.asarray(values, np.float32).view(np.uint32).astype(np.uint64)
    rounded = (bits + 0x7FFF + ((bits >> 16) & 1)) >> 16 << 16
    return rounded.astype(np.uint32).view(np.float32)


def hann_window():
    n = np.arange(N_FFT, dtype=np.float64)
    return bfloat16((0.5 - 0.5 * np.cos(2.0 * np.pi * n / N_FFT)).astype(np.float32))


def hz_to_mel(hz):
    return 2595.0 * np.log10(1.0 + hz / 700.0)


def mel_to_hz(mel):
    return 700.0 * (10.0 ** (mel / 2595.0) - 1.0)


def mel_filters():
    """[161, 64] triangular HTK filters between neighbouring mel points, unnormalised."""
    bins = np.linspace(0, SAMPLE_RATE // 2, N_BINS, dtype=np.float32)
    points = mel_to_hz(np.linspace(hz_to_mel(0.0), hz_to_mel(SAMPLE_RATE / 2.0), N_MELS + 2,
                                   dtype=np.float32))
    points = points.astype(np.float32)
    widths = points[1:] - points[:-1]
    slopes = points[None, :] - bins[:, None]
    down = -slopes[:, :-2] / widths[:-1]
    up = slopes[:, 2:] / widths[1:]
    return bfloat16(np.maximum(0.0, np.minimum(down, up)).astype(np.float32))


def dft_bases(window):
    """Windowed cosine and sine bases [320, 161] in double precision."""
    n = np.arange(N_FFT, dtype=np.float64)[:, None]
    k = np.arange(N_BINS, dtype=np.float64)[None, :]
    angle = 2.0 * np.pi * ((n * k) % N_FFT) / N_FFT
    w = window.astype(np.float64)[:, None]
    return w * np.cos(angle), -w * np.sin(angle)


def const(name, array):
    return numpy_helper.from_array(np.asarray(array), name)


def build():
    cosine, sine = dft_bases(hann_window())
    initializers = [
        const("cos_basis", cosine),
        const("sin_basis", sine),
        const("mel_basis", mel_filters().astype(np.float64)),
        const("zero", np.array(0, np.int64)),
        const("one", np.array(1, np.int64)),
        const("last", np.array([-1], np.int64)),
        const("n_fft", np.array(N_FFT, np.int64)),
        const("hop", np.array(HOP, np.int64)),
        const("hop_1d", np.array([HOP], np.int64)),
        const("one_1d", np.array([1], np.int64)),
        const("zero_1d", np.array([0], np.int64)),
        const("low", np.array(1e-9, np.float32)),
        const("high", np.array(1e9, np.float32)),
    ]
    node = helper.make_node
    nodes = [
        # Samples as one row; T from the row's length.
        node("Reshape", ["waveforms", "last"], ["samples"]),
        node("Shape", ["samples"], ["length_1d"]),
        node("Squeeze", ["length_1d", "zero_1d"], ["length"]),
        # (N - 320) // 160 + 1 written as max(N - 160, 0) // 160: integer Div truncates
        # toward zero, which would give short inputs a frame they do not have.
        node("Sub", ["length", "hop"], ["span"]),
        node("Max", ["span", "zero"], ["span_clamped"]),
        node("Div", ["span_clamped", "hop"], ["frames"]),
        # Sample index of every frame position: start[t] + offset[j].
        node("Range", ["zero", "frames", "one"], ["frame_index"]),
        node("Mul", ["frame_index", "hop"], ["starts"]),
        node("Unsqueeze", ["starts", "one_1d"], ["starts_column"]),
        node("Range", ["zero", "n_fft", "one"], ["offsets"]),
        node("Add", ["starts_column", "offsets"], ["positions"]),
        node("Gather", ["samples", "positions"], ["framed"], axis=0),
        node("Cast", ["framed"], ["framed_double"], to=TensorProto.DOUBLE),
        node("MatMul", ["framed_double", "cos_basis"], ["real"]),
        node("MatMul", ["framed_double", "sin_basis"], ["imag"]),
        node("Mul", ["real", "real"], ["real_squared"]),
        node("Mul", ["imag", "imag"], ["imag_squared"]),
        node("Add", ["real_squared", "imag_squared"], ["power"]),
        node("MatMul", ["power", "mel_basis"], ["mel_double"]),
        node("Cast", ["mel_double"], ["mel"], to=TensorProto.FLOAT),
        node("Clip", ["mel", "low", "high"], ["clamped"]),
        node("Log", ["clamped"], ["log_mel"]),
        node("Transpose", ["log_mel"], ["by_band"], perm=[1, 0]),
        node("Unsqueeze", ["by_band", "zero_1d"], ["features"]),
        # Lengths follow the same rule as T.
        node("Sub", ["waveforms_lens", "hop_1d"], ["lens_span"]),
        node("Max", ["lens_span", "zero_1d"], ["lens_clamped"]),
        node("Div", ["lens_clamped", "hop_1d"], ["features_lens"]),
    ]
    graph = helper.make_graph(
        nodes, "gigaam_v3_preprocessor",
        [helper.make_tensor_value_info("waveforms", TensorProto.FLOAT, [1, "N"]),
         helper.make_tensor_value_info("waveforms_lens", TensorProto.INT64, [1])],
        [helper.make_tensor_value_info("features", TensorProto.FLOAT, [1, N_MELS, "T"]),
         helper.make_tensor_value_info("features_lens", TensorProto.INT64, [1])],
        initializers)
    model = helper.make_model(graph, opset_imports=[helper.make_opsetid("", 17)],
                              producer_name="talvoro")
    model.ir_version = 8
    checker.check_model(model)
    return model


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_preprocessor.py OUTPUT.onnx")
    save(build(), sys.argv[1])


if __name__ == "__main__":
    main()
