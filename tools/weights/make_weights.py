#!/usr/bin/python3
"""Makes the two model weight documents in resources/weights/.

    make_weights.py              the designed tone (see tone_design.py)
    make_weights.py --seeded     placeholder numbers from a fixed-seed
                                 initialisation (uniform +-1/sqrt(In), as the
                                 training framework initialises linear layers)

The designed construction is analytic apart from two least-squares fits:
  * the trunk passes the controls on as k + 1 (positive, so the LeakyReLUs
    leave them alone); the kernel head's last layer turns them into sixteen
    hinge features along chosen directions of the control plane;
  * the kernel projection is the least-squares map from those features to
    equaliser kernels designed at a grid of control points (the presets and
    corners weighted heavily, so they are met almost exactly);
  * the input-weight projection is the least-squares map from the shared
    mid-layer features (control values and one hinge that caps the drive) to
    the cell's input weights; it is exact because the drive is piecewise linear
    in exactly those features.
Deterministic: fixed seeds, no training; on one machine every run writes the
same bytes. About four minutes; needs Debian's python3-numpy and python3-scipy.
tools/weights/measure_tone.py then measures the result and writes
docs/tone-report/.
"""

import argparse
import os
import sys

import numpy as np
from scipy.fft import dct

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import tone_design as td  # noqa: E402
import weight_document as wd  # noqa: E402

ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
OUTPUTS = {
    1024: os.path.join(ROOT, "resources", "weights", "tone_standard_rate_1024.json"),
    2048: os.path.join(ROOT, "resources", "weights", "tone_high_rate_2048.json"),
}
SEED = 20261207
WIDTH = wd.WIDTH

# Kernel design: frequency grid, band of interest, and the weight given to the
# phase error relative to the magnitude error (phase against the dry path is
# the tighter figure, and the wet/dry blend depends on it).
GRID_POINTS = 16384
BAND = (20.0, 20000.0)
PHASE_WEIGHT = 1.25
LOW_FREQUENCY_CORNER = 150.0
ABOVE_BAND_WEIGHT = 0.05

# Kernel head fit: a regular grid plus the named points, which weigh more.
FIT_GRID = 9
NAMED_POINT_WEIGHT = 30.0
# Price of cancellation in the hinge search (dB-equivalent per unit of the
# ratio between the summed magnitudes of the projection's terms and the result).
# Nearly collinear hinges fit a little better but make the projection cancel
# terms hundreds of times larger than the kernel, which the model's float
# arithmetic turns into noise near -90 dB; this keeps the ratio about 20.
CANCELLATION_PRICE = 0.002


# ------------------------------------------------------------------ seeded

def seeded_layers(kernel_length, seed=SEED):
    rng = np.random.default_rng(seed + kernel_length)
    shapes = dict(wd.layer_shapes(kernel_length))
    layers = {}
    for name, shape in wd.layer_shapes(kernel_length):
        fan_in = shapes[name.rsplit(".", 1)[0] + ".weight"][1]
        bound = 1.0 / np.sqrt(fan_in)
        layers[name] = rng.uniform(-bound, bound, size=shape)
    return layers


# ------------------------------------------------------- equaliser kernels

def design_impulse_response(kernel_length, k1, k2):
    """Weighted least-squares FIR of kernel_length taps for the target
    equaliser at (k1, k2), aiming at the complex response (magnitude and the
    dry path's delay). The error is taken relative to the target magnitude,
    its phase part weighted PHASE_WEIGHT times more, and the weight falling
    as sqrt(corner / f) above LOW_FREQUENCY_CORNER so that the shelves and
    bells around 200 Hz are not traded for treble accuracy.
    Solved through the normal equations, whose Toeplitz and Hankel parts are
    cosine sums computed with one DCT each."""
    rate = td.RATES[kernel_length]
    fs, delay, n_taps = rate["fs"], rate["delay"], kernel_length
    m = GRID_POINTS
    f = (np.arange(m) + 0.5) * (fs / 2.0) / m
    magnitude = 10.0 ** (td.target_db(np.minimum(f, BAND[1]), k1, k2) / 20.0)
    weight = np.sqrt(LOW_FREQUENCY_CORNER / np.maximum(f, LOW_FREQUENCY_CORNER))
    weight = np.where(f <= BAND[1], weight, ABOVE_BAND_WEIGHT * np.sqrt(LOW_FREQUENCY_CORNER / BAND[1]))
    a = weight ** 2 / magnitude ** 2
    b = PHASE_WEIGHT ** 2 * a

    def cosine_sums(values, lags):
        # sum_i values_i cos(pi (i + 0.5) lag / m) for lags >= 0
        return dct(values, type=2)[np.abs(lags)] / 2.0

    taps = np.arange(n_taps)
    toeplitz = 0.5 * cosine_sums(a + b, np.arange(n_taps))
    hankel = 0.5 * cosine_sums(a - b, np.arange(2 * n_taps - 1) - 2 * delay)
    normal = toeplitz[np.abs(taps[:, None] - taps[None, :])] + hankel[taps[:, None] + taps[None, :]]
    rhs = cosine_sums(weight ** 2 / magnitude, taps - delay)
    return np.linalg.solve(normal, rhs)


