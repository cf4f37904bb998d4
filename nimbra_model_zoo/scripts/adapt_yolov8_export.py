#!/usr/bin/python3
"""Rewrites a YOLOv8-seg ONNX export from Ultralytics so that OpenCV 4.6 DNN runs it.

Run with Debian's interpreter (/usr/bin/python3), which owns the python3-onnx module:

    /usr/bin/python3 adapt_yolov8_export.py yolov8n-seg.onnx yolov8n-seg-opencv46.onnx

OpenCV 4.6 mishandles two constructs of the export's output head:

* Split with its sizes given as a second input (opset 13 and later): the importer ignores the sizes
  and splits into equal parts, so the box and class logits come out with wrong shapes. Each such
  Split becomes one Slice per output.
* Element-wise Add, Sub, Mul or Div of a tensor and a constant whose shape differs from the result
  (the strides constant [1, anchors] multiplying the boxes [1, 4, anchors]): the first inference
  fails in an assertion. The constant is replaced by its values broadcast to the result's shape.

Nodes whose inputs are all constants are folded into initializers first, so exports written
without constant folding reach the same form. Single-element constants are left as they are.

The adapted graph is then checked against the original on a seeded random input: with
onnx.reference.ReferenceEvaluator where python3-onnx has it (1.13 and later), otherwise with the
small NumPy evaluator below, which covers the operators of a YOLOv8-seg export. The outputs must
agree within --tolerance, or nothing is written.
"""

import argparse
import sys

import numpy as np
import onnx
from onnx import helper, numpy_helper, shape_inference

ELEMENTWISE = ("Add", "Sub", "Mul", "Div")


# --------------------------------------------------------------------------------------------
# NumPy evaluator for the operators of a YOLOv8-seg export
# --------------------------------------------------------------------------------------------


class UnsupportedOperator(Exception):
    pass


def _attrs(node):
    return {a.name: helper.get_attribute_value(a) for a in node.attribute}


def _pads_2d(attrs):
    pads = list(attrs.get("pads", [0, 0, 0, 0]))
    if attrs.get("auto_pad", b"NOTSET") not in (b"NOTSET", "NOTSET"):
        raise UnsupportedOperator("auto_pad")
    return pads


def _windows(x, kernel, strides, dilations):
    """[N, C, H, W] to [N, C, OH, OW, KH, KW] views of the sliding windows."""
    kh, kw = kernel
    dh, dw = dilations
    span_h, span_w = (kh - 1) * dh + 1, (kw - 1) * dw + 1
    view = np.lib.stride_tricks.sliding_window_view(x, (span_h, span_w), axis=(2, 3))
    return view[:, :, ::strides[0], ::strides[1], ::dh, ::dw]


def _conv(x, w, b, attrs):
    if attrs.get("group", 1) != 1 or x.ndim != 4:
        raise UnsupportedOperator("Conv with groups or not 2-D")
    kernel = w.shape[2:]
    pads = _pads_2d(attrs)
    x = np.pad(x, ((0, 0), (0, 0), (pads[0], pads[2]), (pads[1], pads[3])))
    win = _windows(x, kernel, attrs.get("strides", [1, 1]), attrs.get("dilations", [1, 1]))
    y = np.tensordot(win, w, axes=([1, 4, 5], [1, 2, 3])).transpose(0, 3, 1, 2)
    if b is not None:
        y = y + b.reshape(1, -1, 1, 1)
    return np.ascontiguousarray(y, dtype=np.float32)


def _conv_transpose(x, w, b, attrs):
    strides = attrs.get("strides", [1, 1])
    if attrs.get("group", 1) != 1 or any(attrs.get("pads", [0, 0, 0, 0])) or \
            any(d != 1 for d in attrs.get("dilations", [1, 1])) or \
            any(attrs.get("output_padding", [0, 0])):
        raise UnsupportedOperator("ConvTranspose with groups, padding or dilation")
    n, _, h, wd = x.shape
    kh, kw = w.shape[2:]
    y = np.zeros((n, w.shape[1], (h - 1) * strides[0] + kh, (wd - 1) * strides[1] + kw), np.float32)
    for i in range(kh):
        for j in range(kw):
            part = np.einsum("nchw,co->nohw", x, w[:, :, i, j])
            y[:, :, i:i + (h - 1) * strides[0] + 1:strides[0],
              j:j + (wd - 1) * strides[1] + 1:strides[1]] += part
    if b is not None:
        y += b.reshape(1, -1, 1, 1)
    return y


def _max_pool(x, attrs):
    pads = _pads_2d(attrs)
    x = np.pad(x, ((0, 0), (0, 0), (pads[0], pads[2]), (pads[1], pads[3])),
               constant_values=-np.inf)
    win = _windows(x, attrs["kernel_shape"], attrs.get("strides", [1, 1]),
                   attrs.get("dilations", [1, 1]))
    return win.max(axis=(4, 5))


