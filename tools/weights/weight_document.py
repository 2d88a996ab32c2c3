#!/usr/bin/python3
"""The one writer (and reader) of model weight documents.

A weight document is a single-line JSON object of flat float arrays. Every
number is a float32 value printed as the shortest decimal that reads back, as a
double, as exactly that float32; the C++ loader converts double -> float and
must lose nothing.

Layers are given the way the training framework stores them: a weight of shape
(Out, In), element [o, i] the weight from input i to output o, and a bias of
shape (Out,). The reference vectors at controls (0.5, 0.5) are computed here in
float64 from the float32 weights, independently of the C++ model, so that the
C++ tests have numbers to check against.

Usage as a library:
    layers = {...}                      # member name -> array
    write_document(path, layers, kernel_length)
    layers = read_document(path)
"""

import json
import math
import sys

import numpy as np

HIDDEN = 8
WIDTH = 16
CONTROLS = 2
GATES = 3 * HIDDEN
LEAKY_SLOPE = np.float64(np.float32(0.2))
REFERENCE_CONTROLS = (0.5, 0.5)


def layer_shapes(kernel_length):
    """(member, shape) for every layer member, in document order after the
    reference vectors. Weight shapes are (Out, In)."""
    n = kernel_length
    return [
        ("subnet.prelayers.0.weight", (WIDTH, CONTROLS)),
        ("subnet.prelayers.0.bias", (WIDTH,)),
        ("subnet.prelayers.2.weight", (WIDTH, WIDTH)),
        ("subnet.prelayers.2.bias", (WIDTH,)),
        ("subnet.midlayers_ih.0.weight", (WIDTH, WIDTH)),
        ("subnet.midlayers_ih.0.bias", (WIDTH,)),
        ("subnet.midlayers_ih.2.weight", (WIDTH, WIDTH)),
        ("subnet.midlayers_ih.2.bias", (WIDTH,)),
        ("subnet.proj_ih.weight", (GATES, WIDTH)),
        ("subnet.proj_ih.bias", (GATES,)),
        ("subnet.midlayers_hh.0.weight", (WIDTH, WIDTH)),
        ("subnet.midlayers_hh.0.bias", (WIDTH,)),
        ("subnet.midlayers_hh.2.weight", (WIDTH, WIDTH)),
        ("subnet.midlayers_hh.2.bias", (WIDTH,)),
        ("subnet.proj_hh.weight", (HIDDEN * GATES, WIDTH)),
        ("subnet.proj_hh.bias", (HIDDEN * GATES,)),
        ("subnet.midlayers_conv.0.weight", (WIDTH, WIDTH)),
        ("subnet.midlayers_conv.0.bias", (WIDTH,)),
        ("subnet.midlayers_conv.2.weight", (WIDTH, WIDTH)),
        ("subnet.midlayers_conv.2.bias", (WIDTH,)),
        ("subnet.proj_conv.weight", (n, WIDTH)),
        ("subnet.proj_conv.bias", (n,)),
        ("linear_out.weight", (1, HIDDEN)),
    ]


def reference_shapes(kernel_length):
    return [
        ("hidden", HIDDEN),
        ("ih", GATES),
        ("hh", HIDDEN * GATES),
        ("conv", kernel_length),
        ("emb", WIDTH),
        ("emb_ih", WIDTH),
        ("wih", GATES),
    ]


def number_count(kernel_length):
    return (sum(c for _, c in reference_shapes(kernel_length))
            + sum(int(np.prod(s)) for _, s in layer_shapes(kernel_length)))


def as_float32(layers, kernel_length):
    """Checks every layer member's shape and finiteness; returns float32 copies."""
    out = {}
    for name, shape in layer_shapes(kernel_length):
        if name not in layers:
            raise ValueError("missing member " + name)
        a = np.asarray(layers[name], dtype=np.float64)
        if a.size != int(np.prod(shape)):
            raise ValueError("%s: %d numbers, expected %d" % (name, a.size, int(np.prod(shape))))
        a32 = a.reshape(shape).astype(np.float32)
        if not np.all(np.isfinite(a32)):
            raise ValueError(name + " holds a value that is not finite as float32")
        out[name] = a32
    return out


def leaky(v):
    return np.where(v >= 0.0, v, LEAKY_SLOPE * v)


def dense(x, layers, prefix):
    w = layers[prefix + ".weight"].astype(np.float64)
    b = layers[prefix + ".bias"].astype(np.float64)
    return w @ x + b


