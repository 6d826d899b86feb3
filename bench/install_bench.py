#!/usr/bin/python3
"""Installation benchmark: the release halvoryn-update against references measured in the same run.

  bench/install_bench.py [--rounds N] [--files N] [--total-mib N] [--scratch DIR]

A generated client (by default 2 GiB in 5,000 files of about 400 KiB in nested folders,
deterministic bytes that do not compress) is published with halvoryn-publish into a site that
nginx (tests/servers/servers.py) serves at https://localhost. Then, best of N rounds, alternating:

  fresh install    the runner on an empty root, against one curl process downloading the same
                   contents followed by `openssl dgst -sha256` over them; and, for information,
                   the same with a new connection per file, as the launcher's requests are made
  nothing changed  the runner again, against one curl fetch of manifest.txt plus a loop that stats
                   the same files
  memory           the runner's peak resident set size (from wait4)

Downloads go to a memory file system (/dev/shm) for both sides when it has room, otherwise to the
scratch folder; the output says which. The generated client and site stay in the scratch folder
(default build/install-bench) and are reused by later runs with the same parameters.
Needs the release build: cmake --preset release && cmake --build --preset release.
"""

import argparse
import hashlib
import json
import os
import random
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path

REPO = Path(__file__).resolve().parent.parent
RUNNER = REPO / "build/release/tools/update/halvoryn-update"
PUBLISHER = REPO / "build/release/tools/publish/halvoryn-publish"
SERVERS = REPO / "tests/servers/servers.py"
PRIVATE_KEY = REPO / "keys/dev/dev-private-DEVELOPMENT-ONLY.pem"
CA_FILE = REPO / "keys/dev/tls/dev-ca-DEVELOPMENT-ONLY.crt"
SITE_NAME = "install_bench"

FRESH_TARGET = 1.5
UNCHANGED_TARGET = 2.0
MEMORY_TARGET_MIB = 32


def log(text: str):
    print(text, flush=True)


def fail(text: str):
    print(f"install_bench: {text}", file=sys.stderr)
    sys.exit(1)


# -- the client and its site ---------------------------------------------------------------------

def client_layout(files: int, total: int) -> list:
    """(relative path, size) of every file: sizes spread between half and one and a half times
    the mean, adjusted to the exact total; three levels of folders."""
    rng = random.Random(20261211)
    weights = [rng.uniform(0.5, 1.5) for _ in range(files)]
    scale = total / sum(weights)
    sizes = [int(w * scale) for w in weights]
    sizes[-1] += total - sum(sizes)
    return [(f"data/area{i % 8}/zone{i // 8 % 25:02d}/part{i // 200 % 5}/file{i:05d}.bin", size)
            for i, size in enumerate(sizes)]


def content(path: str, size: int) -> bytes:
    return hashlib.shake_256(path.encode()).digest(size)


def prepare_site(scratch: Path, files: int, total: int) -> Path:
    """The published site for these parameters, made once and reused."""
    stamp_text = f"files {files} total {total} layout 1\n"
    site = scratch / "site"
    stamp = scratch / "site.stamp"
    if stamp.is_file() and stamp.read_text() == stamp_text:
        return site
    stamp.unlink(missing_ok=True)
    client = scratch / "client"
    shutil.rmtree(client, ignore_errors=True)
    shutil.rmtree(site, ignore_errors=True)
    log(f"generating a client of {files} files, {total / 2**30:.2f} GiB in {client}")
    for path, size in client_layout(files, total):
        target = client / path
        target.parent.mkdir(parents=True, exist_ok=True)
        target.write_bytes(content(path, size))
    (client / "otclient.exe").write_bytes(b"bench client program\n")
    log("publishing it")
    done = subprocess.run([PUBLISHER, "publish", "--client", client, "--site", site, "--key",
                           PRIVATE_KEY, "--version", "1.0", "--exe", "otclient.exe"],
                          capture_output=True, text=True)
    if done.returncode != 0:
        fail(f"publish failed:\n{done.stderr}")
    shutil.rmtree(client)  # the site holds every content
    stamp.write_text(stamp_text)
    return site


def manifest_entries(site: Path) -> list:
    """(digest, size, path) of every file line of the site's manifest."""
    entries = []
    text = (site / "downloads/launcher/manifest.txt").read_text(encoding="utf-8")
    for line in text.splitlines():
        if line.startswith("file "):
            _, digest, size, path = line.split(" ", 3)
            entries.append((digest, int(size), path.replace("\\", "/")))
    return entries


