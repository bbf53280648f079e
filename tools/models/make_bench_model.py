#!/usr/bin/python3
"""Writes a full-size stand-in of the GigaAM v3 RNN-T int8 model files for benchmarks.

    make_bench_model.py FOLDER

Random weights from a fixed seed, with the real sizes, interface and operator mix:
- encoder: convolutional subsampling by 4 (64 mel bands, 100 frames/s -> 768 channels,
  25 frames/s), 16 conformer blocks at d_model 768 (macaron feed-forward 3072 with Swish,
  16-head self-attention, convolution module with GLU and a depthwise kernel of 31), every
  matrix product int8 (DynamicQuantizeLinear, MatMulInteger, rescale, bias: the pattern a
  dynamically quantised export has). "audio_signal" [1, 64, T], "length" [1] ->
  "encoded" [1, 768, T'], "encoded_len" [1] with T' = ceil(ceil(T / 2) / 2). About 230 MB.
- decoder: 1025-token embedding and an LSTM of 320. "x" [1, 1], "h.1", "c.1" [1, 1, 320]
  -> "dec" [1, 320, 1], "h", "c".
- joint: int8 768 -> 320 and 320 -> 320, ReLU, int8 320 -> 1025, log-softmax.
  "enc" [1, 768, 1], "dec" [1, 320, 1] -> "joint" [1, 1, 1, 1025].
- vocabulary of 1024 pieces plus blank (1024).

The joint's blank score carries a bias (BLANK_BIAS) so that the greedy decoder emits a few
tokens per second of speech-like input, as the real model does.
"""
import os
import sys

import numpy as np
from onnx import TensorProto, helper, numpy_helper, save

SEED = 20261206
D = 768
FF = 3072
HEADS = 16
BLOCKS = 16
KERNEL = 31
HIDDEN = 320
VOCAB = 1025
BLANK_BIAS = 3.5
BRANCH = 0.1


