#!/usr/bin/python3
"""Writes the demo segmentation model: a YOLOv8-seg network with hand-set weights that finds the
objects of the demo world by their colours. It is a stand-in for a trained network, not one.

Run with Debian's interpreter (/usr/bin/python3), which owns the python3-onnx module:

    /usr/bin/python3 generate_demo_model.py --palette demo_palette.csv --output demo_model.onnx \
        [--check-description demo_model.yaml] [--input-size 640]

Outputs have the layout of an Ultralytics export: output0 [1, 4 + classes + 32, anchors] (box
centre x, centre y, width, height in input pixels, class scores, mask coefficients) and output1
[1, 32, size/4, size/4] (mask prototypes). One anchor per class row of the palette ("slot").

How a slot sees its object: the renderer shades a flat colour by a factor (light, distance,
rounding), which keeps the chromaticity rgb / (r + g + b). A pixel belongs to slot k when every
channel satisfies |x_j - c_kj * S| <= tol * S (S = r + g + b, c_k the slot's chromaticity) and S
is above a floor; each test is linear in the pixel, so a 1x1 convolution computes all of them,
steep clipped ramps turn them into 0/1 and their minimum (a max pool over the negated tests)
ANDs them. From that membership map: the box is the extent of the columns and rows that hold a
member pixel after a 2x2 opening (max pools over ramps), the score grows with the member pixel
count, and the 4x4 average of the map, as a steep logit, is the slot's prototype channel, which
the anchor selects with a one-hot coefficient.
"""

import argparse
import csv
import sys

import numpy as np
import onnx
from onnx import TensorProto, helper, numpy_helper

OPSET = 10  # Clip with min/max attributes: OpenCV 4.6 reads no Clip bounds given as inputs
IR_VERSION = 7
MASK_CHANNELS = 32
TOLERANCE = 0.045       # largest chromaticity deviation per channel of a member pixel
MIN_SEPARATION = 0.12   # smallest chromaticity distance (max over channels) of a class row
MIN_BRIGHTNESS = 45.0   # smallest r + g + b of a member pixel, 0..765
STEEPNESS = 255.0       # ramp slope: one grey level of margin saturates a test
MIN_AREA_PX = 60.0      # member pixels for the full score
FULL_SCORE = 0.9
PROTO_LOGIT_SCALE = 20.0


def read_palette(path):
    """Rows (name, class or None, (r, g, b)) of the palette CSV; '#' lines are comments."""
    rows = []
    with open(path, newline="") as handle:
        lines = [line for line in handle if line.strip() and not line.lstrip().startswith("#")]
    for record in csv.DictReader(lines):
        colour = tuple(int(record[key]) for key in ("r", "g", "b"))
        if any(not 0 <= value <= 255 for value in colour) or sum(colour) == 0:
            raise ValueError(f"{path}: row {record['name']}: colour {colour} out of range")
        cls = record["class"].strip()
        rows.append((record["name"].strip(), None if cls == "-" else cls, colour))
    if not any(cls for _, cls, _ in rows):
        raise ValueError(f"{path}: no class rows")
    return rows


def chromaticity(colour):
    c = np.asarray(colour, np.float64)
    return c / c.sum()


def check_separation(rows):
    """Every class row must be told apart from every other row and from grey (the letterbox
    padding and shadows)."""
    grey = ("letterbox padding", None, (114, 114, 114))
    for name, cls, colour in rows:
        if cls is None:
            continue
        for other, _, other_colour in rows + [grey]:
            if other == name:
                continue
            distance = np.abs(chromaticity(colour) - chromaticity(other_colour)).max()
            if distance < MIN_SEPARATION:
                raise ValueError(
                    f"palette: {name} and {other} are too alike in chromaticity "
                    f"({distance:.3f} < {MIN_SEPARATION})")
        if sum(colour) < 300:
            raise ValueError(f"palette: {name} is too dark (r + g + b = {sum(colour)} < 300)")


def class_order(rows):
    """Model classes: the distinct class names in order of first appearance."""
    order = []
    for _, cls, _ in rows:
        if cls is not None and cls not in order:
            order.append(cls)
    return order


def check_description(path, classes):
    """The description file's class_mapping must name the generator's classes in its order."""
    import yaml  # only needed for the check

    with open(path) as handle:
        document = yaml.safe_load(handle)
    mapping = document.get("class_mapping") if isinstance(document, dict) else None
    if not isinstance(mapping, dict):
        raise ValueError(f"{path}: class_mapping missing or not a map")
    found = [str(mapping.get(i, "")).lower() for i in range(len(mapping))]
    if found != classes:
        raise ValueError(f"{path}: class_mapping {found} differs from the palette's classes {classes}")


def constant(initializers, name, array):
    initializers.append(numpy_helper.from_array(np.asarray(array, np.float32), name))
    return name


