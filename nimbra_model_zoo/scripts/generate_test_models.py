#!/usr/bin/python3
"""Writes the ONNX models that the nimbra_model_zoo tests and benchmarks load.

Run with Debian's interpreter (/usr/bin/python3), which owns the python3-onnx module:

    /usr/bin/python3 generate_test_models.py --output-dir DIR [--yolov8n-seg]

Test models have the YOLOv8-seg output layout, predictions [1, 4 + classes + 32, anchors] and
prototypes [1, 32, H/4, W/4], but their outputs are fixed by the initializers: the image is reduced
to its three channel means, which a fully connected layer multiplies by a weight matrix (zero unless
stated) before adding a bias that holds the intended output. The C++ tests therefore know every
box, score and prototype pixel the network returns.

With --yolov8n-seg the script also writes yolov8n_seg_random.onnx: the YOLOv8n-seg architecture
(backbone, neck, detection and segmentation heads, 640x640 input, 80 classes) with seeded random
weights, used to measure a realistic inference latency. Its detections are meaningless.
"""

import argparse
import math
import os

import numpy as np
import onnx
from onnx import TensorProto, helper, numpy_helper

OPSET = 12
IR_VERSION = 7
MASK_CHANNELS = 32
LOW_SCORE = 0.01  # class score of every class an anchor is not meant to fire for


# --------------------------------------------------------------------------------------------
# Fixed-output models
# --------------------------------------------------------------------------------------------


class Head:
    """The raw outputs of a fixed-output model: predictions [C, N] and prototypes [M, h, w]."""

    def __init__(self, input_size, classes, anchors, mask_channels=MASK_CHANNELS, proto_size=None):
        self.input_w, self.input_h = input_size
        self.classes = classes
        if proto_size is None:
            proto_size = (self.input_w // 4, self.input_h // 4)
        self.proto_w, self.proto_h = proto_size
        rows = 4 + classes + mask_channels
        self.predictions = np.zeros((rows, anchors), np.float32)
        self.predictions[4:4 + classes, :] = LOW_SCORE
        self.prototypes = np.zeros((mask_channels, self.proto_h, self.proto_w), np.float32)

    def set_anchor(self, anchor, corners, class_id, score, coefficients=None):
        """Anchor `anchor` fires for `class_id` with a box given as (x1, y1, x2, y2) in input pixels."""
        x1, y1, x2, y2 = corners
        self.predictions[0:4, anchor] = [(x1 + x2) / 2, (y1 + y2) / 2, x2 - x1, y2 - y1]
        self.predictions[4:4 + self.classes, anchor] = LOW_SCORE
        self.predictions[4 + class_id, anchor] = score
        if coefficients is not None:
            for channel, value in coefficients.items():
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
    infos = []
    if "predictions" in outputs:
        infos.append(fully_connected_output(nodes, initializers, "output0", head.predictions,
                                            prediction_weights))
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
    for channel in range(3):
        weights[(4 + channel) * 1 + 0, channel] = 1.0  # row (4 + c), anchor 0 of a [C, 1] output
    return head, weights


def write_test_models(out_dir):
    save_head(os.path.join(out_dir, "boxes.onnx"), boxes_model())
    save_head(os.path.join(out_dir, "masks.onnx"), masks_model())
    head, weights = probe_model()
    save_head(os.path.join(out_dir, "probe.onnx"), head, prediction_weights=weights)

    # Malformed layouts.
    bad_channels = Head((64, 64), classes=3, anchors=8)
    bad_channels.predictions = np.zeros((30, 8), np.float32)  # 4 + 32 rows needed at least
    save_head(os.path.join(out_dir, "bad_channels.onnx"), bad_channels)
    bad_rank = Head((64, 64), classes=3, anchors=8)
    bad_rank.prototypes = np.zeros((MASK_CHANNELS, 256), np.float32)
    save_head(os.path.join(out_dir, "bad_proto_rank.onnx"), bad_rank)
    save_head(os.path.join(out_dir, "one_output.onnx"), Head((64, 64), classes=3, anchors=8),
              outputs=("predictions",))


# --------------------------------------------------------------------------------------------
# YOLOv8n-seg architecture with random weights
# --------------------------------------------------------------------------------------------


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
    parser.add_argument("--output-dir", required=True)
    parser.add_argument("--yolov8n-seg", action="store_true",
                        help="also write yolov8n_seg_random.onnx (YOLOv8n-seg, random weights)")
    parser.add_argument("--skip-test-models", action="store_true")
    args = parser.parse_args()
    os.makedirs(args.output_dir, exist_ok=True)
    if not args.skip_test_models:
        write_test_models(args.output_dir)
    if args.yolov8n_seg:
        yolov8n_seg_random(os.path.join(args.output_dir, "yolov8n_seg_random.onnx"))


if __name__ == "__main__":
    main()
