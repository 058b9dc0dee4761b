#!/usr/bin/env bash
# Runs clang's thread-safety analysis over the Qt layers (receiver, audio, the programs), which only the
# g++ build compiles: each source is parsed by clang++ with the flags the build gave it, and a member
# used without the lock its GUARDED_BY names fails the check. The server's own files are checked by
# every clang build already.
#
#   scripts/check-thread-safety.sh [BUILD_FOLDER]      (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
python3 - "$build/compile_commands.json" <<'PYTHON'
import json, shlex, subprocess, sys
from concurrent.futures import ThreadPoolExecutor
from os import cpu_count

layers = ("/src/receiver/", "/src/audio/", "/src/app/")
entries = [e for e in json.load(open(sys.argv[1])) if any(layer in e["file"] for layer in layers)]

def check(entry):
    words = shlex.split(entry["command"])
    flags = [w for w in words[1:] if not w.startswith(("-o", "-c")) and w != entry["file"] and not w.endswith(".o")]
    command = ["clang++", *flags, "-fsyntax-only", "-Wno-unknown-warning-option", "-Wthread-safety",
               "-Werror=thread-safety", entry["file"]]
    result = subprocess.run(command, cwd=entry["directory"], capture_output=True, text=True)
    return entry["file"], result.returncode, result.stderr

failed = 0
with ThreadPoolExecutor(cpu_count()) as pool:
    for file, code, errors in pool.map(check, entries):
        if code != 0:
            failed += 1
            print(f"{file}:\n{errors}", file=sys.stderr)
print(f"thread-safety analysis: {len(entries) - failed} of {len(entries)} files clean")
sys.exit(1 if failed else 0)
PYTHON
