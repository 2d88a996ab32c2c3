#!/usr/bin/python3
"""Makes the two model weight documents in resources/weights/.

    make_weights.py --seeded     placeholder numbers from a fixed-seed
                                 initialisation (uniform +-1/sqrt(In), as the
                                 training framework initialises linear layers)
"""

import argparse
import os
import sys

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import weight_document as wd  # noqa: E402

ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
OUTPUTS = {
    1024: os.path.join(ROOT, "resources", "weights", "tone_standard_rate_1024.json"),
    2048: os.path.join(ROOT, "resources", "weights", "tone_high_rate_2048.json"),
}
SEED = 20261207


def seeded_layers(kernel_length, seed=SEED):
    rng = np.random.default_rng(seed + kernel_length)
    layers = {}
    for name, shape in wd.layer_shapes(kernel_length):
        # Fan-in of the layer this member belongs to: columns of its weight.
        fan_in = dict(wd.layer_shapes(kernel_length))[name.rsplit(".", 1)[0] + ".weight"][1]
        bound = 1.0 / np.sqrt(fan_in)
        layers[name] = rng.uniform(-bound, bound, size=shape)
    return layers


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--seeded", action="store_true", help="write the fixed-seed placeholder numbers")
    args = parser.parse_args()
    if not args.seeded:
        parser.error("choose --seeded")
    for n, path in OUTPUTS.items():
        size = wd.write_document(path, seeded_layers(n), n)
        n_read, count, worst = wd.check_document(path)
        print("%s: %d bytes, %d numbers, reference check %.3g" % (os.path.relpath(path, ROOT), size, count, worst))


if __name__ == "__main__":
    main()
