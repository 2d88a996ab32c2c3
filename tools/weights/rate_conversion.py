"""float64 reference of the processor's conversion between the host rate and the
model rate, for measuring the tone end to end at host rates.

The same design as the plug-in's ResamplingKernel and BandLimitedResampler: a
Kaiser-windowed sinc (the window less its edge value), pass band to 20 kHz (or
the same share of a lower rate's band), stop band from the lower Nyquist
frequency going down or from the first image going up, 110 dB; output k of a
conversion in the ratio in_step : out_step lies k * in_step / out_step input
samples after the first, less the half width, with its weights scaled to sum to
one. Here every weight is computed exactly.
"""

import math

import numpy as np

AUDIO_BAND_EDGE = 20000.0
ATTENUATION_DB = 110.0


def model_rate(host_rate):
    return 96000.0 if host_rate <= 48000.0 else 192000.0


def model_block(host_rate, block):
    """Model samples per host block: the block at the model rate, rounded up."""
    return int(math.ceil(block * model_rate(host_rate) / host_rate))


class Kernel:
    """The low-pass for a conversion from input_rate to output_rate."""

    def __init__(self, input_rate, output_rate):
        nyquist = 0.5 * min(input_rate, output_rate)
        passband = min(AUDIO_BAND_EDGE, nyquist * AUDIO_BAND_EDGE / 22050.0)
        stopband = nyquist if output_rate < input_rate else input_rate - passband
        pass_edge, stop_edge = passband / input_rate, stopband / input_rate
        transition = max(1e-4, stop_edge - pass_edge)
        length = (ATTENUATION_DB - 7.95) / (2.285 * 2.0 * np.pi * transition) + 1.0
        self.half = max(1, int(math.ceil(0.5 * length)))
        self.beta = 0.1102 * (ATTENUATION_DB - 8.7)
        self.cutoff = 0.5 * (pass_edge + stop_edge)

    def prototype(self, u):
        x = np.asarray(u) / self.half
        inside = np.abs(x) < 1.0
        root = np.sqrt(np.clip(1.0 - x * x, 0.0, None))
        window = np.where(inside, (np.i0(self.beta * root) - 1.0) / (np.i0(self.beta) - 1.0), 0.0)
        return 2.0 * self.cutoff * np.sinc(2.0 * self.cutoff * np.asarray(u)) * window


def convert(x, kernel, in_step, out_step, count):
    """The first `count` outputs of converting x in the ratio in_step : out_step."""
    if in_step == out_step:
        return np.asarray(x[:count], dtype=np.float64)
    taps = 2 * kernel.half
    k = np.arange(count, dtype=np.int64)
    whole = (k * in_step) // out_step
    fraction = ((k * in_step) % out_step) / out_step
    q = np.arange(taps)
    weights = kernel.prototype(fraction[:, None] + kernel.half - 1 - q[None, :])
    weights /= weights.sum(axis=1, keepdims=True)
    index = whole[:, None] - (taps - 1) + q[None, :]
    padded = np.concatenate([np.zeros(taps), np.asarray(x, dtype=np.float64), np.zeros(taps)])
    return (weights * padded[np.clip(index + taps, 0, len(padded) - 1)]).sum(axis=1)


def host_rate_response(model_path, host_rate, length, block=512, amplitude=1e-5):
    """Impulse response at the host rate of up-conversion, model_path (a function
    of one model-rate row) and down-conversion, per unit of input."""
    n_model = model_block(host_rate, block)
    effective_rate = host_rate * n_model / block
    x = np.zeros(length)
    x[0] = amplitude
    model_length = int(math.ceil(length * n_model / block))
    up = convert(x, Kernel(host_rate, effective_rate), block, n_model, model_length)
    down = convert(model_path(up), Kernel(effective_rate, host_rate), n_model, block, length)
    return down / amplitude
