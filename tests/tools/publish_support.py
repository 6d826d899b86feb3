"""Helpers for driving halvoryn-publish from the outside, as an operator runs it."""

import dataclasses
import hashlib
import json
import os
import subprocess
from pathlib import Path

# Set by publish_test.py from its command line.
TOOL = None
FIXTURES = None
DEV_KEYS = None

# Anything a sanitizer or the C++ runtime prints when the tool crashes or misbehaves.
CRASH_MARKERS = ("Sanitizer", "runtime error", "terminate called", "Segmentation", "core dumped")


@dataclasses.dataclass
class Result:
    code: int
    out: str
    err: str


def run(*args, cwd=None) -> Result:
    done = subprocess.run([TOOL, *map(str, args)], capture_output=True, cwd=cwd, timeout=120)
    result = Result(done.returncode, done.stdout.decode("utf-8", "replace"),
                    done.stderr.decode("utf-8", "replace"))
    for marker in CRASH_MARKERS:
        assert marker not in result.err, f"{args}: the tool crashed:\n{result.err}"
    return result


def sha256(data: bytes) -> str:
    return hashlib.sha256(data).hexdigest()


def write_tree(root: Path, files: dict):
    """files: relative path ('/' separators) -> bytes."""
    for relative, data in files.items():
        path = root / relative
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(data)


def snapshot(root: Path) -> dict:
    """Every file below root: relative path -> bytes (empty for a missing root)."""
    if root.is_file():
        return {".": root.read_bytes()}
    return {str(p.relative_to(root)): p.read_bytes() for p in sorted(root.rglob("*")) if p.is_file()}


def manifest_lines(site: Path) -> list:
    return (site / "downloads/launcher/manifest.txt").read_text(encoding="utf-8").splitlines()


def manifest_files(site: Path) -> list:
    """(digest, size, path) of every file line, in file order."""
    entries = []
    for line in manifest_lines(site):
        if line.startswith("file "):
            _, digest, size, path = line.split(" ", 3)
            entries.append((digest, int(size), path))
    return entries


def stored_contents(site: Path) -> set:
    return {p.name for p in (site / "downloads/launcher/files").iterdir()}


def server_facts() -> dict:
    """What the "servers" fixture started: HV_SITES_DIR, HV_NGINX_ORIGIN, HV_CA_FILE, ..."""
    return json.loads((Path(os.environ["HV_TEST_SERVERS"]) / "servers.json").read_text())
