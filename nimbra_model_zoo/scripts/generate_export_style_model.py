#!/usr/bin/python3
"""Writes a YOLOv8-seg test network whose output head is built node by node as the Ultralytics
ONNX export builds it, on a fixed-output stand-in for the backbone.

Run with Debian's interpreter (/usr/bin/python3), which owns the python3-onnx module:

    /usr/bin/python3 generate_export_style_model.py --output FILE [--opset 12|13..17]

The head is the one the PyTorch exporter traces from Ultralytics' Detect and Segment modules with
constant folding, static shapes, 640x640 input and three levels (strides 8, 16, 32, 8400 anchors):

* per level, box logits (64 channels) and class logits concatenated on the channels, reshaped to
  [1, 64 + classes, -1], all levels concatenated on the anchors, then Split into the box
  logits [1, 64, 8400] and the class logits;
* DFL: Reshape to [1, 4, 16, 8400], Transpose to [1, 16, 4, 8400], Softmax over the 16 bins
  (opset 12: wrapped in the Transposes the exporter adds for a non-last axis), a 1x1 Conv whose
  weights are 0..15, Reshape to [1, 4, 8400];
* dist2bbox: two Slices (left-top, right-bottom distances), anchor points [1, 2, 8400] minus / plus
  them, centre = sum / 2 (Div by a scalar), size = difference, Concat, then Mul by the strides
  constant of shape [1, 8400], which broadcasts over the batch and channel axes;
* Sigmoid of the class logits, Concat with the boxes, Concat with the mask coefficients (per level
  reshaped to [1, 32, -1] and concatenated on the anchors): output0 [1, 4 + classes + 32, 8400];
* output1, the prototypes [1, 32, 160, 160].

The backbone is replaced by fixed outputs (see generate_test_models.py): each level's raw logits and
the prototypes come from initializers, so the decoded boxes, scores and masks are known exactly.
Box logits pick one distance bin (or two equal neighbours for a half bin), so the DFL expectation is
an exact distance.
"""

import argparse
import os
import sys

import numpy as np
from onnx import TensorProto, helper, numpy_helper

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from generate_test_models import (  # noqa: E402
    MASK_CHANNELS, IR_VERSION, fully_connected_output, reduce_to_channel_means)

import onnx  # noqa: E402

INPUT_SIZE = 640
STRIDES = (8, 16, 32)
REG_MAX = 16
CLASSES = 2
BACKGROUND_LOGIT = -8.0  # class logit of every anchor that is not meant to fire
PEAK_LOGIT = 50.0  # box logit of the chosen distance bin; the others stay 0

# Anchors meant to fire: (stride, cell x, cell y, distances left, top, right, bottom in cells,
# class, class logit, mask coefficient channel or None). Boxes in input pixels are
# ((cx + 0.5 - left) * stride, (cy + 0.5 - top) * stride) to ((cx + 0.5 + right) * stride, ...).
FIRING = (
    (8, 10, 12, (3, 2, 4, 5), 0, 2.0, 0),        # (60, 84)-(116, 140), score sigmoid(2)
    (8, 11, 12, (4, 2, 3, 5), 0, 1.5, None),     # the same box, weaker: suppressed
    (16, 20, 8, (2, 1, 2, 3), 1, 1.0, 1),        # (296, 120)-(360, 184), sigmoid(1)
    (32, 15, 15, (1.5, 1.5, 1.5, 1.5), 0, 0.0, 2),  # (448, 448)-(544, 544), score 0.5
)


def level_logits():
    """Raw per-level head outputs: box [64, h, w], class [classes, h, w], coefficients [32, h, w]."""
    levels = []
    for stride in STRIDES:
        cells = INPUT_SIZE // stride
        box = np.zeros((4, REG_MAX, cells, cells), np.float32)  # equal bins: distance 7.5
        cls = np.full((CLASSES, cells, cells), BACKGROUND_LOGIT, np.float32)
        coef = np.zeros((MASK_CHANNELS, cells, cells), np.float32)
        for f_stride, cx, cy, distances, class_id, logit, channel in FIRING:
            if f_stride != stride:
                continue
            box[:, :, cy, cx] = 0.0
            for side, distance in enumerate(distances):
                for k in {int(np.floor(distance)), int(np.ceil(distance))}:
                    box[side, k, cy, cx] = PEAK_LOGIT
            cls[class_id, cy, cx] = logit
            if channel is not None:
                coef[channel, cy, cx] = 1.0
        levels.append((box.reshape(4 * REG_MAX, cells, cells), cls, coef))
    return levels


def prototypes():
    """Prototype channel c is +10 on a region inside the box of the anchor with coefficient c."""
    size = INPUT_SIZE // 4
    proto = np.full((MASK_CHANNELS, size, size), -10.0, np.float32)
    proto[0, 24:32, 18:26] = 10.0  # inside (60, 84)-(116, 140): columns 15-28, rows 21-34
    proto[1, 28:48, 70:92] = 10.0  # larger than (296, 120)-(360, 184): the box crops it
    proto[2, 112:136, 112:136] = 10.0  # exactly the box (448, 448)-(544, 544)
    return proto