# ----------------------------------------------------------- the trunk

def hinge_directions(seed=SEED, iterations=2500):
    """Sixteen (angle, threshold) pairs for the kernel head's hinge features
    leaky(cos(angle) k1 + sin(angle) k2 - threshold), chosen by a seeded
    random search so that the equaliser's magnitude over the pad (a family of
    exponentials of the controls) is well spanned by them: the error at the
    named points counts fully, that over the grid less, and cancellation in
    the projection has a price (CANCELLATION_PRICE)."""
    rng = np.random.default_rng(seed)
    f = np.geomspace(BAND[0], BAND[1], 240)
    dark = td.section_db(td.DARK, f)
    bright = td.section_db(td.BRIGHT, f)
    g = np.linspace(0.0, 1.0, 21)
    k1, k2 = [v.ravel() for v in np.meshgrid(g, g, indexing="ij")]
    named = np.array([(p[1], p[2]) for p in td.POINTS])
    k1 = np.concatenate([k1, named[:, 0]])
    k2 = np.concatenate([k2, named[:, 1]])
    rows = np.concatenate([np.ones(len(g) ** 2), NAMED_POINT_WEIGHT * np.ones(len(named))])[:, None]
    gains = 10.0 ** ((np.outer(dark, k1) + np.outer(bright, k2)) / 20.0)

    def error(params):
        feats = [wd.leaky(np.cos(t) * k1 + np.sin(t) * k2 - c) for t, c in params]
        phi = np.vstack([np.ones_like(k1)] + feats).T
        coef = np.linalg.lstsq(phi * rows, gains.T * rows, rcond=None)[0]
        rel = np.abs((phi @ coef).T / gains - 1.0) * 8.686
        terms = np.abs(coef[1:].T[:, None, :] * phi[None, :, 1:]).sum(axis=2) + np.abs(coef[0])[:, None]
        cancellation = np.max(terms / gains)
        return (rel[:, -len(named):].max() + 0.3 * rel[:, :-len(named)].max()
                + CANCELLATION_PRICE * cancellation)

    angles = np.array([0, 0, 0, 0.5, 0.5, 0.5, 0.25, 0.25, 0.25, -0.25, -0.25, -0.25, -0.25, -0.25, -0.21, -0.21]) * np.pi
    params = []
    for t in angles:
        corners = np.cos(t) * np.array([0, 1, 0, 1]) + np.sin(t) * np.array([0, 0, 1, 1])
        params.append((t, corners.min() + (corners.max() - corners.min()) * rng.uniform(0.1, 0.9)))
    params = np.array(params)
    best = error(params)
    for _ in range(iterations):
        trial = params.copy()
        i = rng.integers(len(params))
        if rng.random() < 0.5:
            trial[i, 0] += rng.normal(0.0, 0.2)
        else:
            trial[i, 1] += rng.normal(0.0, 0.1)
        e = error(trial)
        if e < best:
            params, best = trial, e
    return params


def passthrough_layer(offset=0.0):
    """16x16 layer that hands channels 0 and 1 on unchanged (plus offset)."""
    w = np.zeros((WIDTH, WIDTH))
    w[0, 0] = w[1, 1] = 1.0
    b = np.zeros(WIDTH)
    b[0] = b[1] = offset
    return w, b