class Graph:
    def __init__(self, rng):
        self.rng = rng
        self.nodes = []
        self.initializers = []
        self.count = 0

    def name(self, hint):
        self.count += 1
        return f"{hint}_{self.count}"

    def const(self, hint, array):
        name = self.name(hint)
        self.initializers.append(numpy_helper.from_array(np.asarray(array), name))
        return name

    def op(self, kind, inputs, hint=None, outputs=1, **attributes):
        names = [self.name(hint or kind.lower()) for _ in range(outputs)]
        self.nodes.append(helper.make_node(kind, inputs, names, **attributes))
        return names[0] if outputs == 1 else names

    def qmatmul(self, x, fan_in, fan_out):
        """x [.., fan_in] times an int8 weight, in the dynamically quantised form."""
        weight = self.rng.integers(-127, 128, (fan_in, fan_out), dtype=np.int8)
        scale = np.float32(np.sqrt(3.0 / fan_in) / 127.0)
        quantised, x_scale, x_zero = self.op("DynamicQuantizeLinear", [x], outputs=3)
        product = self.op("MatMulInteger", [quantised, self.const("w", weight), x_zero,
                                            self.const("wz", np.array(0, np.int8))])
        wide = self.op("Cast", [product], to=TensorProto.FLOAT)
        both = self.op("Mul", [x_scale, self.const("ws", scale)])
        scaled = self.op("Mul", [wide, both])
        bias = self.rng.normal(0, 0.02, fan_out).astype(np.float32)
        return self.op("Add", [scaled, self.const("b", bias)])

    def norm(self, x):
        return self.op("LayerNormalization",
                       [x, self.const("g", np.ones(D, np.float32)),
                        self.const("beta", np.zeros(D, np.float32))], axis=-1)

    def swish(self, x):
        return self.op("Mul", [x, self.op("Sigmoid", [x])])

    def scaled(self, x, factor):
        return self.op("Mul", [x, self.const("k", np.array(factor, np.float32))])

    def feed_forward(self, x):
        inner = self.swish(self.qmatmul(self.norm(x), D, FF))
        return self.scaled(self.qmatmul(inner, FF, D), 0.5)

    def attention(self, x):
        head = D // HEADS
        qkv = self.qmatmul(self.norm(x), D, 3 * D)
        split = self.op("Reshape", [qkv, self.const("s", np.array([-1, 3, HEADS, head]))])
        heads = self.op("Transpose", [split], perm=[1, 2, 0, 3])
        q, k, v = self.op("Split", [heads], outputs=3, axis=0)
        keys = self.op("Transpose", [k], perm=[0, 1, 3, 2])
        scores = self.scaled(self.op("MatMul", [q, keys]), 1.0 / np.sqrt(head))
        weights = self.op("Softmax", [scores], axis=-1)
        context = self.op("MatMul", [weights, v])
        joined = self.op("Transpose", [context], perm=[0, 2, 1, 3])
        rows = self.op("Reshape", [joined, self.const("s", np.array([-1, D]))])
        return self.qmatmul(rows, D, D)

    def convolution(self, x):
        wide = self.qmatmul(self.norm(x), D, 2 * D)
        a, b = self.op("Split", [wide], outputs=2, axis=1)
        gated = self.op("Mul", [a, self.op("Sigmoid", [b])])
        channels = self.op("Unsqueeze", [self.op("Transpose", [gated], perm=[1, 0]),
                                         self.const("axis", np.array([0]))])
        kernel = self.rng.normal(0, 1.0 / np.sqrt(KERNEL), (D, 1, KERNEL)).astype(np.float32)
        depth = self.op("Conv", [channels, self.const("dw", kernel)], group=D,
                        pads=[KERNEL // 2, KERNEL // 2], kernel_shape=[KERNEL])
        normed = self.op("Add", [self.op("Mul", [depth, self.const("bn_scale",
                                                                    np.ones((1, D, 1),
                                                                            np.float32))]),
                                 self.const("bn_shift", np.zeros((1, D, 1), np.float32))])
        active = self.swish(normed)
        rows = self.op("Transpose", [self.op("Squeeze", [active, self.const("axis",
                                                                             np.array([0]))])],
                       perm=[1, 0])
        return self.qmatmul(rows, D, D)

    def block(self, x):
        # Branches are damped so that sixteen random blocks do not wash out the differences
        # between frames (a trained model keeps them; the decoding loop depends on them).
        x = self.op("Add", [x, self.scaled(self.feed_forward(x), BRANCH)])
        x = self.op("Add", [x, self.scaled(self.attention(x), BRANCH)])
        x = self.op("Add", [x, self.scaled(self.convolution(x), BRANCH)])
        x = self.op("Add", [x, self.scaled(self.feed_forward(x), BRANCH)])
        return self.norm(x)

    def model(self, name, inputs, outputs):
        graph = helper.make_graph(self.nodes, name, inputs, outputs, self.initializers)
        made = helper.make_model(graph, opset_imports=[helper.make_opsetid("", 17)],
                                 producer_name="talvoro-bench")
        made.ir_version = 8
        return made


def halve(g, length):
    """Output length of a stride-2 convolution with kernel 5 and padding 2."""
    less = g.op("Sub", [length, g.const("one", np.array([1], np.int64))])
    half = g.op("Div", [less, g.const("two", np.array([2], np.int64))])
    return g.op("Add", [half, g.const("one", np.array([1], np.int64))])


def encoder(rng):
    g = Graph(rng)
    conv1 = rng.normal(0, np.sqrt(2.0 / (64 * 5)), (D, 64, 5)).astype(np.float32)
    conv2 = rng.normal(0, np.sqrt(2.0 / (D * 5)), (D, D, 5)).astype(np.float32)
    x = g.op("Relu", [g.op("Conv", ["audio_signal", g.const("sub1", conv1)], strides=[2],
                           pads=[2, 2], kernel_shape=[5])])
    x = g.op("Relu", [g.op("Conv", [x, g.const("sub2", conv2)], strides=[2], pads=[2, 2],
                           kernel_shape=[5])])
    x = g.op("Transpose", [g.op("Squeeze", [x, g.const("axis", np.array([0]))])], perm=[1, 0])
    for _ in range(BLOCKS):
        x = g.block(x)
    channels = g.op("Transpose", [x], perm=[1, 0])
    g.nodes.append(helper.make_node("Unsqueeze", [channels, g.const("axis", np.array([0]))],
                                    ["encoded"]))
    g.nodes.append(helper.make_node("Identity", [halve(g, halve(g, "length"))], ["encoded_len"]))
    return g.model("bench_encoder",
                   [helper.make_tensor_value_info("audio_signal", TensorProto.FLOAT,
                                                  [1, 64, "T"]),
                    helper.make_tensor_value_info("length", TensorProto.INT64, [1])],
                   [helper.make_tensor_value_info("encoded", TensorProto.FLOAT, [1, D, "F"]),
                    helper.make_tensor_value_info("encoded_len", TensorProto.INT64, [1])])


def decoder(rng):
    g = Graph(rng)
    scale = 1.0 / np.sqrt(HIDDEN)
    embedding = g.const("embedding", rng.normal(0, 1, (VOCAB, HIDDEN)).astype(np.float32))
    w = g.const("W", rng.uniform(-scale, scale, (1, 4 * HIDDEN, HIDDEN)).astype(np.float32))
    r = g.const("R", rng.uniform(-scale, scale, (1, 4 * HIDDEN, HIDDEN)).astype(np.float32))
    b = g.const("B", rng.uniform(-scale, scale, (1, 8 * HIDDEN)).astype(np.float32))
    embedded = g.op("Gather", [embedding, "x"], axis=0)
    steps = g.op("Transpose", [embedded], perm=[1, 0, 2])
    g.nodes.append(helper.make_node("LSTM", [steps, w, r, b, "", "h.1", "c.1"],
                                    ["y", "h", "c"], hidden_size=HIDDEN))
    g.nodes.append(helper.make_node("Reshape", ["y", g.const("s", np.array([1, HIDDEN, 1]))],
                                    ["dec"]))
    state = [1, 1, HIDDEN]
    return g.model("bench_decoder",
                   [helper.make_tensor_value_info("x", TensorProto.INT64, [1, 1]),
                    helper.make_tensor_value_info("h.1", TensorProto.FLOAT, state),
                    helper.make_tensor_value_info("c.1", TensorProto.FLOAT, state)],
                   [helper.make_tensor_value_info("dec", TensorProto.FLOAT, [1, HIDDEN, 1]),
                    helper.make_tensor_value_info("h", TensorProto.FLOAT, state),
                    helper.make_tensor_value_info("c", TensorProto.FLOAT, state)])


def joint(rng):
    g = Graph(rng)
    enc = g.op("Reshape", ["enc", g.const("s", np.array([1, D]))])
    dec = g.op("Reshape", ["dec", g.const("s", np.array([1, HIDDEN]))])
    hidden = g.op("Relu", [g.op("Add", [g.qmatmul(enc, D, HIDDEN), g.qmatmul(dec, HIDDEN,
                                                                             HIDDEN)])])
    logits = g.qmatmul(hidden, HIDDEN, VOCAB)
    bias = np.zeros(VOCAB, np.float32)
    bias[VOCAB - 1] = BLANK_BIAS
    shifted = g.op("Add", [logits, g.const("blank_bias", bias)])
    scores = g.op("LogSoftmax", [shifted], axis=-1)
    g.nodes.append(helper.make_node("Reshape", [scores, g.const("s", np.array([1, 1, 1,
                                                                              VOCAB]))],
                                    ["joint"]))
    return g.model("bench_joint",
                   [helper.make_tensor_value_info("enc", TensorProto.FLOAT, [1, D, 1]),
                    helper.make_tensor_value_info("dec", TensorProto.FLOAT, [1, HIDDEN, 1])],
                   [helper.make_tensor_value_info("joint", TensorProto.FLOAT,
                                                  [1, 1, 1, VOCAB])])


def vocabulary():
    letters = "абвгдеёжзийклмнопрстуфхцчшщъыьэюя"
    lines = []
    for token in range(VOCAB - 1):
        piece = letters[token % len(letters)] + letters[(token // len(letters)) % len(letters)]
        lines.append(("▁" if token % 3 == 0 else "") + piece + f" {token}")
    lines.append(f"<blk> {VOCAB - 1}")
    return "\n".join(lines) + "\n"


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_bench_model.py FOLDER")
    folder = sys.argv[1]
    os.makedirs(folder, exist_ok=True)
    rng = np.random.default_rng(SEED)
    for name, build in (("encoder", encoder), ("decoder", decoder), ("joint", joint)):
        save(build(rng), os.path.join(folder, f"gigaam-v3-{name}.onnx"))
    with open(os.path.join(folder, "gigaam-v3-vocab.txt"), "w", encoding="utf-8") as f:
        f.write(vocabulary())


if __name__ == "__main__":
    main()
