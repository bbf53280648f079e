#!/usr/bin/python3
"""Writes model parts whose output the recogniser must refuse or step over.

    gigaam_broken_models.py FOLDER

encoder-flat.onnx: "encoded" is the features flattened to one dimension.
encoder-long.onnx: "encoded" is the features [1, 64, F], "encoded_len" claims F + 1000 frames.
joint-empty.onnx:  "joint" holds no scores at all.
joint-ints.onnx:   "joint" scores as 32-bit integers: 1 for token 17 ("привет"), 2 for blank.
"""
import os
import sys

from onnx import TensorProto, helper, numpy_helper, save
import numpy as np


def model(name, nodes, initializers=()):
    inputs = [helper.make_tensor_value_info("audio_signal", TensorProto.FLOAT, [1, 64, "F"]),
              helper.make_tensor_value_info("length", TensorProto.INT64, [1])]
    outputs = [helper.make_tensor_value_info("encoded", TensorProto.FLOAT, None),
               helper.make_tensor_value_info("encoded_len", TensorProto.INT64, [1])]
    graph = helper.make_graph(nodes, name, inputs, outputs, list(initializers))
    return helper.make_model(graph, opset_imports=[helper.make_opsetid("", 17)])


def joint(name, nodes, initializers, element):
    inputs = [helper.make_tensor_value_info("enc", TensorProto.FLOAT, [1, 768, 1]),
              helper.make_tensor_value_info("dec", TensorProto.FLOAT, [1, 320, 1])]
    outputs = [helper.make_tensor_value_info("joint", element, None)]
    graph = helper.make_graph(nodes, name, inputs, outputs, initializers)
    return helper.make_model(graph, opset_imports=[helper.make_opsetid("", 17)])


def main(folder):
    os.makedirs(folder, exist_ok=True)
    flat = model("flat", [
        helper.make_node("Reshape", ["audio_signal", "minus_one"], ["encoded"]),
        helper.make_node("Identity", ["length"], ["encoded_len"]),
    ], [numpy_helper.from_array(np.array([-1], dtype=np.int64), "minus_one")])
    save(flat, os.path.join(folder, "encoder-flat.onnx"))
    long = model("long", [
        helper.make_node("Identity", ["audio_signal"], ["encoded"]),
        helper.make_node("Add", ["length", "extra"], ["encoded_len"]),
    ], [numpy_helper.from_array(np.array([1000], dtype=np.int64), "extra")])
    save(long, os.path.join(folder, "encoder-long.onnx"))
    empty = joint("empty", [helper.make_node("ConstantOfShape", ["none"], ["joint"])],
                  [numpy_helper.from_array(np.array([0], dtype=np.int64), "none")],
                  TensorProto.FLOAT)
    save(empty, os.path.join(folder, "joint-empty.onnx"))
    # Token 17 wins until the decoder says it came last (its state slot 0 is then about 0.76).
    scores = np.zeros(1025, dtype=np.int32)
    scores[17] = 1
    ints = joint("ints", [
        helper.make_node("Slice", ["dec", "first", "second"], ["slot"]),
        helper.make_node("ReduceSum", ["slot"], ["total"], keepdims=0),
        helper.make_node("Greater", ["total", "half"], ["moved"]),
        helper.make_node("Where", ["moved", "after", "before"], ["joint"]),
    ], [numpy_helper.from_array(np.array(0.5, dtype=np.float32), "half"),
        numpy_helper.from_array(np.array([0, 0, 0], dtype=np.int64), "first"),
        numpy_helper.from_array(np.array([1, 1, 1], dtype=np.int64), "second"),
        numpy_helper.from_array(scores, "before"),
        numpy_helper.from_array(np.where(np.arange(1025) == 1024, 2, 0).astype(np.int32),
                                "after")], TensorProto.INT32)
    save(ints, os.path.join(folder, "joint-ints.onnx"))


if __name__ == "__main__":
    main(sys.argv[1])