def trunk_layers(hinges):
    layers = {}
    # Controls enter as k + 1: positive over the whole square (and down to -1),
    # so every LeakyReLU on the way passes them unchanged.
    w0 = np.zeros((WIDTH, 2))
    w0[0, 0] = w0[1, 1] = 1.0
    b0 = np.zeros(WIDTH)
    b0[0] = b0[1] = 1.0
    layers["subnet.prelayers.0.weight"], layers["subnet.prelayers.0.bias"] = w0, b0
    layers["subnet.prelayers.2.weight"], layers["subnet.prelayers.2.bias"] = passthrough_layer()
    layers["subnet.midlayers_conv.0.weight"], layers["subnet.midlayers_conv.0.bias"] = passthrough_layer()
    w2 = np.zeros((WIDTH, WIDTH))
    b2 = np.zeros(WIDTH)
    for i, (angle, threshold) in enumerate(hinges):
        c, s = np.cos(angle), np.sin(angle)
        w2[i, 0], w2[i, 1] = c, s
        b2[i] = -threshold - c - s
    layers["subnet.midlayers_conv.2.weight"], layers["subnet.midlayers_conv.2.bias"] = w2, b2

    # Cell-weight heads: the controls, plus one hinge where the drive stops
    # rising (it is held at the DARK value beyond that line).
    w = np.zeros((WIDTH, WIDTH))
    b = np.zeros(WIDTH)
    w[0, 0] = w[1, 1] = 1.0
    # drive before its cap, minus the cap, written in the inputs k + 1
    slope1 = td.DRIVE_DARK - td.DRIVE_NEUTRAL
    slope2 = td.DRIVE_BRIGHT - td.DRIVE_NEUTRAL
    w[2, 0], w[2, 1] = slope1, slope2
    b[2] = td.DRIVE_NEUTRAL - td.DRIVE_DARK - slope1 - slope2
    layers["subnet.midlayers_ih.0.weight"], layers["subnet.midlayers_ih.0.bias"] = w, b
    w = np.zeros((WIDTH, WIDTH))
    b = np.zeros(WIDTH)
    w[0, 0] = w[1, 1] = w[2, 2] = 1.0
    b[2] = 1.0  # the hinge is >= -0.2 * 0.4 over the square; keep it positive
    layers["subnet.midlayers_ih.2.weight"], layers["subnet.midlayers_ih.2.bias"] = w, b

    # Never read by the model; distinct numbers so that a mix-up shows.
    w = layers["subnet.midlayers_ih.0.weight"].copy()
    w[3, 0], w[3, 1] = 0.75, -0.5
    layers["subnet.midlayers_hh.0.weight"] = w
    layers["subnet.midlayers_hh.0.bias"] = layers["subnet.midlayers_ih.0.bias"] + np.r_[2.0, 2.0, 0.5, np.zeros(WIDTH - 3)]
    w = layers["subnet.midlayers_ih.2.weight"].copy()
    w[3, 3] = 2.0
    layers["subnet.midlayers_hh.2.weight"] = w
    layers["subnet.midlayers_hh.2.bias"] = layers["subnet.midlayers_ih.2.bias"] + np.r_[3.0, -1.0, 2.0, np.zeros(WIDTH - 3)]
    return layers


def features(layers, prefix, k1, k2):
    """float64 values of a head's last hidden layer for each control pair."""
    out = []
    for a, b in zip(np.ravel(k1), np.ravel(k2)):
        x = np.array([a, b])
        h = wd.leaky(wd.dense(x, layers, "subnet.prelayers.0"))
        h = wd.leaky(wd.dense(h, layers, "subnet.prelayers.2"))
        h = wd.leaky(wd.dense(h, layers, prefix + ".0"))
        out.append(wd.leaky(wd.dense(h, layers, prefix + ".2")))
    return np.array(out)


def as32(layers):
    return {k: np.asarray(v, dtype=np.float64).astype(np.float32).astype(np.float64) for k, v in layers.items()}


def fit_points():
    g = np.linspace(0.0, 1.0, FIT_GRID)
    k1, k2 = [v.ravel() for v in np.meshgrid(g, g, indexing="ij")]
    named = np.array([(p[1], p[2]) for p in td.POINTS])
    weights = np.concatenate([np.ones(len(k1)), NAMED_POINT_WEIGHT * np.ones(len(named))])
    return np.concatenate([k1, named[:, 0]]), np.concatenate([k2, named[:, 1]]), weights


