#!/usr/bin/python3
"""Validates the plug-in's generated LV2 metadata against the LV2 schemas.

Usage: validate_lv2_metadata.py <sord_validate> <bundle folder> <LV2 folder>

The schemas are the LV2 standard's own bundles in the LV2 folder (Debian's
lv2-dev installs them into /usr/lib/lv2), and only those: other plug-ins'
bundles in the same folder bring vocabularies of their own, which sord_validate
would check too and report on.

sord_validate reports a fixed set of findings about what JUCE 7.0.5's LV2 client
writes for every plug-in (parameters described with port properties, the UI's
extension data, the program-change state property, doap terms on the plug-in).
Those are listed below and tolerated; any other finding, or a file that does not
parse, fails the check.
"""

import pathlib
import subprocess
import sys

# The LV2 standard's bundles: its extensions and the schemas they build on.
LV2_SPECIFICATION_BUNDLES = [
    "atom", "buf-size", "core", "data-access", "dynmanifest", "event", "instance-access", "log",
    "midi", "morph", "options", "parameters", "patch", "port-groups", "port-props", "presets",
    "resize-port", "schemas", "state", "time", "ui", "units", "uri-map", "urid", "worker",
]

# (message, predicate ending, object ending): findings in the framework's own output.
FRAMEWORK_FINDINGS = [
    ("Subject not in domain <http://usefulinc.com/ns/doap#Project>", "doap#maintainer", ""),
    ("Subject not in domain <http://usefulinc.com/ns/doap#Project>", "doap#release", ""),
    ("Subject not in domain <http://lv2plug.in/ns/lv2core#Port>", "lv2core#portProperty", "lv2core#toggled"),
    ("Subject not in domain <http://lv2plug.in/ns/lv2core#Port>", "lv2core#portProperty", "lv2core#enumeration"),
    ("Object not in range <http://lv2plug.in/ns/lv2core#ExtensionData>", "lv2core#extensionData", "ui#noUserResize"),
    ("Object not in range <http://lv2plug.in/ns/lv2core#Feature>", "lv2core#optionalFeature", "options#interface"),
    ("Use of undefined property", ":Program", ""),
    ("has no label", ":Program", ""),
]


def parse_findings(output):
    """Splits sord_validate's output into (message, [subject, predicate, object]) findings."""
    findings = []
    for line in output.splitlines():
        if line.startswith("error: ") or line.startswith("warning: "):
            findings.append((line.split(": ", 1)[1].strip(), []))
        elif line.strip() and findings and line.startswith(" "):
            findings[-1][1].append(line.strip())
    return findings


def is_framework_finding(message, triple):
    predicate = triple[1] if len(triple) > 1 else ""
    obj = triple[2] if len(triple) > 2 else ""
    for known_message, predicate_end, object_end in FRAMEWORK_FINDINGS:
        if known_message in message and predicate.endswith(predicate_end) and obj.endswith(object_end):
            return True
    # "Property <...:Program> has no label" names the property in the message itself.
    return message.startswith("Property <") and message.endswith(":Program> has no label")


def main():
    validator, bundle, lv2_folder = sys.argv[1], pathlib.Path(sys.argv[2]), pathlib.Path(sys.argv[3])
    bundle_files = sorted(str(p) for p in bundle.glob("*.ttl"))
    schema_bundles = [lv2_folder / f"{name}.lv2" for name in LV2_SPECIFICATION_BUNDLES]

    if not any(f.endswith("manifest.ttl") for f in bundle_files) or not any(f.endswith("dsp.ttl") for f in bundle_files):
        print(f"missing manifest.ttl or dsp.ttl in {bundle}")
        return 1
    missing = [str(b) for b in schema_bundles if not (b / "manifest.ttl").is_file()]
    if missing:
        print("LV2 standard bundles missing (Debian's lv2-dev installs them):", *missing, sep="\n    ")
        return 1
    schema_files = sorted(str(p) for b in schema_bundles for p in b.glob("*.ttl"))

    result = subprocess.run([validator] + schema_files + bundle_files, capture_output=True, text=True)
    output = result.stdout + result.stderr

    if "error reading" in output or "Invalid syntax" in output:
        print(output)
        return 1

    findings = parse_findings(output)
    unexpected = [(m, t) for m, t in findings if not is_framework_finding(m, t)]
    for message, triple in unexpected:
        print("unexpected:", message, *triple, sep="\n    ")

    print(f"{len(findings)} findings, {len(findings) - len(unexpected)} of them the framework's known ones")
    return 1 if unexpected else 0


if __name__ == "__main__":
    sys.exit(main())