class Head:
    """Appends the exporter's nodes; constants become initializers as constant folding leaves them."""

    def __init__(self, opset):
        self.opset = opset
        self.nodes, self.initializers = [], []
        self.count = 0

    def const(self, array, name):
        self.initializers.append(numpy_helper.from_array(array, name))
        return name

    def node(self, op, inputs, outputs=None, **attrs):
        self.count += 1
        name = "/model.22/%s_%d" % (op, self.count)
        if outputs is None:
            outputs = [name + "_output_0"]
        self.nodes.append(helper.make_node(op, inputs, outputs, name=name, **attrs))
        return outputs[0] if len(outputs) == 1 else outputs

    def reshape(self, x, shape):
        self.count += 1
        return self.node("Reshape", [x, self.const(np.array(shape, np.int64), "shape_%d" % self.count)])

    def split(self, x, sizes, axis):
        outs = ["/model.22/Split_output_%d" % i for i in range(len(sizes))]
        if self.opset >= 13:
            sizes_name = self.const(np.array(sizes, np.int64), "split_sizes")
            return self.node("Split", [x, sizes_name], outs, axis=axis)
        return self.node("Split", [x], outs, axis=axis, split=list(sizes))

    def slice(self, x, start, end, axis):
        self.count += 1
        tag = "_%d" % self.count
        return self.node("Slice", [x, self.const(np.array([start], np.int64), "starts" + tag),
                                   self.const(np.array([end], np.int64), "ends" + tag),
                                   self.const(np.array([axis], np.int64), "axes" + tag)])

    def softmax_axis1(self, x):
        if self.opset >= 13:
            return self.node("Softmax", [x], axis=1)
        # Before opset 13 Softmax flattens to 2-D, so the exporter swaps the axis to the end.
        perm = [0, 3, 2, 1]
        y = self.node("Transpose", [x], perm=perm)
        y = self.node("Softmax", [y], axis=3)
        return self.node("Transpose", [y], perm=perm)


def build(path, opset):
    head = Head(opset)
    nodes, initializers = head.nodes, head.initializers
    reduce_to_channel_means(nodes)
    per_level, coef_parts, points, strides = [], [], [], []
    for index, (box, cls, coef) in enumerate(level_logits()):
        # Stand-in backbone: fixed raw logits, as the last 1x1 convolutions would give them.
        fixed = {}
        for tag, values in (("box", box), ("cls", cls), ("mc", coef)):
            flat_name = "level%d_%s" % (index, tag)
            fully_connected_output(nodes, initializers, flat_name, values)
            fixed[tag] = flat_name
        x = head.node("Concat", [fixed["box"], fixed["cls"]], axis=1)
        per_level.append(head.reshape(x, [1, 4 * REG_MAX + CLASSES, -1]))
        coef_parts.append(head.reshape(fixed["mc"], [1, MASK_CHANNELS, -1]))
        cells = box.shape[1]
        ys, xs = np.meshgrid(np.arange(cells), np.arange(cells), indexing="ij")
        points.append(np.stack([xs.reshape(-1), ys.reshape(-1)]).astype(np.float32) + 0.5)
        strides.append(np.full(cells * cells, STRIDES[index], np.float32))
    anchors = sum(p.shape[1] for p in points)

    x_cat = head.node("Concat", per_level, axis=2)
    box, cls = head.split(x_cat, [4 * REG_MAX, CLASSES], axis=1)
    # DFL.
    d = head.reshape(box, [1, 4, REG_MAX, anchors])
    d = head.node("Transpose", [d], perm=[0, 2, 1, 3])
    d = head.softmax_axis1(d)
    bins = head.const(np.arange(REG_MAX, dtype=np.float32).reshape(1, REG_MAX, 1, 1),
                      "model.22.dfl.conv.weight")
    d = head.node("Conv", [d, bins], dilations=[1, 1], group=1, kernel_shape=[1, 1],
                  pads=[0, 0, 0, 0], strides=[1, 1])
    distance = head.reshape(d, [1, 4, anchors])
    # dist2bbox with xywh, then the strides.
    left_top = head.slice(distance, 0, 2, 1)
    right_bottom = head.slice(distance, 2, 4, 1)
    anchor_points = head.const(np.concatenate(points, axis=1).reshape(1, 2, anchors),
                               "anchor_points")
    x1y1 = head.node("Sub", [anchor_points, left_top])
    x2y2 = head.node("Add", [anchor_points, right_bottom])
    two = head.node("Constant", [], value=numpy_helper.from_array(np.array(2.0, np.float32)))
    centre = head.node("Div", [head.node("Add", [x1y1, x2y2]), two])
    size = head.node("Sub", [x2y2, x1y1])
    dbox = head.node("Concat", [centre, size], axis=1)
    stride_const = head.const(np.concatenate(strides).reshape(1, anchors), "strides")
    dbox = head.node("Mul", [dbox, stride_const])
    y = head.node("Concat", [dbox, head.node("Sigmoid", [cls])], axis=1)
    coefficients = head.node("Concat", coef_parts, axis=2)
    head.node("Concat", [y, coefficients], ["output0"], axis=1)
    fully_connected_output(nodes, initializers, "output1", prototypes())

    outputs = [
        helper.make_tensor_value_info("output0", TensorProto.FLOAT,
                                      [1, 4 + CLASSES + MASK_CHANNELS, anchors]),
        helper.make_tensor_value_info("output1", TensorProto.FLOAT,
                                      [1, MASK_CHANNELS, INPUT_SIZE // 4, INPUT_SIZE // 4]),
    ]
    graph = helper.make_graph(
        nodes, "main_graph",
        [helper.make_tensor_value_info("images", TensorProto.FLOAT,
                                       [1, 3, INPUT_SIZE, INPUT_SIZE])],
        outputs, initializers)
    model = helper.make_model(graph, opset_imports=[helper.make_opsetid("", opset)],
                              producer_name="pytorch")
    model.ir_version = IR_VERSION if opset <= 15 else 8
    onnx.checker.check_model(model)
    onnx.save(model, path)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--output", required=True)
    parser.add_argument("--opset", type=int, default=12, choices=range(12, 18))
    args = parser.parse_args()
    os.makedirs(os.path.dirname(os.path.abspath(args.output)), exist_ok=True)
    build(args.output, args.opset)


if __name__ == "__main__":
    main()
