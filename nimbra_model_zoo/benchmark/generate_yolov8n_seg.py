#!/usr/bin/python3
"""Writes yolov8n_seg_random.onnx for benchmark_yolov8_seg: the YOLOv8n-seg architecture (backbone,
neck, detection and segmentation heads, 640x640 input, 80 classes) with seeded random weights, to
measure a realistic inference latency. Its detections are meaningless.

Run with Debian's interpreter (/usr/bin/python3), which owns the python3-onnx module:

    /usr/bin/python3 generate_yolov8n_seg.py --output FILE
"""

import argparse
import math
import os
import sys

import numpy as np
from onnx import TensorProto, helper, numpy_helper

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "scripts"))
from generate_test_models import MASK_CHANNELS, save_model  # noqa: E402


class GraphBuilder:
    """Small helper that names nodes and seeds weights deterministically."""

    def __init__(self, seed):
        self.nodes = []
        self.initializers = []
        self.rng = np.random.default_rng(seed)
        self.count = 0

    def name(self, prefix):
        self.count += 1
        return "%s_%d" % (prefix, self.count)

    def const(self, array, prefix="const"):
        name = self.name(prefix)
        self.initializers.append(numpy_helper.from_array(array, name))
        return name

    def node(self, op, inputs, prefix=None, **attrs):
        out = self.name(prefix or op.lower())
        self.nodes.append(helper.make_node(op, inputs, [out], **attrs))
        return out

    def conv(self, x, c_in, c_out, k=1, s=1, act=True, bias_value=None):
        """Conv (batch norm folded into the bias) followed by SiLU, as YOLOv8's Conv block."""
        fan_in = c_in * k * k
        w = self.rng.normal(0.0, math.sqrt(2.0 / fan_in), (c_out, c_in, k, k)).astype(np.float32)
        b = np.zeros(c_out, np.float32) if bias_value is None else bias_value.astype(np.float32)
        y = self.node("Conv", [x, self.const(w, "w"), self.const(b, "b")], kernel_shape=[k, k],
                      strides=[s, s], pads=[k // 2] * 4)
        if not act:
            return y
        return self.node("Mul", [y, self.node("Sigmoid", [y])], "silu")

    def split(self, x, sizes, axis=1):
        outs = [self.name("split") for _ in sizes]
        self.nodes.append(helper.make_node("Split", [x], outs, axis=axis, split=list(sizes)))
        return outs

    def c2f(self, x, c_in, c_out, n, shortcut):
        hidden = c_out // 2
        y = self.conv(x, c_in, 2 * hidden)
        parts = self.split(y, [hidden, hidden])
        for _ in range(n):
            z = self.conv(parts[-1], hidden, hidden, 3)
            z = self.conv(z, hidden, hidden, 3)
            parts.append(self.node("Add", [parts[-1], z]) if shortcut else z)
        return self.conv(self.node("Concat", parts, axis=1), (2 + n) * hidden, c_out)

    def sppf(self, x, c_in, c_out):
        hidden = c_in // 2
        y = self.conv(x, c_in, hidden)
        pools = [y]
        for _ in range(3):
            pools.append(self.node("MaxPool", [pools[-1]], kernel_shape=[5, 5], strides=[1, 1],
                                   pads=[2, 2, 2, 2]))
        return self.conv(self.node("Concat", pools, axis=1), 4 * hidden, c_out)

    def upsample(self, x):
        scales = self.const(np.array([1, 1, 2, 2], np.float32), "scales")
        roi = self.const(np.array([], np.float32), "roi")
        return self.node("Resize", [x, roi, scales], mode="nearest")

    def reshape(self, x, shape):
        return self.node("Reshape", [x, self.const(np.array(shape, np.int64), "shape")])


def yolov8n_seg_random(path, size=640, classes=80, seed=8):
    g = GraphBuilder(seed)
    x = "images"
    # Backbone (width 0.25, depth 0.33).
    x = g.conv(x, 3, 16, 3, 2)
    x = g.conv(x, 16, 32, 3, 2)
    x = g.c2f(x, 32, 32, 1, True)
    x = g.conv(x, 32, 64, 3, 2)
    p3 = g.c2f(x, 64, 64, 2, True)
    x = g.conv(p3, 64, 128, 3, 2)
    p4 = g.c2f(x, 128, 128, 2, True)
    x = g.conv(p4, 128, 256, 3, 2)
    x = g.c2f(x, 256, 256, 1, True)
    p5 = g.sppf(x, 256, 256)
    # Neck.
    x = g.node("Concat", [g.upsample(p5), p4], axis=1)
    n4 = g.c2f(x, 384, 128, 1, False)
    x = g.node("Concat", [g.upsample(n4), p3], axis=1)
    out3 = g.c2f(x, 192, 64, 1, False)
    x = g.node("Concat", [g.conv(out3, 64, 64, 3, 2), n4], axis=1)
    out4 = g.c2f(x, 192, 128, 1, False)
    x = g.node("Concat", [g.conv(out4, 128, 128, 3, 2), p5], axis=1)
    out5 = g.c2f(x, 384, 256, 1, False)
    levels = [(out3, 64, 8), (out4, 128, 16), (out5, 256, 32)]

    # Prototypes at stride 4: conv, 2x2 transposed conv of stride 2, conv, conv.
    y = g.conv(out3, 64, 64, 3)
    w = g.rng.normal(0.0, math.sqrt(2.0 / 256), (64, 64, 2, 2)).astype(np.float32)
    y = g.node("ConvTranspose", [y, g.const(w, "w"), g.const(np.zeros(64, np.float32), "b")],
               kernel_shape=[2, 2], strides=[2, 2])
    y = g.conv(y, 64, 64, 3)
    prototypes = g.conv(y, 64, MASK_CHANNELS, 1)

    # Heads per level: 64 box logits (4 sides x 16 distance bins), class logits, mask coefficients.
    reg_max = 16
    box_c, cls_c, mask_c = 64, max(64, min(classes, 100)), max(64 // 4, MASK_CHANNELS)
    box_parts, cls_parts, coef_parts, anchor_points, strides = [], [], [], [], []
    for feat, c_in, stride in levels:
        b = g.conv(g.conv(feat, c_in, box_c, 3), box_c, box_c, 3)
        b = g.conv(b, box_c, 4 * reg_max, 1, act=False)
        c = g.conv(g.conv(feat, c_in, cls_c, 3), cls_c, cls_c, 3)
        c = g.conv(c, cls_c, classes, 1, act=False,
                   bias_value=np.full(classes, math.log(5 / classes / (640 / stride) ** 2)))
        m = g.conv(g.conv(feat, c_in, mask_c, 3), mask_c, mask_c, 3)
        m = g.conv(m, mask_c, MASK_CHANNELS, 1, act=False)
        cells = size // stride
        box_parts.append(g.reshape(b, [1, 4 * reg_max, cells * cells]))
        cls_parts.append(g.reshape(c, [1, classes, cells * cells]))
        coef_parts.append(g.reshape(m, [1, MASK_CHANNELS, cells * cells]))
        ys, xs = np.meshgrid(np.arange(cells), np.arange(cells), indexing="ij")
        anchor_points.append(np.stack([xs.reshape(-1), ys.reshape(-1)]) + 0.5)
        strides.append(np.full(cells * cells, stride, np.float32))
    anchors = int(sum(p.shape[1] for p in anchor_points))
    box = g.node("Concat", box_parts, axis=2)
    scores = g.node("Sigmoid", [g.node("Concat", cls_parts, axis=2)])
    coefficients = g.node("Concat", coef_parts, axis=2)

    # Distribution focal loss decoding: softmax over the 16 bins, expectation by a 1x1 conv.
    dfl = g.reshape(box, [1, 4, reg_max, anchors])
    dfl = g.node("Transpose", [dfl], perm=[0, 2, 1, 3])
    # Before opset 13 Softmax flattens from its axis on; softmax over the bins alone needs them last.
    dfl = g.node("Transpose", [dfl], perm=[0, 3, 2, 1])
    dfl = g.node("Softmax", [dfl], axis=3)
    dfl = g.node("Transpose", [dfl], perm=[0, 3, 2, 1])
    bins = np.arange(reg_max, dtype=np.float32).reshape(1, reg_max, 1, 1)
    dfl = g.node("Conv", [dfl, g.const(bins, "dfl_w")], kernel_shape=[1, 1])
    distances = g.reshape(dfl, [1, 4, anchors])
    left_top, right_bottom = g.split(distances, [2, 2])
    points = g.const(np.concatenate(anchor_points, axis=1).reshape(1, 2, anchors).astype(np.float32),
                     "anchor_points")
    top_left = g.node("Sub", [points, left_top])
    bottom_right = g.node("Add", [points, right_bottom])
    centre = g.node("Mul", [g.node("Add", [top_left, bottom_right]),
                            g.const(np.array(0.5, np.float32), "half")])
    extent = g.node("Sub", [bottom_right, top_left])
    # OpenCV 4.6 does not broadcast a [1, 1, N] factor here, so the strides come per row.
    stride_row = g.const(np.tile(np.concatenate(strides), (1, 4, 1)).astype(np.float32), "strides")
    boxes = g.node("Mul", [g.node("Concat", [centre, extent], axis=1), stride_row])
    g.nodes.append(helper.make_node("Concat", [boxes, scores, coefficients], ["output0"], axis=1))
    g.nodes.append(helper.make_node("Identity", [prototypes], ["output1"]))

    outputs = [
        helper.make_tensor_value_info("output0", TensorProto.FLOAT,
                                      [1, 4 + classes + MASK_CHANNELS, anchors]),
        helper.make_tensor_value_info("output1", TensorProto.FLOAT,
                                      [1, MASK_CHANNELS, size // 4, size // 4]),
    ]
    save_model(path, "yolov8n_seg_random", (size, size), g.nodes, g.initializers, outputs)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--output", required=True)
    args = parser.parse_args()
    os.makedirs(os.path.dirname(os.path.abspath(args.output)), exist_ok=True)
    yolov8n_seg_random(args.output)


if __name__ == "__main__":
    main()