def start_servers(scratch: Path, site: Path) -> tuple:
    """The servers of $HV_TEST_SERVERS when they run (scripts/dev bench starts them), else servers
    of its own; (their folder, whether this script started them, the site's origin)."""
    shared = os.environ.get("HV_TEST_SERVERS")
    servers = Path(shared) if shared else scratch / "servers"
    if not shared:
        done = subprocess.run([sys.executable, SERVERS, "start", "--dir", servers],
                              capture_output=True, text=True)
        if done.returncode != 0:
            fail(f"the servers did not start:\n{done.stdout}{done.stderr}")
    link = servers / "sites" / SITE_NAME
    link.unlink(missing_ok=True)
    link.symlink_to(site)
    facts = json.loads((servers / "servers.json").read_text())
    return servers, not shared, f"{facts['HV_NGINX_ORIGIN']}/{SITE_NAME}"


def stop_servers(servers: Path, started: bool):
    (servers / "sites" / SITE_NAME).unlink(missing_ok=True)
    if started:
        subprocess.run([sys.executable, SERVERS, "stop", "--dir", servers], capture_output=True)


# -- the measured runs ---------------------------------------------------------------------------

def timed(command: list, **options) -> tuple:
    """Runs command; (seconds, peak resident bytes, exit status, stdout, stderr)."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        began = time.perf_counter()
        process = subprocess.Popen(command, stdout=out, stderr=err, stdin=subprocess.DEVNULL,
                                   **options)
        _, status, usage = os.wait4(process.pid, 0)
        seconds = time.perf_counter() - began
        process.returncode = os.waitstatus_to_exitcode(status)
        out.seek(0)
        err.seek(0)
        return (seconds, usage.ru_maxrss * 1024, process.returncode,
                out.read().decode(errors="replace"), err.read().decode(errors="replace"))


def run_runner(root: Path, origin: str) -> tuple:
    seconds, peak, code, out, err = timed([RUNNER, "--root", root, "--origin", origin,
                                           "--ca-file", CA_FILE, "--lang", "en"])
    lines = out.split("\n")
    last = next((line for line in reversed(lines) if line.strip()), "")
    if code != 0 or last != "Ready to play":
        fail(f"the runner failed (exit {code}, {last!r}):\n{err}")
    return seconds, peak


def reference_install(target: Path, origin: str, entries: list, reuse: bool = True) -> float:
    """One curl process downloading every content, then openssl hashing them all. Without reuse,
    each download has a connection of its own ("Connection: close"; curl still resumes the TLS
    session), as the launcher's requests have."""
    target.mkdir(parents=True)
    config = target.parent / "curl.config"
    lines = [f'cacert = "{CA_FILE}"', "fail", "silent", "show-error"]
    if not reuse:
        lines.append('header = "Connection: close"')
    for digest, _, _ in entries:
        lines += [f'url = "{origin}/downloads/launcher/files/{digest}"',
                  f'output = "{target / digest}"']
    config.write_text("\n".join(lines) + "\n")
    digests = sorted({digest for digest, _, _ in entries})
    began = time.perf_counter()
    done = subprocess.run(["curl", "--config", config], capture_output=True, text=True)
    if done.returncode != 0:
        fail(f"curl failed: {done.stderr}")
    hashed = {}
    for start in range(0, len(digests), 1000):
        chunk = [str(target / digest) for digest in digests[start:start + 1000]]
        done = subprocess.run(["openssl", "dgst", "-sha256", *chunk], capture_output=True,
                              text=True)
        if done.returncode != 0:
            fail(f"openssl failed: {done.stderr}")
        for line in done.stdout.splitlines():
            name, _, value = line.rpartition("= ")
            hashed[Path(name[name.index("(") + 1:-1]).name] = value
    seconds = time.perf_counter() - began
    config.unlink()
    wrong = [digest for digest in digests if hashed.get(digest) != digest]
    if wrong:
        fail(f"the reference downloaded {len(wrong)} contents wrongly, e.g. {wrong[0]}")
    return seconds


def reference_unchanged(client: Path, origin: str, entries: list) -> float:
    """One curl fetch of manifest.txt and a stat of every installed file."""
    paths = [client / path for _, _, path in entries]
    began = time.perf_counter()
    done = subprocess.run(["curl", "--cacert", CA_FILE, "--fail", "--silent", "--show-error",
                           "--output", "/dev/null", f"{origin}/downloads/launcher/manifest.txt"],
                          capture_output=True, text=True)
    for path in paths:
        os.stat(path)
    seconds = time.perf_counter() - began
    if done.returncode != 0:
        fail(f"curl failed: {done.stderr}")
    return seconds