def cell_heads(layers, k1, k2):
    """Input-weight projection (least squares over the shared features, exact
    here) and the recurrent-weight projection."""
    phi = np.hstack([np.ones((len(k1), 1)), features(as32(layers), "subnet.midlayers_ih", k1, k2)])
    target = np.zeros((len(k1), wd.GATES))
    target[:, 16:16 + td.ACTIVE_UNITS] = td.input_weights(k1, k2)
    used = [0, 1, 2, 3]  # constant, k1 + 1, k2 + 1, drive hinge
    coef = np.linalg.lstsq(phi[:, used], target, rcond=None)[0]
    proj_w = np.zeros((wd.GATES, WIDTH))
    proj_b = np.zeros(wd.GATES)
    proj_w[:, :3] = coef[1:].T
    proj_b[:] = coef[0]
    # Exact zeros where the cell must see zeros: a stray 1e-17 would give the
    # idle units an input and break the odd symmetry of the gates.
    proj_w[np.abs(proj_w) < 1e-12] = 0.0
    proj_b[np.abs(proj_b) < 1e-12] = 0.0
    proj_w[:16] = 0.0
    proj_b[:16] = 0.0
    proj_w[16 + td.ACTIVE_UNITS:] = 0.0
    proj_b[16 + td.ACTIVE_UNITS:] = 0.0

    # Recurrent weights: -2 on the candidate diagonal of every unit (with the
    # reset gate at 1/2 this cancels each unit's memory at small signals);
    # nothing into any gate from an active unit otherwise. The last unit never
    # leaves zero (no input weight, nothing feeds its candidate), so its row
    # may vary with the controls without effect on the sound: it is what
    # makes the recurrent head depend on which mid-layers it runs through.
    hh_w = np.zeros((td.HIDDEN * wd.GATES, WIDTH))
    hh_b = np.zeros(td.HIDDEN * wd.GATES)
    for unit in range(td.HIDDEN):
        hh_b[unit * wd.GATES + 16 + unit] = -2.0
    idle = td.HIDDEN - 1
    for col in range(16):
        row = idle * wd.GATES + col
        hh_w[row, 0] = 0.25 * (col % 4) - 0.5
        hh_w[row, 1] = 0.5 - 0.125 * (col // 4)
        hh_w[row, 2] = 1.0 if col % 2 else -1.0
        hh_b[row] = 0.0625 * col
    return proj_w, proj_b, hh_w, hh_b


def designed_layers(kernel_length, hinges):
    layers = trunk_layers(hinges)
    k1, k2, weights = fit_points()
    proj_w, proj_b, hh_w, hh_b = cell_heads(layers, k1, k2)
    layers["subnet.proj_ih.weight"], layers["subnet.proj_ih.bias"] = proj_w, proj_b
    layers["subnet.proj_hh.weight"], layers["subnet.proj_hh.bias"] = hh_w, hh_b

    kernels = np.array([design_impulse_response(kernel_length, a, b)[::-1] for a, b in zip(k1, k2)])
    phi = np.hstack([np.ones((len(k1), 1)), features(as32(layers), "subnet.midlayers_conv", k1, k2)])
    coef = np.linalg.lstsq(phi * weights[:, None], kernels * weights[:, None], rcond=None)[0]
    layers["subnet.proj_conv.bias"] = coef[0]
    layers["subnet.proj_conv.weight"] = coef[1:].T
    layers["linear_out.weight"] = td.OUTPUT_WEIGHTS.reshape(1, td.HIDDEN)
    return layers


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--seeded", action="store_true", help="write the fixed-seed placeholder numbers instead")
    args = parser.parse_args()
    hinges = None if args.seeded else hinge_directions()
    for n, path in OUTPUTS.items():
        layers = seeded_layers(n) if args.seeded else designed_layers(n, hinges)
        size = wd.write_document(path, layers, n)
        _, count, worst = wd.check_document(path)
        print("%s: %d bytes, %d numbers, reference check %.3g" % (os.path.relpath(path, ROOT), size, count, worst))


if __name__ == "__main__":
    main()
