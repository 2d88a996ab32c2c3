"""The designed tone: what the two weight documents aim at, and a float64
reference of the signal path that they drive.

The target at controls (k1, k2):
  * equaliser: linear phase, delay equal to the dry path's delay, magnitude in dB
        k1 * DARK(f) + k2 * BRIGHT(f)
    with analogue shelf/bell prototypes (so the curve is the same at both
    model rates);
  * saturation: a memoryless odd curve S_k applied to each model-rate sample of
    the equalised signal, with unity slope at zero.

The cell realises S_k with units whose candidate recurrence cancels their own
memory at small signals: update gate 1/2 and reset gate 1/2 (zero weights, and
the cell has no biases) and a diagonal of -2 on the candidate's recurrent
weights give  h_t = h_{t-1}/2 + tanh(c*u_t - h_{t-1})/2,  which is exactly
h_t = c*u_t/2 for small signals and whose static curve is
    h = F(s)  with  s = h + atanh(h).
Unit j contributes w_out[j] * F(c_j * v), so with c_j = 2*g_j / w_out[j] its
small-signal gain is g_j. The drive moves small-signal gain from a unit with a
high clip level to one with a low clip level.
"""

import numpy as np

HIDDEN = 8
GATES = 24

# Model variants: kernel length, model rate, delay of the dry path (samples).
RATES = {
    1024: {"fs": 96000.0, "delay": 580, "name": "96 kHz (N = 1024)"},
    2048: {"fs": 192000.0, "delay": 513, "name": "192 kHz (N = 2048)"},
}

POINTS = [
    ("NEUTRAL", 0.0, 0.0),
    ("DARK", 1.0, 0.0),
    ("BRIGHT", 0.0, 1.0),
    ("(1, 1)", 1.0, 1.0),
    ("Default", 0.35, 0.35),
    ("Best Bright", 0.25, 0.5),
    ("Best Dark", 0.5, 0.25),
    ("Brighter", 0.05, 0.85),
    ("Darker", 0.85, 0.05),
]

# ---------------------------------------------------------------- equaliser

DARK = [("highshelf", 2200.0, -9.0, 0.707), ("bell", 220.0, 2.5, 0.7)]
BRIGHT = [("highshelf", 4500.0, 7.0, 0.707), ("bell", 2800.0, 1.5, 1.0),
          ("lowshelf", 180.0, -2.5, 0.707)]


def _analogue_db(kind, f0, gain_db, q, f):
    """Magnitude in dB of the analogue shelf/bell prototypes (s normalised to f0)."""
    a = 10.0 ** (gain_db / 40.0)
    s = 1j * np.asarray(f, dtype=np.float64) / f0
    if kind == "bell":
        h = (s * s + s * (a / q) + 1.0) / (s * s + s / (a * q) + 1.0)
    elif kind == "lowshelf":
        r = np.sqrt(a) / q
        h = a * (s * s + r * s + a) / (a * s * s + r * s + 1.0)
    elif kind == "highshelf":
        r = np.sqrt(a) / q
        h = a * (a * s * s + r * s + 1.0) / (s * s + r * s + a)
    else:
        raise ValueError(kind)
    return 20.0 * np.log10(np.abs(h))


def section_db(sections, f):
    return sum(_analogue_db(kind, f0, g, q, f) for kind, f0, g, q in sections)


def target_db(f, k1, k2):
    return k1 * section_db(DARK, f) + k2 * section_db(BRIGHT, f)


def target_response(f, k1, k2, fs, delay):
    """Complex target response at frequencies f: the equaliser, delayed like
    the dry path."""
    return 10.0 ** (target_db(f, k1, k2) / 20.0) * np.exp(-2j * np.pi * np.asarray(f) * delay / fs)


# --------------------------------------------------------------- saturation

# Output weights of the cell (fixed for the whole pad): unit 0 clips late,
# unit 1 early; the drive is the share of the small-signal gain that unit 1
# takes. Units 2..7 are idle (no input, state always zero, no output weight).
CLIP_LIGHT = 2.5
CLIP_STRONG = 0.6
OUTPUT_WEIGHTS = np.array([CLIP_LIGHT, CLIP_STRONG, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0])
ACTIVE_UNITS = 2

# Drive at the corners. The distortion of the mix, sum of g^3 / clip^2 over the
# units in its cubic term, first falls as gain moves from the late unit to the
# early one and rises only past a share of CLIP_STRONG / (CLIP_LIGHT +
# CLIP_STRONG), about 0.19; NEUTRAL sits just past that minimum, so the
# distortion rises monotonically towards both other corners.
DRIVE_NEUTRAL = 0.3
DRIVE_BRIGHT = 0.5
DRIVE_DARK = 0.7