def hypernetwork(layers, knob1, knob2):
    """float64 evaluation of the hypernetwork. Returns a dict with the embedding,
    the shared ih/hh features, the three raw projections, and the cell's weights
    in the layout the cell uses (wih: (24,), whh: (8, 24))."""
    x = np.array([knob1, knob2], dtype=np.float64)
    h = leaky(dense(x, layers, "subnet.prelayers.0"))
    emb = leaky(dense(h, layers, "subnet.prelayers.2"))
    # Both cell-weight heads run through the ih mid-layers: the hh mid-layer
    # members exist in the document but the model never reads them.
    f = leaky(dense(emb, layers, "subnet.midlayers_ih.0"))
    emb_ih = leaky(dense(f, layers, "subnet.midlayers_ih.2"))
    ih = dense(emb_ih, layers, "subnet.proj_ih")
    hh = dense(emb_ih, layers, "subnet.proj_hh")
    c = leaky(dense(emb, layers, "subnet.midlayers_conv.0"))
    c = leaky(dense(c, layers, "subnet.midlayers_conv.2"))
    conv = dense(c, layers, "subnet.proj_conv")
    return {"emb": emb, "emb_ih": emb_ih, "ih": ih, "hh": hh, "conv": conv,
            "wih": ih, "whh": hh.reshape(HIDDEN, GATES)}


def reference_vectors(layers, kernel_length):
    net = hypernetwork(layers, *REFERENCE_CONTROLS)
    # "hidden" has no role in the program; zeros are the cell's state after reset.
    return {"hidden": np.zeros(HIDDEN), "ih": net["ih"], "hh": net["hh"],
            "conv": net["conv"], "emb": net["emb"], "emb_ih": net["emb_ih"],
            "wih": net["wih"]}


def format_number(v):
    """Shortest decimal that reads back as exactly the float32 value of v."""
    d = float(np.float32(v))
    if not math.isfinite(d):
        raise ValueError("not finite: %r" % v)
    text = repr(d)
    assert float(text) == d and np.float32(float(text)) == np.float32(v)
    assert any(ch in text for ch in ".e"), text
    return text


def format_array(values):
    return "[" + ", ".join(format_number(v) for v in np.ravel(values)) + "]"


def render_document(layers, kernel_length):
    """The document text (no trailing newline)."""
    layers32 = as_float32(layers, kernel_length)
    refs = reference_vectors(layers32, kernel_length)
    members = []
    for name, count in reference_shapes(kernel_length):
        values = np.asarray(refs[name], dtype=np.float64).ravel()
        assert values.size == count
        members.append('"%s": %s' % (name, format_array(values)))
    for name, _ in layer_shapes(kernel_length):
        members.append('"%s": %s' % (name, format_array(layers32[name])))
    return "{" + ", ".join(members) + "}"


def write_document(path, layers, kernel_length):
    text = render_document(layers, kernel_length)
    count = sum(len(v) for v in json.loads(text).values())
    if count != number_count(kernel_length):
        raise AssertionError("document holds %d numbers, expected %d" % (count, number_count(kernel_length)))
    text.encode("ascii")
    with open(path, "w", encoding="ascii", newline="") as f:
        f.write(text)
    return len(text)


def read_document(path):
    """Parses a document back into float32 layer arrays (weights (Out, In))
    and the reference vectors (float64), keyed by member name."""
    with open(path, encoding="ascii") as f:
        raw = json.load(f)
    conv = raw["subnet.proj_conv.bias"]
    kernel_length = len(conv)
    layers = {}
    for name, shape in layer_shapes(kernel_length):
        layers[name] = np.array(raw[name], dtype=np.float64).astype(np.float32).reshape(shape)
    refs = {name: np.array(raw[name], dtype=np.float64) for name, _ in reference_shapes(kernel_length)}
    return layers, refs, kernel_length


def check_document(path):
    """Re-reads a document and checks format, counts and reference vectors."""
    with open(path, "rb") as f:
        data = f.read()
    assert b"\n" not in data and b"\r" not in data, "document must be one line"
    layers, refs, n = read_document(path)
    assert render_document(layers, n).encode("ascii") == data, "not in canonical form"
    fresh = reference_vectors(layers, n)
    worst = max(float(np.max(np.abs(np.float32(fresh[k]) - refs[k]))) for k in refs)
    return n, number_count(n), worst


if __name__ == "__main__":
    for p in sys.argv[1:]:
        n, count, worst = check_document(p)
        print("%s: N=%d, %d numbers, reference vectors reproduce within %.3g" % (p, n, count, worst))
