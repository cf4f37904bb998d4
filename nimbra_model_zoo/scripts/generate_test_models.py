#!/usr/bin/python3
"""Writes the ONNX models that the nimbra_model_zoo tests load.

Run with Debian's interpreter, which owns the python3-onnx module:
/usr/bin/python3 generate_test_models.py --output-dir DIR

The models have the YOLOv8-seg output layout, but their outputs are fixed: the image is reduced to
its three channel means, which a fully connected layer multiplies by a weight matrix (zero unless
stated) before adding a bias that holds the intended output. The C++ tests therefore know every
box, score and prototype pixel the network returns.
"""

import argparse
import os

import numpy as np
import onnx
from onnx import TensorProto, helper, numpy_helper

OPSET = 12
IR_VERSION = 7
MASK_CHANNELS = 32
LOW_SCORE = 0.01  # class score of every class an anchor is not meant to fire for


class Head:
    """The raw outputs of a fixed-output model: predictions [C, N] and prototypes [M, h, w]."""

    def __init__(self, input_size, classes, anchors):
        self.input_w, self.input_h = input_size
        self.classes = classes
        self.predictions = np.zeros((4 + classes + MASK_CHANNELS, anchors), np.float32)
        self.predictions[4:4 + classes, :] = LOW_SCORE
        self.prototypes = np.zeros((MASK_CHANNELS, self.input_h // 4, self.input_w // 4), np.float32)

    def set_anchor(self, anchor, corners, class_id, score, coefficients=None):
        """Anchor `anchor` fires for `class_id` with a box given as (x1, y1, x2, y2) in input pixels."""
        x1, y1, x2, y2 = corners
        self.predictions[0:4, anchor] = [(x1 + x2) / 2, (y1 + y2) / 2, x2 - x1, y2 - y1]
        self.predictions[4:4 + self.classes, anchor] = LOW_SCORE
        self.predictions[4 + class_id, anchor] = score
        for channel, value in (coefficients or {}).items():
            self.predictions[4 + self.classes + channel, anchor] = value


def reduce_to_channel_means(nodes):
    """Adds the nodes that turn the image [1, 3, H, W] into its channel means [1, 3]."""
    nodes.append(helper.make_node("GlobalAveragePool", ["images"], ["channel_means_4d"]))
    nodes.append(helper.make_node("Flatten", ["channel_means_4d"], ["channel_means"], axis=1))
    return "channel_means"


def fully_connected_output(nodes, initializers, name, values, weights=None):
    """Adds output `name` = Reshape(weights x channel means + values), shape of `values`."""
    flat = values.reshape(-1).astype(np.float32)
    if weights is None:
        weights = np.zeros((flat.size, 3), np.float32)
    initializers += [
        numpy_helper.from_array(weights.astype(np.float32), name + "_weights"),
        numpy_helper.from_array(flat, name + "_bias"),
        numpy_helper.from_array(np.array((1,) + values.shape, np.int64), name + "_shape"),
    ]
    nodes.append(helper.make_node("Gemm", ["channel_means", name + "_weights", name + "_bias"],
                                  [name + "_flat"], transB=1))
    nodes.append(helper.make_node("Reshape", [name + "_flat", name + "_shape"], [name]))
    return helper.make_tensor_value_info(name, TensorProto.FLOAT, (1,) + values.shape)


def save_model(path, graph_name, input_size, nodes, initializers, outputs):
    input_w, input_h = input_size
    graph = helper.make_graph(
        nodes, graph_name,
        [helper.make_tensor_value_info("images", TensorProto.FLOAT, [1, 3, input_h, input_w])],
        outputs, initializers)
    model = helper.make_model(graph, opset_imports=[helper.make_opsetid("", OPSET)],
                              producer_name="nimbra_model_zoo test generator")
    model.ir_version = IR_VERSION
    onnx.checker.check_model(model)
    onnx.save(model, path)


def save_head(path, head, prediction_weights=None, outputs=("predictions", "prototypes")):
    nodes, initializers = [], []
    reduce_to_channel_means(nodes)
    infos = [fully_connected_output(nodes, initializers, "output0", head.predictions,
                                    prediction_weights)]
    if "prototypes" in outputs:
        infos.append(fully_connected_output(nodes, initializers, "output1", head.prototypes))
    save_model(path, os.path.basename(path), (head.input_w, head.input_h), nodes, initializers,
               infos)


def boxes_model():
    """Box decoding on a 64x64 input. The tests feed a 256x128 image: scale 1/4, 16 px padding
    above and below, so image x = 4 * input x and image y = 4 * (input y - 16)."""
    head = Head((64, 64), classes=3, anchors=9)
    head.set_anchor(0, (10, 20, 30, 40), 0, 0.90)  # kept first
    head.set_anchor(1, (12, 20, 32, 40), 0, 0.80)  # IoU 0.818 with anchor 0, same class: suppressed
    head.set_anchor(2, (12, 20, 32, 40), 1, 0.70)  # same box as anchor 1, other class: kept
    head.set_anchor(3, (40, 20, 60, 30), 2, 0.25)  # exactly at the default score threshold: kept
    head.set_anchor(4, (40, 34, 60, 44), 2, 0.2499)  # just below the threshold: dropped
    head.set_anchor(5, (50, 10, 70, 30), 0, 0.60)  # crosses the right and top image edges: clipped
    head.set_anchor(6, (10, 2, 20, 12), 1, 0.95)  # inside the top padding: nothing left, dropped
    head.set_anchor(7, (20, 40, 30, 50), 0, 0.50)
    head.predictions[4:7, 7] = np.nan  # no usable score: dropped
    head.set_anchor(8, (30, 40, 40, 50), 0, 0.85)
    head.predictions[0, 8] = np.nan  # no usable box: dropped
    return head


def masks_model():
    """Mask decoding on a 64x64 input with 16x16 prototypes; the tests feed a 256x128 image, where
    prototype column c covers image x [16c, 16c + 16) and row r image y [16(r - 4), 16(r - 3))."""
    head = Head((64, 64), classes=1, anchors=2)
    head.set_anchor(0, (8, 20, 40, 44), 0, 0.9, coefficients={0: 1.0})
    head.set_anchor(1, (44, 24, 60, 40), 0, 0.8, coefficients={1: 1.0})
    head.prototypes[0:2] = -10.0
    head.prototypes[0, 6:10, 3:8] = 10.0  # inside the box of anchor 0
    head.prototypes[1, 5:13, 10:16] = 10.0  # larger than the box of anchor 1, which crops it
    return head


def probe_model():
    """One anchor whose class c score is the mean of input channel c, which makes the network's
    view of the image (scaling, channel order, padding colour) observable."""
    head = Head((64, 64), classes=3, anchors=1)
    head.set_anchor(0, (16, 16, 48, 48), 0, 0.0)
    head.predictions[4:7, 0] = 0.0
    weights = np.zeros((head.predictions.size, 3), np.float32)
    weights[4:7, :] = np.eye(3)  # rows 4 + c of a [C, 1] output
    return head, weights


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--output-dir", required=True)
    out_dir = parser.parse_args().output_dir
    os.makedirs(out_dir, exist_ok=True)
    path = lambda name: os.path.join(out_dir, name + ".onnx")  # noqa: E731
    save_head(path("boxes"), boxes_model())
    save_head(path("masks"), masks_model())
    save_head(path("probe"), *probe_model())
    # Malformed: 4 + 32 prediction rows needed at least; prototypes of rank 3; no prototypes.
    bad_channels, bad_rank = Head((64, 64), 3, 8), Head((64, 64), 3, 8)
    bad_channels.predictions = np.zeros((30, 8), np.float32)
    save_head(path("bad_channels"), bad_channels)
    bad_rank.prototypes = np.zeros((MASK_CHANNELS, 256), np.float32)
    save_head(path("bad_proto_rank"), bad_rank)
    save_head(path("one_output"), Head((64, 64), 3, 8), outputs=("predictions",))


if __name__ == "__main__":
    main()