def drive(k1, k2):
    """Share of the gain in the early-clipping unit: affine over the pad
    through the three corners, held at the DARK value beyond the line where it
    reaches it (the far corner of the square is driven no harder than DARK)."""
    q = (DRIVE_NEUTRAL + (DRIVE_DARK - DRIVE_NEUTRAL) * np.asarray(k1, dtype=np.float64)
         + (DRIVE_BRIGHT - DRIVE_NEUTRAL) * np.asarray(k2, dtype=np.float64))
    return q - np.maximum(q - DRIVE_DARK, 0.0)


def unit_gains(k1, k2):
    """Small-signal gain of each active unit (they sum to one)."""
    d = drive(k1, k2)
    return np.stack([1.0 - d, d], axis=-1)


def input_weights(k1, k2):
    """Candidate input weights c_j of the active units."""
    return 2.0 * unit_gains(k1, k2) / OUTPUT_WEIGHTS[:ACTIVE_UNITS]


def static_unit(s):
    """h = F(s), the solution of s = h + atanh(h) (odd, |h| < 1, F'(0) = 1/2)."""
    s = np.asarray(s, dtype=np.float64)
    a = np.abs(s)
    h = np.tanh(a / 2.0)
    for _ in range(60):
        hc = np.minimum(h, 1.0 - 1e-16)
        g = hc + np.arctanh(hc) - a
        dg = 1.0 + 1.0 / (1.0 - hc * hc)
        h = np.clip(hc - g / dg, 0.0, 1.0 - 1e-16)
    return np.sign(s) * h


def saturation(v, k1, k2):
    """The ideal saturation curve S_k(v) at controls (k1, k2)."""
    c = input_weights(k1, k2)
    return sum(OUTPUT_WEIGHTS[j] * static_unit(c[j] * v) for j in range(ACTIVE_UNITS))


# ---------------------------------------------------------- reference paths

def ideal_equaliser(x, k1, k2, fs, delay):
    """x filtered by the ideal linear-phase equaliser (delay samples late),
    computed in the frequency domain with enough padding that nothing wraps."""
    x = np.asarray(x, dtype=np.float64)
    n = len(x)
    size = 1 << int(np.ceil(np.log2(n + int(fs) + delay)))
    f = np.fft.rfftfreq(size, 1.0 / fs)
    y = np.fft.irfft(np.fft.rfft(x, size) * target_response(f, k1, k2, fs, delay), size)
    return y[:n]


def target_path(x, k1, k2, fs, delay):
    return saturation(ideal_equaliser(x, k1, k2, fs, delay), k1, k2)


def sigmoid(v):
    return 1.0 / (1.0 + np.exp(-v))


def run_cell(u, wih, whh, wout):
    """float64 gated recurrent cell, all rows at once.
    u: (rows, T) cell input; wih: (rows, 24); whh: (rows, 8, 24); wout: (8,).
    Returns (rows, T) outputs."""
    u = np.asarray(u, dtype=np.float64)
    rows, steps = u.shape
    h = np.zeros((rows, HIDDEN))
    out = np.empty((rows, steps))
    for t in range(steps):
        gi = u[:, t, None] * wih
        gh = np.einsum("ri,rij->rj", h, whh)
        r = sigmoid(gi[:, 0:8] + gh[:, 0:8])
        z = sigmoid(gi[:, 8:16] + gh[:, 8:16])
        n = np.tanh(r * gh[:, 16:24] + gi[:, 16:24])
        h = z * h + (1.0 - z) * n
        out[:, t] = h @ wout
    return out


def convolve_kernel(x, conv_kernel):
    """The wet path's convolution: the impulse response is the kernel reversed."""
    ir = np.asarray(conv_kernel, dtype=np.float64)[::-1]
    from scipy.signal import fftconvolve
    return fftconvolve(np.asarray(x, dtype=np.float64), ir)[: len(x)]


def wet_path(x_rows, nets, wout):
    """float64 wet path (kernel reversal, convolution, cell) for one input row
    per network evaluation in nets (dicts from weight_document.hypernetwork)."""
    u = np.stack([convolve_kernel(x, net["conv"]) for x, net in zip(x_rows, nets)])
    wih = np.stack([net["wih"] for net in nets])
    whh = np.stack([net["whh"] for net in nets])
    return run_cell(u, wih, whh, wout)


def small_signal_gain(net, wout):
    """Complex small-signal gain of the cell as a function of normalised
    frequency, linearised at the zero state, and its settling factor (the
    spectral radius of the state Jacobian at silence)."""
    wih = net["wih"]
    whh = net["whh"]
    z = sigmoid(0.0)
    r = sigmoid(0.0)
    jac = z * np.eye(HIDDEN) + (1.0 - z) * r * whh[:, 16:24].T
    b = (1.0 - z) * wih[16:24]
    settle = float(np.max(np.abs(np.linalg.eigvals(jac))))

    def gain(omega):
        omega = np.atleast_1d(omega)
        g = np.empty(len(omega), dtype=np.complex128)
        for i, w in enumerate(omega):
            g[i] = wout @ np.linalg.solve(np.eye(HIDDEN) - jac * np.exp(-1j * w), b)
        return g
    return gain, settle
