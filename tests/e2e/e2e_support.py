"""Helpers for the end-to-end tests: the runner on one platform, the publisher, trees of files,
installed manifests, the fake game client.

Everything runs for real: halvoryn-update (natively, or the Windows program under Wine through
scripts/wine-run), sites made by halvoryn-publish and served by the test nginx, files in
temporary folders.
"""

import dataclasses
import hashlib
import json
import os
import shutil
import signal
import subprocess
import sys
import time
from pathlib import Path

# Anything a sanitizer or the C++ runtime prints when a program crashes or misbehaves.
CRASH_MARKERS = ("Sanitizer", "runtime error", "terminate called", "Segmentation fault",
                 "core dumped", "wine: Unhandled")
RUN_TIMEOUT = 120  # seconds; a run that takes longer hangs

# The runner's last status lines (its English texts), and the exit status each one implies: 0 for
# the runs that end ready to play, 1 for the others.
READY = "Ready to play"
RESTORED = "Previous version restored. Automatic update postponed."
OFFLINE_LINE = "Offline: using the installed version"
NOT_COMPLETED = "Update not completed: using the installed version"
NO_CLIENT = "No connection and no valid client installed."
INVALID = "Invalid update manifest. Nothing was changed."
DROPPED = "The connection dropped during the download."
ALTERED = "Downloaded file does not match (altered). Nothing was installed."
CLOSE_GAME = "Close the game to finish the update."
NOT_REPLACED = "Could not replace the files. The previous version was kept."
NOT_RESTORED = "Could not restore the previous version."
FINAL_LINES = {**dict.fromkeys((READY, RESTORED, OFFLINE_LINE, NOT_COMPLETED), 0),
               **dict.fromkeys((NO_CLIENT, INVALID, DROPPED, ALTERED, CLOSE_GAME, NOT_REPLACED,
                                NOT_RESTORED), 1)}

@dataclasses.dataclass
class Platform:
    name: str            # "native" or "windows"
    runner: Path
    publisher: Path
    fake_client: Path
    wine_run: Path | None
    private_key: Path
    public_key: Path

    @property
    def wine(self) -> bool:
        return self.name == "windows"

    @property
    def killed_code(self) -> int:
        """The exit status of a run that a fault point killed."""
        return 137 if self.wine else -signal.SIGKILL


PLATFORM: Platform | None = None  # set by update_e2e_test.py from its command line


# -- the servers ---------------------------------------------------------------------------------

def server_facts() -> dict:
    """What the "servers" fixture started: HV_SITES_DIR, HV_NGINX_ORIGIN, HV_CA_FILE, ..."""
    return json.loads((Path(os.environ["HV_TEST_SERVERS"]) / "servers.json").read_text())


def content_requests(facts: dict, site: str) -> int:
    """How many content downloads of the site nginx has logged so far."""
    log = Path(facts["HV_NGINX_ACCESS_LOG"])
    needle = f"GET /{site}/downloads/launcher/files/"
    return log.read_text(errors="replace").count(needle) if log.exists() else 0


# -- the runner ----------------------------------------------------------------------------------

@dataclasses.dataclass
class Run:
    args: list
    code: int | None
    lines: list  # the status lines, in order
    err: str

    @property
    def last(self) -> str:
        return self.lines[-1] if self.lines else ""

    def describe(self) -> str:
        return (f"halvoryn-update {' '.join(map(str, self.args))}\n  exit {self.code}\n  lines "
                f"{self.lines}\n  stderr {self.err.strip()!r}")


def run_runner(args: list, fault_point: str | None = None, ca_file: str | None = None,
               prefix: tuple = ()) -> Run:
    """One run of halvoryn-update with the English status texts. A run that does not end within
    RUN_TIMEOUT is killed and comes back with code None."""
    platform = PLATFORM
    args = [str(a) for a in args] + ["--lang", "en", "--public-key", str(platform.public_key)]
    env = dict(os.environ)
    env.pop("HV_FAULT_POINT", None)
    if fault_point:
        env["HV_FAULT_POINT"] = fault_point
    if platform.wine:
        command = [str(platform.wine_run), str(platform.runner), *args]
    else:
        if ca_file:
            args += ["--ca-file", ca_file]
        command = [*prefix, str(platform.runner), *args]
    process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env,
                               stdin=subprocess.DEVNULL)
    try:
        out, err = process.communicate(timeout=RUN_TIMEOUT)
    except subprocess.TimeoutExpired:
        # Asked to end first, so that scripts/wine-run stops the program and hands over what it
        # printed: a hang then shows how far the run got.
        process.terminate()
        try:
            out, err = process.communicate(timeout=15)
        except subprocess.TimeoutExpired:
            process.kill()
            out, err = process.communicate()
        text = out.decode("utf-8", "replace")
        return Run(args, None, [l for l in text.splitlines() if l.strip()],
                   f"no exit within {RUN_TIMEOUT} s: stopped\n" + err.decode("utf-8", "replace"))
    return Run(args, process.returncode,
               [l for l in out.decode("utf-8", "replace").splitlines() if l.strip()],
               err.decode("utf-8", "replace"))


def crash_report(run: Run) -> str:
    """The first crash marker found in the run's error output, or ""."""
    return next((marker for marker in CRASH_MARKERS if marker in run.err), "")


# -- the publisher -------------------------------------------------------------------------------

def publish(client: Path, site: Path, version: str, min_version: str | None = None,
            exe: str = "otclient.exe"):
    platform = PLATFORM
    command = [str(platform.publisher), "publish", "--client", str(client), "--site", str(site),
               "--key", str(platform.private_key), "--version", version, "--exe", exe]
    if min_version:
        command += ["--min-version", min_version]
    done = subprocess.run(command, capture_output=True, text=True, timeout=RUN_TIMEOUT)
    if done.returncode != 0:
        raise RuntimeError(f"publish {version} failed:\n{done.stderr}")