def _resize(x, inputs, attrs):
    mode = attrs.get("mode", b"nearest")
    if mode not in (b"nearest", "nearest"):
        raise UnsupportedOperator("Resize mode %s" % mode)
    scales = inputs[2] if len(inputs) > 2 and inputs[2] is not None and inputs[2].size else None
    if scales is None:
        scales = np.array(inputs[3], np.float64) / np.array(x.shape, np.float64)
    factors = [int(round(s)) for s in scales]
    if any(abs(f - s) > 1e-6 for f, s in zip(factors, scales)):
        raise UnsupportedOperator("Resize by a non-integer factor")
    for axis, factor in enumerate(factors):
        if factor != 1:
            x = np.repeat(x, factor, axis=axis)
    return x


def _softmax(x, axis, opset):
    if opset < 13:  # coerced to 2-D at `axis`
        shape = x.shape
        flat = x.reshape(int(np.prod(shape[:axis])), -1)
        e = np.exp(flat - flat.max(axis=1, keepdims=True))
        return (e / e.sum(axis=1, keepdims=True)).reshape(shape)
    e = np.exp(x - x.max(axis=axis, keepdims=True))
    return e / e.sum(axis=axis, keepdims=True)


def _slice(x, starts, ends, axes=None, steps=None):
    axes = range(len(starts)) if axes is None else axes
    steps = [1] * len(starts) if steps is None else steps
    index = [slice(None)] * x.ndim
    for s, e, a, st in zip(starts, ends, axes, steps):
        index[int(a)] = slice(int(s), int(e), int(st))
    return x[tuple(index)]


def _reshape(x, shape):
    shape = [x.shape[i] if d == 0 else int(d) for i, d in enumerate(shape)]
    return x.reshape(shape)


def _unsqueeze(x, axes):
    for axis in sorted(int(a) if a >= 0 else int(a) + x.ndim + len(axes) for a in axes):
        x = np.expand_dims(x, axis)
    return x


