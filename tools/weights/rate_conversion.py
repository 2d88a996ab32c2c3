"""float64 reference of the processor's conversion between the host rate and the
model rate, for measuring the tone end to end at host rates.

The same design as the plug-in's ResamplingKernel and BandLimitedResampler: a
Kaiser-windowed sinc (the window less its edge value), pass band to 20 kHz (or
the same share of a lower rate's band), stop band from the lower Nyquist
frequency going down or from the first image going up, 110 dB; output k of a
conversion in the ratio in_step : out_step lies (k * in_step - extra) / out_step
input samples after the first, less the half width, with its weights scaled to sum
to one. The ratio is the exact one of the two rates (147 : 320 from 44.1 to 96 kHz),
and the up-conversion's extra delay makes the chain's delay a whole number of host
samples, as the processor does. Here every weight is computed exactly.
"""

import math

import numpy as np

AUDIO_BAND_EDGE = 20000.0
ATTENUATION_DB = 110.0


def model_rate(host_rate):
    return 96000.0 if host_rate <= 48000.0 else 192000.0


def wet_latency(host_rate):
    """The dry path's delay in model samples, which the model's response shares."""
    return 580 if host_rate <= 48000.0 else 513


def ratio(host_rate):
    """Host samples and model samples of one cycle of the exact ratio, in lowest terms."""
    host, model = int(round(host_rate)), int(model_rate(host_rate))
    divisor = math.gcd(host, model)
    return host // divisor, model // divisor


def short_of_whole(model_samples, host_step, model_step):
    """How far model_samples fall short of whole host samples, in 1 / model_step of one."""
    remainder = (model_samples * host_step) % model_step
    return 0 if remainder == 0 else model_step - remainder


class Kernel:
    """The low-pass for a conversion from input_rate to output_rate."""

    def __init__(self, input_rate, output_rate, extra_half=0):
        nyquist = 0.5 * min(input_rate, output_rate)
        passband = min(AUDIO_BAND_EDGE, nyquist * AUDIO_BAND_EDGE / 22050.0)
        stopband = nyquist if output_rate < input_rate else input_rate - passband
        pass_edge, stop_edge = passband / input_rate, stopband / input_rate
        transition = max(1e-4, stop_edge - pass_edge)
        length = (ATTENUATION_DB - 7.95) / (2.285 * 2.0 * np.pi * transition) + 1.0
        self.half = max(1, int(math.ceil(0.5 * length))) + extra_half
        self.beta = 0.1102 * (ATTENUATION_DB - 8.7)
        self.cutoff = 0.5 * (pass_edge + stop_edge)

    def prototype(self, u):
        x = np.asarray(u) / self.half
        inside = np.abs(x) < 1.0
        root = np.sqrt(np.clip(1.0 - x * x, 0.0, None))
        window = np.where(inside, (np.i0(self.beta * root) - 1.0) / (np.i0(self.beta) - 1.0), 0.0)
        return 2.0 * self.cutoff * np.sinc(2.0 * self.cutoff * np.asarray(u)) * window


def convert(x, kernel, in_step, out_step, count, extra=0):
    """The first `count` outputs of converting x in the ratio in_step : out_step,
    each extra / out_step of an input sample later."""
    if in_step == out_step:
        return np.asarray(x[:count], dtype=np.float64)
    taps = 2 * kernel.half
    k = np.arange(count, dtype=np.int64)
    whole = (k * in_step - extra) // out_step
    fraction = ((k * in_step - extra) % out_step) / out_step
    q = np.arange(taps)
    weights = kernel.prototype(fraction[:, None] + kernel.half - 1 - q[None, :])
    weights /= weights.sum(axis=1, keepdims=True)
    index = whole[:, None] - (taps - 1) + q[None, :]
    padded = np.concatenate([np.zeros(taps), np.asarray(x, dtype=np.float64), np.zeros(taps)])
    return (weights * padded[np.clip(index + taps, 0, len(padded) - 1)]).sum(axis=1)


def host_rate_response(model_path, host_rate, length, amplitude=1e-5):
    """Impulse response at the host rate of up-conversion, model_path (a function
    of one model-rate row) and down-conversion, per unit of input."""
    fs = model_rate(host_rate)
    host_step, model_step = ratio(host_rate)
    up_kernel = Kernel(host_rate, fs)

    # The down-conversion's half width grows by one model sample where that alone
    # makes the chain's delay whole; otherwise the up-conversion makes up the rest.
    shortest = Kernel(fs, host_rate).half
    one_more = (short_of_whole(wet_latency(host_rate) + shortest, host_step, model_step) != 0
                and short_of_whole(wet_latency(host_rate) + shortest + 1, host_step, model_step) == 0)
    down_kernel = Kernel(fs, host_rate, 1 if one_more else 0)
    extra = short_of_whole(wet_latency(host_rate) + down_kernel.half, host_step, model_step)

    x = np.zeros(length)
    x[0] = amplitude
    model_length = -(-length * model_step // host_step)
    up = convert(x, up_kernel, host_step, model_step, model_length, extra)
    down = convert(model_path(up), down_kernel, model_step, host_step, length)
    return down / amplitude
