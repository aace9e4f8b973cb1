#!/usr/bin/env python3
"""Fails when a source folder includes a folder above it.

Every folder of the program is a layer and may include only itself and the layers listed
under it below; tests, tools and fuzzers sit on top and may include anything. Includes are
written from the repository root, so the first path components name the layer. An include
that names no file of the tree (a system or generated header) is not checked.
"""
import os
import re
import sys

# Each layer and the layers it may include. Keep in step with the picture in the README
# and the libraries in src/CMakeLists.txt.
LAYERS = {
    "platform": [],
    "ui": ["platform"],
    "ui/x11": ["ui", "platform"],
    "src/telemetry": ["platform"],
    "src/system": ["src/telemetry", "platform"],
    "src/language": ["src/system", "src/telemetry", "ui", "platform"],
    "src/engine": ["src/telemetry", "platform"],
    "src/config": ["src/telemetry", "platform"],
    "src/verify": ["src/engine", "src/config", "src/telemetry", "platform"],
    "src/dialogs": ["src/language", "src/system", "src/telemetry", "ui/x11", "ui", "platform"],
    "src/wizard": ["src/dialogs", "src/verify", "src/config", "src/engine", "src/language",
                   "src/system", "src/telemetry", "ui/x11", "ui", "platform"],
}
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"')


def layer_of(path):
    """The deepest layer whose folder holds `path`, or None."""
    folder = os.path.dirname(path)
    while folder:
        if folder in LAYERS:
            return folder
        folder = os.path.dirname(folder)
    return None


def check_acyclic():
    state = {}

    def visit(layer, trail):
        if state.get(layer) == "done":
            return None
        if state.get(layer) == "open":
            return trail + [layer]
        state[layer] = "open"
        for below in LAYERS[layer]:
            if below not in LAYERS:
                return [layer, below + " (no such layer)"]
            cycle = visit(below, trail + [layer])
            if cycle:
                return cycle
        state[layer] = "done"
        return None

    for layer in LAYERS:
        cycle = visit(layer, [])
        if cycle:
            return " -> ".join(cycle)
    return None


def main():
    root = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else
                           os.path.join(os.path.dirname(__file__), ".."))
    cycle = check_acyclic()
    if cycle:
        print(f"check_layers: the layer table has a cycle: {cycle}")
        return 1
    faults = []
    checked = 0
    for top in ("platform", "ui", "src"):
        for folder, _, names in os.walk(os.path.join(root, top)):
            for name in sorted(names):
                if not name.endswith((".h", ".cpp")):
                    continue
                path = os.path.relpath(os.path.join(folder, name), root)
                here = layer_of(path)
                if here is None:
                    faults.append(f"{path}: in no layer (add its folder to tools/check_layers.py)")
                    continue
                checked += 1
                with open(os.path.join(root, path), encoding="utf-8", errors="replace") as f:
                    for number, line in enumerate(f, 1):
                        match = INCLUDE.match(line)
                        if not match:
                            continue
                        target = match.group(1)
                        beside = os.path.normpath(os.path.join(os.path.dirname(path), target))
                        if "/" not in target and os.path.exists(os.path.join(root, beside)):
                            continue  # a header in the same folder
                        if not os.path.exists(os.path.join(root, target)):
                            if os.path.exists(os.path.join(root, beside)):
                                faults.append(f"{path}:{number}: \"{target}\" is relative; write it from the repository root")
                            continue  # system or generated header
                        there = layer_of(target)
                        if there is None:
                            faults.append(f"{path}:{number}: includes {target}, which is in no layer")
                        elif there != here and there not in LAYERS[here]:
                            faults.append(f"{path}:{number}: {here} includes {target} from {there}, "
                                          f"which is not below it")
    for fault in faults:
        print(fault)
    if faults:
        print(f"check_layers: {len(faults)} include(s) break the layers")
        return 1
    print(f"check_layers: {checked} files, every include points down")
    return 0


if __name__ == "__main__":
    sys.exit(main())
