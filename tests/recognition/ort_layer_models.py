#!/usr/bin/python3
"""Writes the small models the runtime layer's tests open: ort_layer_models.py FOLDER.

mixed.onnx  inputs  "floats" float [n], "ints" int64 [n]
            outputs "doubled" float [n]   = floats * 2
                    "narrow"  int32 [n]   = ints as int32
                    "wide"    int64 [n]   = ints * 3
                    "flags"   bool  [n]   = floats > 0   (an element type the layer refuses)
                    "none"    float [0]   = no elements
"""
import os
import sys

import numpy as np
from onnx import TensorProto, checker, helper, numpy_helper, save


def mixed():
    n = "n"
    inputs = [
        helper.make_tensor_value_info("floats", TensorProto.FLOAT, [n]),
        helper.make_tensor_value_info("ints", TensorProto.INT64, [n]),
    ]
    outputs = [
        helper.make_tensor_value_info("doubled", TensorProto.FLOAT, [n]),
        helper.make_tensor_value_info("narrow", TensorProto.INT32, [n]),
        helper.make_tensor_value_info("wide", TensorProto.INT64, [n]),
        helper.make_tensor_value_info("flags", TensorProto.BOOL, [n]),
        helper.make_tensor_value_info("none", TensorProto.FLOAT, [0]),
    ]
    constants = [
        numpy_helper.from_array(np.array([2.0], np.float32), "two"),
        numpy_helper.from_array(np.array([3], np.int64), "three"),
        numpy_helper.from_array(np.array([0.0], np.float32), "zero"),
        numpy_helper.from_array(np.array([0], np.int64), "start"),
        numpy_helper.from_array(np.array([0], np.int64), "end"),
    ]
    nodes = [
        helper.make_node("Mul", ["floats", "two"], ["doubled"]),
        helper.make_node("Cast", ["ints"], ["narrow"], to=TensorProto.INT32),
        helper.make_node("Mul", ["ints", "three"], ["wide"]),
        helper.make_node("Greater", ["floats", "zero"], ["flags"]),
        helper.make_node("Slice", ["floats", "start", "end"], ["none"]),
    ]
    graph = helper.make_graph(nodes, "mixed", inputs, outputs, constants)
    model = helper.make_model(graph, opset_imports=[helper.make_opsetid("", 17)])
    model.ir_version = 8
    checker.check_model(model)
    return model


def main():
    folder = sys.argv[1]
    os.makedirs(folder, exist_ok=True)
    save(mixed(), os.path.join(folder, "mixed.onnx"))


if __name__ == "__main__":
    main()