def _split_sizes(node, x, inputs, attrs, axis):
    if len(inputs) > 1 and inputs[1] is not None:
        return [int(s) for s in inputs[1]]
    if "split" in attrs:
        return list(attrs["split"])
    return [x.shape[axis] // len(node.output)] * len(node.output)


def run_node(node, inputs, opset):
    """Outputs of one node for NumPy inputs (None for an omitted optional input)."""
    op, a = node.op_type, _attrs(node)
    x = inputs[0] if inputs else None
    simple = {
        "Add": lambda: x + inputs[1], "Sub": lambda: x - inputs[1],
        "Mul": lambda: x * inputs[1], "Div": lambda: x / inputs[1],
        "Pow": lambda: np.power(x, inputs[1]), "Sqrt": lambda: np.sqrt(x),
        "Sigmoid": lambda: 1.0 / (1.0 + np.exp(-x)), "Relu": lambda: np.maximum(x, 0),
        "Identity": lambda: x, "Neg": lambda: -x, "Exp": lambda: np.exp(x),
        "Concat": lambda: np.concatenate(inputs, axis=a["axis"]),
        "Transpose": lambda: np.transpose(x, a.get("perm")),
        "Reshape": lambda: _reshape(x, inputs[1]),
        "Flatten": lambda: x.reshape(int(np.prod(x.shape[:a.get("axis", 1)])), -1),
        "Shape": lambda: np.array(x.shape, np.int64),
        "Gather": lambda: np.take(x, inputs[1], axis=a.get("axis", 0)),
        "Unsqueeze": lambda: _unsqueeze(x, a["axes"] if "axes" in a else inputs[1]),
        "Squeeze": lambda: np.squeeze(x, axis=tuple(a["axes"] if "axes" in a else inputs[1])),
        "Cast": lambda: x.astype(helper.tensor_dtype_to_np_dtype(a["to"])),
        "Softmax": lambda: _softmax(x, a.get("axis", 1 if opset < 13 else -1) % x.ndim, opset),
        "Slice": lambda: _slice(x, *[v for v in inputs[1:]]),
        "GlobalAveragePool": lambda: x.mean(axis=(2, 3), keepdims=True),
        "MatMul": lambda: np.matmul(x, inputs[1]),
        "Gemm": lambda: (a.get("alpha", 1.0) * np.matmul(x.T if a.get("transA") else x,
                                                         inputs[1].T if a.get("transB") else inputs[1])
                         + (a.get("beta", 1.0) * inputs[2] if len(inputs) > 2 else 0)),
        "Conv": lambda: _conv(x, inputs[1], inputs[2] if len(inputs) > 2 else None, a),
        "ConvTranspose": lambda: _conv_transpose(x, inputs[1],
                                                 inputs[2] if len(inputs) > 2 else None, a),
        "MaxPool": lambda: _max_pool(x, a),
        "Resize": lambda: _resize(x, inputs, a),
        "Constant": lambda: numpy_helper.to_array(a["value"]),
    }
    if op == "Split":
        axis = a.get("axis", 0) % x.ndim
        bounds = np.cumsum([0] + _split_sizes(node, x, inputs, a, axis))
        return [_slice(x, [bounds[i]], [bounds[i + 1]], [axis]) for i in range(len(node.output))]
    if op not in simple:
        raise UnsupportedOperator(op)
    return [np.asarray(simple[op]())]


def opset_of(model):
    return next((o.version for o in model.opset_import if o.domain in ("", "ai.onnx")), 13)


def evaluate(model, feeds):
    """Runs the graph on NumPy feeds; returns the graph outputs in order."""
    try:
        from onnx.reference import ReferenceEvaluator
        return ReferenceEvaluator(model).run(None, feeds)
    except ImportError:
        pass
    opset = opset_of(model)
    values = {t.name: numpy_helper.to_array(t) for t in model.graph.initializer}
    values.update(feeds)
    for node in model.graph.node:
        inputs = [values[name] if name else None for name in node.input]
        for name, value in zip(node.output, run_node(node, inputs, opset)):
            values[name] = value
    return [values[o.name] for o in model.graph.output]


# --------------------------------------------------------------------------------------------
# Rewrites
# --------------------------------------------------------------------------------------------


class Adapter:
    """Applies the rewrites to a model in place and records what it changed."""

    def __init__(self, model):
        self.model = model
        self.graph = model.graph
        self.opset = opset_of(model)
        self.changes = []
        self.names = {t.name for t in self.graph.initializer} | \
            {o for n in self.graph.node for o in n.output} | {i.name for i in self.graph.input}

    def unique(self, base):
        name, k = base, 1
        while name in self.names:
            name, k = "%s_%d" % (base, k), k + 1
        self.names.add(name)
        return name

    def constants(self):
        values = {t.name: numpy_helper.to_array(t) for t in self.graph.initializer}
        for node in self.graph.node:
            if node.op_type == "Constant" and "value" in _attrs(node):
                values[node.output[0]] = numpy_helper.to_array(_attrs(node)["value"])
        return values

    def add_initializer(self, array, base):
        name = self.unique(base)
        self.graph.initializer.append(numpy_helper.from_array(np.ascontiguousarray(array), name))
        return name

    def fold_constants(self):
        """Replaces nodes whose inputs are all constants (Constant nodes excepted) by initializers."""
        graph_inputs = {i.name for i in self.graph.input}
        kept = []
        values = self.constants()
        for node in self.graph.node:
            foldable = node.op_type != "Constant" and node.input and all(
                not name or (name in values and name not in graph_inputs) for name in node.input)
            if foldable:
                try:
                    outputs = run_node(node, [values[n] if n else None for n in node.input],
                                       self.opset)
                except UnsupportedOperator:
                    outputs = None
                if outputs is not None:
                    for name, value in zip(node.output, outputs):
                        values[name] = value
                        self.graph.initializer.append(numpy_helper.from_array(value, name))
                    self.changes.append("folded constant %s '%s'" % (node.op_type, node.name))
                    continue
            kept.append(node)
        del self.graph.node[:]
        self.graph.node.extend(kept)

    def split_inputs_to_slices(self):
        """Split with a sizes input (opset 13+) becomes one Slice per output."""
        values = self.constants()
        shapes = self.shapes()
        nodes = []
        for node in self.graph.node:
            if node.op_type != "Split" or len(node.input) < 2 or not node.input[1]:
                nodes.append(node)
                continue
            if node.input[1] not in values:
                raise SystemExit("Split '%s' has computed sizes; cannot rewrite it" % node.name)
            rank = len(shapes.get(node.input[0], [])) or None
            axis = _attrs(node).get("axis", 0)
            if axis < 0:
                if rank is None:
                    raise SystemExit("Split '%s': negative axis on a tensor of unknown rank"
                                     % node.name)
                axis += rank
            bounds = np.cumsum([0] + [int(s) for s in values[node.input[1]]])
            for i, out in enumerate(node.output):
                args = [self.add_initializer(np.array([v], np.int64), "%s_%s_%d" % (node.name, k, i))
                        for k, v in (("starts", bounds[i]), ("ends", bounds[i + 1]), ("axes", axis))]
                nodes.append(helper.make_node("Slice", [node.input[0]] + args, [out],
                                              name="%s_slice_%d" % (node.name, i)))
            self.changes.append("Split '%s' with sizes %s on axis %d -> %d Slices"
                                % (node.name, list(np.diff(bounds)), axis, len(node.output)))
        del self.graph.node[:]
        self.graph.node.extend(nodes)

    def shapes(self):
        inferred = shape_inference.infer_shapes(self.model)
        shapes = {}
        for info in list(inferred.graph.value_info) + list(inferred.graph.input) + \
                list(inferred.graph.output):
            dims = info.type.tensor_type.shape.dim
            if info.type.tensor_type.HasField("shape") and all(d.HasField("dim_value") for d in dims):
                shapes[info.name] = [d.dim_value for d in dims]
        return shapes

    def expand_broadcast_constants(self):
        """Constants of Add/Sub/Mul/Div whose shape differs from the result's get the result's."""
        values = self.constants()
        shapes = self.shapes()
        for node in self.graph.node:
            if node.op_type not in ELEMENTWISE or len(node.input) != 2:
                continue
            const_slots = [i for i, name in enumerate(node.input) if name in values]
            if len(const_slots) != 1:
                continue
            slot = const_slots[0]
            value = values[node.input[slot]]
            other = shapes.get(node.input[1 - slot])
            if value.size == 1 or other is None:
                continue
            result = list(np.broadcast_shapes(tuple(other), value.shape))
            if list(value.shape) == result:
                continue
            if result != other:
                print("warning: %s '%s' broadcasts its non-constant input %s to %s; left as is"
                      % (node.op_type, node.name, other, result), file=sys.stderr)
                continue
            name = node.input[slot]
            node.input[slot] = self.add_initializer(np.broadcast_to(value, result), name + "_full")
            self.changes.append("%s '%s': constant '%s' %s broadcast to %s"
                                % (node.op_type, node.name, name, list(value.shape), result))

    def drop_unused_initializers(self):
        used = {name for node in self.graph.node for name in node.input} | \
            {o.name for o in self.graph.output}
        kept = [t for t in self.graph.initializer if t.name in used]
        del self.graph.initializer[:]
        self.graph.initializer.extend(kept)

    def run(self):
        self.fold_constants()
        self.split_inputs_to_slices()
        self.expand_broadcast_constants()
        self.drop_unused_initializers()
        return self.changes


def random_feeds(model, seed):
    rng = np.random.default_rng(seed)
    initializers = {t.name for t in model.graph.initializer}
    feeds = {}
    for info in model.graph.input:
        if info.name in initializers:
            continue
        dims = [d.dim_value if d.HasField("dim_value") and d.dim_value > 0 else 1
                for d in info.type.tensor_type.shape.dim]
        feeds[info.name] = rng.uniform(0.0, 1.0, dims).astype(np.float32)
    return feeds


def check_same_outputs(original, adapted, seed, tolerance):
    feeds = random_feeds(original, seed)
    try:
        expected = evaluate(original, feeds)
        actual = evaluate(adapted, feeds)
    except UnsupportedOperator as e:
        raise SystemExit("cannot check the adapted graph: operator %s is not supported by the "
                         "built-in evaluator (use --skip-check to write it unchecked)" % e)
    worst = 0.0
    for info, a, b in zip(original.graph.output, expected, actual):
        if a.shape != b.shape:
            raise SystemExit("output '%s': shape %s became %s" % (info.name, a.shape, b.shape))
        scale = max(1.0, float(np.max(np.abs(a))) if a.size else 1.0)
        diff = float(np.max(np.abs(a - b))) / scale if a.size else 0.0
        worst = max(worst, diff)
        if not diff <= tolerance:
            raise SystemExit("output '%s' differs by %g (relative) after adapting" % (info.name, diff))
    return worst


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("input", help="ONNX file written by the Ultralytics export")
    parser.add_argument("output", help="adapted ONNX file to write")
    parser.add_argument("--seed", type=int, default=0, help="seed of the random check input")
    parser.add_argument("--tolerance", type=float, default=1e-5,
                        help="largest output difference allowed, relative to the output's range")
    parser.add_argument("--skip-check", action="store_true",
                        help="write the adapted graph without comparing outputs")
    args = parser.parse_args()

    original = onnx.load(args.input)
    adapted = onnx.ModelProto()
    adapted.CopyFrom(original)
    changes = Adapter(adapted).run()
    onnx.checker.check_model(adapted)
    for change in changes:
        print(change)
    if not changes:
        print("nothing to rewrite")
    if not args.skip_check:
        worst = check_same_outputs(original, adapted, args.seed, args.tolerance)
        print("outputs agree on a random input (largest relative difference %g)" % worst)
    onnx.save(adapted, args.output)
    print("wrote %s" % args.output)


if __name__ == "__main__":
    main()