def build_graph(rows, size):
    slots = [(name, cls, colour) for name, cls, colour in rows if cls is not None]
    classes = class_order(rows)
    k = len(slots)
    if k > MASK_CHANNELS:
        raise ValueError(f"palette: {k} class rows, at most {MASK_CHANNELS} (one mask channel each)")
    nodes, inits = [], []

    def node(op, inputs, output, **attributes):
        nodes.append(helper.make_node(op, inputs, [output], **attributes))
        return output

    # Seven linear tests per slot on the [0, 1] pixel: 2 x 3 chromaticity bounds and brightness.
    tests = 7
    weights = np.zeros((tests * k, 3, 1, 1), np.float32)
    bias = np.zeros(tests * k, np.float32)
    for s, (_, _, colour) in enumerate(slots):
        c = chromaticity(colour)
        for j in range(3):
            residual = np.full(3, -c[j])  # x_j - c_j * S as weights over (r, g, b)
            residual[j] += 1.0
            weights[tests * s + 2 * j, :, 0, 0] = STEEPNESS * (TOLERANCE - residual)
            weights[tests * s + 2 * j + 1, :, 0, 0] = STEEPNESS * (TOLERANCE + residual)
        weights[tests * s + 6, :, 0, 0] = STEEPNESS
        bias[tests * s + 6] = -STEEPNESS * MIN_BRIGHTNESS / 255.0
    # Computed negated and clipped to [-1, 0]: then the AND of a slot's tests, their minimum, is
    # minus the maximum over the slot's seven channels, a max pool over a [k, 7, H * W] view.
    node("Conv", ["images", constant(inits, "tests_w", -weights), constant(inits, "tests_b", -bias)],
         "tests_negated", kernel_shape=[1, 1])
    node("Clip", ["tests_negated"], "failures", min=-1.0, max=0.0)
    node("Reshape", ["failures", constant_int(inits, "by_slot", [1, k, tests, size * size])],
         "failures_by_slot")
    node("MaxPool", ["failures_by_slot"], "worst_failure", kernel_shape=[tests, 1])
    node("Neg", ["worst_failure"], "member_flat")
    member = node("Reshape", ["member_flat", constant_int(inits, "member_shape", [1, k, size, size])],
                  "member")

    # Prototypes: 4x4 average of the membership as a steep logit, padded to 32 channels.
    node("AveragePool", [member], "member_quarter", kernel_shape=[4, 4], strides=[4, 4])
    proto_w = np.zeros((MASK_CHANNELS, k, 1, 1), np.float32)
    for s in range(k):
        proto_w[s, s, 0, 0] = PROTO_LOGIT_SCALE
    node("Conv", ["member_quarter", constant(inits, "proto_w", proto_w),
                  constant(inits, "proto_b", np.full(MASK_CHANNELS, -PROTO_LOGIT_SCALE / 2))],
         "output1", kernel_shape=[1, 1])

    # Extent of the member columns and rows: max over ramps that rise towards either edge, on
    # the membership opened by 2x2 (erosion as a max pool of the negated map, then dilation), so
    # stray pixels whose resampled colour happens to match do not stretch the box.
    node("Neg", [member], "member_negated")
    node("MaxPool", ["member_negated"], "eroded_negated", kernel_shape=[2, 2], pads=[0, 0, 1, 1])
    node("Neg", ["eroded_negated"], "eroded")
    node("MaxPool", ["eroded"], "opened", kernel_shape=[2, 2], pads=[1, 1, 0, 0])
    node("MaxPool", ["opened"], "columns", kernel_shape=[size, 1])   # [1, k, 1, size]
    node("MaxPool", ["opened"], "rows", kernel_shape=[1, size])      # [1, k, size, 1]
    ramp = np.arange(size, dtype=np.float32)
    rising = np.broadcast_to(ramp + 1.0, (1, k, 1, size))        # x + 1 at a member column
    falling = np.broadcast_to(size - ramp, (1, k, 1, size))      # size - x
    extents = []
    for axis_name, profile, kernel, shape in (("x", "columns", [1, size], (1, k, 1, size)),
                                              ("y", "rows", [size, 1], (1, k, size, 1))):
        for end, ramp_values in (("far", rising), ("near", falling)):
            ramp_name = constant(inits, f"ramp_{axis_name}_{end}",
                                 np.ascontiguousarray(ramp_values.reshape(shape)))
            weighted = node("Mul", [profile, ramp_name], f"{axis_name}_{end}_weighted")
            extents.append(node("MaxPool", [weighted], f"{axis_name}_{end}", kernel_shape=kernel))
    # extents: x_far = x2, x_near = size - x1, y_far = y2, y_near = size - y1; each [1, k, 1, 1].

    # Score: member pixel count against MIN_AREA_PX, clipped to [0, 1].
    node("GlobalAveragePool", [member], "area_fraction")
    node("Conv", ["area_fraction",
                  constant(inits, "area_w", np.full((k, 1, 1, 1), size * size / MIN_AREA_PX)),
                  constant(inits, "area_b", np.zeros(k))],
         "area_scaled", kernel_shape=[1, 1], group=k)
    score = node("Clip", ["area_scaled"], "score", min=0.0, max=1.0)

    node("Concat", extents + [score], "features_4d", axis=2)       # [1, k, 5, 1]
    node("Reshape", ["features_4d", constant_int(inits, "features_shape", [1, 5 * k, 1, 1])],
         "features")

    # Rows of output0, per slot (a grouped 1x1 convolution, one group per slot): the box from
    # the extents, the slot's class row the score, the slot's one-hot mask coefficient.
    rows_out = 4 + len(classes) + MASK_CHANNELS
    head_w = np.zeros((k, rows_out, 5), np.float32)
    head_b = np.zeros((k, rows_out), np.float32)
    x_far, x_near, y_far, y_near, area = range(5)
    for s, (_, cls, _) in enumerate(slots):
        w, b = head_w[s], head_b[s]
        w[0, x_far], w[0, x_near], b[0] = 0.5, -0.5, size / 2.0    # centre x
        w[1, y_far], w[1, y_near], b[1] = 0.5, -0.5, size / 2.0    # centre y
        w[2, x_far], w[2, x_near], b[2] = 1.0, 1.0, -size          # width
        w[3, y_far], w[3, y_near], b[3] = 1.0, 1.0, -size          # height
        w[4 + classes.index(cls), area] = FULL_SCORE
        b[4 + len(classes) + s] = 1.0
    node("Conv", ["features", constant(inits, "head_w", head_w.reshape(k * rows_out, 5, 1, 1)),
                  constant(inits, "head_b", head_b.reshape(-1))],
         "head", kernel_shape=[1, 1], group=k)                        # [1, k * rows_out, 1, 1]
    node("Reshape", ["head", constant_int(inits, "head_shape", [1, k, rows_out])], "head_3d")
    node("Transpose", ["head_3d"], "output0", perm=[0, 2, 1])

    graph = helper.make_graph(
        nodes, "nimbra_demo_model",
        [helper.make_tensor_value_info("images", TensorProto.FLOAT, [1, 3, size, size])],
        [helper.make_tensor_value_info("output0", TensorProto.FLOAT, [1, rows_out, k]),
         helper.make_tensor_value_info("output1", TensorProto.FLOAT,
                                       [1, MASK_CHANNELS, size // 4, size // 4])],
        inits)
    model = helper.make_model(graph, opset_imports=[helper.make_opsetid("", OPSET)],
                              producer_name="nimbra_demo_scene demo model generator")
    model.ir_version = IR_VERSION
    onnx.checker.check_model(model)
    return model, classes


def constant_int(initializers, name, values):
    initializers.append(numpy_helper.from_array(np.asarray(values, np.int64), name))
    return name


def write_sample_image(path, rows, width=640, height=480):
    """A binary PPM of the kind of frame the model sees: floor-coloured, with one block per class
    row in its colour under a different shading factor, for benchmarks."""
    image = np.empty((height, width, 3), np.uint8)
    image[:] = next(colour for name, _, colour in rows if name == "floor")
    slots = [colour for _, cls, colour in rows if cls is not None]
    columns = 6
    for i, colour in enumerate(slots):
        shade = 0.35 + 0.6 * ((i * 7) % 10) / 10.0
        x = 20 + (i % columns) * 100
        y = 20 + (i // columns) * 110
        w, h = 40 + (i * 13) % 50, 30 + (i * 17) % 60
        image[y:y + h, x:x + w] = np.round(np.asarray(colour) * shade).astype(np.uint8)
    with open(path, "wb") as handle:
        handle.write(f"P6 {width} {height} 255\n".encode())
        handle.write(image.tobytes())


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--palette", required=True, help="demo_palette.csv")
    parser.add_argument("--output", required=True, help="ONNX file to write")
    parser.add_argument("--check-description", help="model description YAML whose class_mapping "
                        "must list the palette's classes in order")
    parser.add_argument("--input-size", type=int, default=640, help="square input size, pixels")
    parser.add_argument("--sample-image", help="also write a 640x480 PPM test frame here")
    args = parser.parse_args()
    if args.input_size < 16 or args.input_size % 4 != 0:
        parser.error("--input-size must be a multiple of 4, at least 16")
    try:
        rows = read_palette(args.palette)
        check_separation(rows)
        model, classes = build_graph(rows, args.input_size)
        if args.check_description:
            check_description(args.check_description, classes)
    except (ValueError, KeyError, OSError) as error:
        print(f"generate_demo_model: {error}", file=sys.stderr)
        return 1
    onnx.save(model, args.output)
    if args.sample_image:
        write_sample_image(args.sample_image, rows)
    print(f"generate_demo_model: wrote {args.output}: {len(classes)} classes {classes}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