def downloads_folder(scratch: Path, total: int) -> tuple:
    """Where both sides write: /dev/shm when it can hold the runner's peak (staging and client,
    twice the client) with room to spare, otherwise the scratch folder."""
    shm = Path("/dev/shm")
    if shm.is_dir() and shutil.disk_usage(shm).free > 2 * total + 2**30:
        return Path(tempfile.mkdtemp(prefix="hv-install-bench-", dir=shm)), \
            "/dev/shm, a memory file system"
    folder = scratch / "downloads"
    shutil.rmtree(folder, ignore_errors=True)
    folder.mkdir()
    return folder, f"{folder} (on disk: /dev/shm has no room)"


def warm_up(site: Path):
    """Reads every stored content once, so that nginx serves every round from the page cache."""
    for path in (site / "downloads/launcher/files").iterdir():
        with open(path, "rb") as stream:
            while stream.read(1 << 20):
                pass


def ratio_line(what: str, measured: float, reference: float, target: float) -> str:
    ratio = measured / reference
    verdict = "" if ratio <= target else "  MISSED"
    return f"ratio {what} = {ratio:.2f} (target <= {target:.2f}){verdict}"


def spread(times: list, digits: int = 2) -> str:
    return ", ".join(f"{t:.{digits}f}" for t in times)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--files", type=int, default=5000)
    parser.add_argument("--total-mib", type=int, default=2048)
    parser.add_argument("--scratch", type=Path, default=REPO / "build/install-bench")
    options = parser.parse_args()
    for program in (RUNNER, PUBLISHER):
        if not program.is_file():
            fail(f"{program} is missing: cmake --preset release && cmake --build --preset release")
    for tool in ("curl", "openssl"):
        if not shutil.which(tool):
            fail(f"{tool} is not installed (scripts/dev setup)")
    total = options.total_mib * 2**20
    scratch = options.scratch.resolve()
    scratch.mkdir(parents=True, exist_ok=True)

    site = prepare_site(scratch, options.files, total)
    entries = manifest_entries(site)
    servers, started, origin = start_servers(scratch, site)
    downloads, where = downloads_folder(scratch, total)
    try:
        warm_up(site)
        log(f"install bench: {len(entries)} files, {total / 2**30:.2f} GiB; downloads written to "
            f"{where}, for the runner and the references alike; best of {options.rounds} "
            f"alternating rounds")
        fresh, fresh_ref, fresh_own, unchanged, unchanged_ref, peaks = [], [], [], [], [], []
        root, reference = downloads / "root", downloads / "reference"
        for _ in range(options.rounds):
            shutil.rmtree(root, ignore_errors=True)
            seconds, peak = run_runner(root, origin)
            fresh.append(seconds)
            peaks.append(peak)
            seconds, peak = run_runner(root, origin)
            unchanged.append(seconds)
            peaks.append(peak)
            unchanged_ref.append(reference_unchanged(root / "client", origin, entries))
            shutil.rmtree(root)
            shutil.rmtree(reference, ignore_errors=True)
            fresh_ref.append(reference_install(reference, origin, entries))
            shutil.rmtree(reference)
            fresh_own.append(reference_install(reference, origin, entries, reuse=False))
            shutil.rmtree(reference)

        log(f"fresh install: runner {min(fresh):.2f} s (runs {spread(fresh)}), curl + openssl "
            f"{min(fresh_ref):.2f} s (runs {spread(fresh_ref)})")
        log(ratio_line("fresh install / curl+openssl", min(fresh), min(fresh_ref),
                       FRESH_TARGET))
        log(f"  for information: curl with a connection per file, as the launcher makes its "
            f"requests, + openssl {min(fresh_own):.2f} s (runs {spread(fresh_own)}); ratio "
            f"fresh install / that = {min(fresh) / min(fresh_own):.2f}")
        log(f"nothing changed: runner {min(unchanged):.3f} s (runs {spread(unchanged, 3)}), "
            f"curl manifest + stat loop {min(unchanged_ref):.3f} s "
            f"(runs {spread(unchanged_ref, 3)})")
        log(ratio_line("nothing changed / curl+stat", min(unchanged), min(unchanged_ref),
                       UNCHANGED_TARGET))
        peak_mib = max(peaks) / 2**20
        verdict = "" if peak_mib <= MEMORY_TARGET_MIB else "  MISSED"
        log(f"runner peak resident memory = {peak_mib:.1f} MiB (target <= {MEMORY_TARGET_MIB} "
            f"MiB){verdict}")
    finally:
        stop_servers(servers, started)
        if downloads.parent == Path("/dev/shm"):
            shutil.rmtree(downloads, ignore_errors=True)


if __name__ == "__main__":
    main()