# -- files ---------------------------------------------------------------------------------------

def blob(tag: str, size: int) -> bytes:
    """Deterministic bytes that look random."""
    return hashlib.shake_256(tag.encode()).digest(size)


def sha256(data: bytes) -> str:
    return hashlib.sha256(data).hexdigest()


def write_tree(root: Path, files: dict):
    """files: relative path ('/' separators) -> bytes."""
    for relative, data in files.items():
        path = root / relative
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(data)


def files_of(root: Path) -> dict:
    """Every file below root: relative path ('/' separators) -> bytes; {} when root is absent."""
    if not root.is_dir():
        return {}
    return {p.relative_to(root).as_posix(): p.read_bytes()
            for p in sorted(root.rglob("*")) if p.is_file() and not p.is_symlink()}


def tree_of(root: Path, skip: Path | None = None) -> dict:
    """Files and folders below root: path -> bytes, or None for a folder; skip and everything
    below it left out."""
    result = {}
    if not root.is_dir():
        return result
    for path in sorted(root.rglob("*")):
        if skip is not None and (path == skip or skip in path.parents):
            continue
        result[path.relative_to(root).as_posix()] = None if path.is_dir() else path.read_bytes()
    return result


def tree_difference(actual: dict, expected: dict) -> str:
    """A short account of how two trees differ, or "" when they are equal."""
    missing = sorted(set(expected) - set(actual))
    extra = sorted(set(actual) - set(expected))
    changed = sorted(p for p in set(actual) & set(expected) if actual[p] != expected[p])
    parts = [f"{label}: {paths}" for label, paths in
             (("missing", missing), ("unexpected", extra), ("different", changed)) if paths]
    return "; ".join(parts)


# -- manifests -----------------------------------------------------------------------------------

@dataclasses.dataclass
class Entry:
    digest: str
    size: int
    path: str  # '/' separators


def manifest_entries(text: str) -> list:
    entries = []
    for line in text.splitlines():
        if line.startswith("file "):
            _, digest, size, path = line.split(" ", 3)
            entries.append(Entry(digest, int(size), path.replace("\\", "/")))
    return entries


def manifest_value(text: str, key: str) -> str:
    for line in text.splitlines():
        if line.startswith(key + " "):
            return line[len(key) + 1:]
    return ""


def mismatches_against_manifest(root: Path) -> list:
    """The files of root/client that differ from root/state/manifest.txt (missing, another size
    or another SHA-256); ["no manifest"] when there is none."""
    manifest = root / "state" / "manifest.txt"
    if not manifest.is_file():
        return ["no manifest"]
    wrong = []
    for entry in manifest_entries(manifest.read_text(encoding="utf-8")):
        path = root / "client" / entry.path
        if not path.is_file():
            wrong.append(f"{entry.path}: missing")
            continue
        data = path.read_bytes()
        if len(data) != entry.size or sha256(data) != entry.digest:
            wrong.append(f"{entry.path}: {len(data)} bytes, {sha256(data)[:12]}")
    return wrong


def pin_version(root: Path) -> str | None:
    """pin_version of state/launcher.ini's [launcher] section; None when the key is absent."""
    ini = root / "state" / "launcher.ini"
    if not ini.is_file():
        return None
    section = ""
    for line in ini.read_text(encoding="utf-8").splitlines():
        line = line.strip()
        if line.startswith("["):
            section = line
        elif section == "[launcher]" and line.startswith("pin_version="):
            return line[len("pin_version="):]
    return None


# -- the fake game client ------------------------------------------------------------------------

class RunningClient:
    """The fake client started from root/client/otclient.exe, as the player starts the game."""

    def __init__(self, program: Path, seconds: int = 120):
        platform = PLATFORM
        self.program = program
        if platform.wine:
            self.launcher = subprocess.Popen([str(platform.wine_run), str(program), str(seconds)],
                                             stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                             stderr=subprocess.DEVNULL)
            self.pid = self._wait_for_wine_process()
        else:
            program.chmod(0o755)
            self.launcher = subprocess.Popen([str(program), str(seconds)],
                                             stdin=subprocess.DEVNULL)
            self.pid = self.launcher.pid

    def _wait_for_wine_process(self) -> int:
        """The Wine process below scripts/wine-run, once it has mapped the program."""
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline:
            for pid in children_of(self.launcher.pid):
                try:
                    if self.program.name in Path(f"/proc/{pid}/maps").read_text(errors="replace"):
                        return pid
                except OSError:
                    pass
            if self.launcher.poll() is not None:
                break
            time.sleep(0.05)
        self.launcher.kill()
        self.launcher.wait()
        raise RuntimeError(f"the fake client {self.program} did not start under Wine")

    def stop(self):
        if self.launcher.returncode is not None:
            return
        if self.pid != self.launcher.pid:
            try:  # the Wine process; scripts/wine-run then ends by itself
                os.kill(self.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        else:
            self.launcher.kill()
        try:
            self.launcher.wait(timeout=30)
        except subprocess.TimeoutExpired:
            self.launcher.kill()
            self.launcher.wait()


def children_of(parent: int) -> list:
    children = []
    for stat in Path("/proc").glob("[0-9]*/stat"):
        try:
            fields = stat.read_text().rsplit(")", 1)[1].split()
        except OSError:
            continue
        if int(fields[1]) == parent:
            children.append(int(stat.parent.name))
    return children


def copy_root(source: Path, target: Path):
    """A copy of a whole root folder, times kept (the file cache stays valid)."""
    if target.exists():
        shutil.rmtree(target)
    shutil.copytree(source, target, copy_function=shutil.copy2)
