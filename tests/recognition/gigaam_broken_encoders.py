#!/usr/bin/python3
"""Writes encoders whose output the recogniser must refuse.

    gigaam_broken_encoders.py FOLDER

encoder-flat.onnx: "encoded" is the features flattened to one dimension.
encoder-long.onnx: "encoded" is the features [1, 64, F], "encoded_len" claims F + 1000 frames.
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


if __name__ == "__main__":
    main(sys.argv[1])
