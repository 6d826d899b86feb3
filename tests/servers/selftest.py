#!/usr/bin/python3
"""Checks from the outside that the test servers behave as servers.py promises, with curl.

  selftest.py [--probe https_probe_win.exe --wine-run scripts/wine-run]

Reads the facts from $HV_TEST_SERVERS/servers.json. With --probe it also fetches a file from nginx
with WinHTTP under Wine, which only succeeds when the Wine prefix trusts the development CA, and
checks that the same program refuses the untrusted and wrong-host certificates.
"""

import argparse
import dataclasses
import hashlib
import json
import os
import subprocess
import sys
import tempfile
from pathlib import Path


def pattern(n, seed=0):
    return bytes((i + seed) % 251 for i in range(n))


@dataclasses.dataclass
class Case:
    name: str
    url: str
    args: tuple = ()
    exit: int = 0                 # curl's exit code: 18 partial, 28 timeout, 35 TLS, 56 reset, 60 cert
    status: int | None = None
    body: bytes | None = None
    headers: dict = dataclasses.field(default_factory=dict)   # lower-case name -> exact value
    absent: tuple = ()            # lower-case header names that must not appear
    contains: tuple = ()          # byte strings the body must contain
    min_seconds: float = 0.0


@dataclasses.dataclass
class Reply:
    exit: int
    status: int
    headers: dict
    body: bytes
    seconds: float
    stderr: str


def curl(ca_file, url, args=(), timeout=10) -> Reply:
    with tempfile.TemporaryDirectory() as tmp:
        head, body = Path(tmp, "head"), Path(tmp, "body")
        run = subprocess.run(
            ["curl", "-sS", "--cacert", ca_file, "--max-time", str(timeout), "-D", str(head),
             "-o", str(body), "-w", "%{http_code} %{time_total}", *args, url],
            capture_output=True, text=True)
        status, seconds = run.stdout.split()
        headers = {}
        for line in head.read_text(errors="replace").splitlines()[1:] if head.exists() else []:
            name, sep, value = line.partition(":")
            if sep:
                headers[name.strip().lower()] = value.strip()
        data = body.read_bytes() if body.exists() else b""
        return Reply(run.returncode, int(status), headers, data, float(seconds), run.stderr.strip())


def check(case: Case, reply: Reply) -> list[str]:
    faults = []
    if reply.exit != case.exit:
        faults.append(f"curl exit {reply.exit} (want {case.exit}) {reply.stderr}")
    if case.status is not None and reply.status != case.status:
        faults.append(f"status {reply.status} (want {case.status})")
    if case.body is not None and reply.body != case.body:
        faults.append(f"body of {len(reply.body)} bytes differs from the {len(case.body)} expected")
    for name, value in case.headers.items():
        if reply.headers.get(name) != value:
            faults.append(f"header {name}: {reply.headers.get(name)!r} (want {value!r})")
    faults += [f"unexpected header {name}" for name in case.absent if name in reply.headers]
    faults += [f"body lacks {text!r}" for text in case.contains if text not in reply.body]
    if reply.seconds < case.min_seconds:
        faults.append(f"took {reply.seconds:.2f} s (want >= {case.min_seconds} s)")
    return faults


def write(path: Path, data: bytes):
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_bytes(data)


def nginx_cases(facts, site) -> list[Case]:
    sites = Path(facts["HV_SITES_DIR"])
    origin = facts["HV_NGINX_ORIGIN"]
    launcher = sites / site / "downloads" / "launcher"
    manifest = "versão 1\r\nlinha 2\n".encode()
    signature = bytes(range(64))
    # Every byte value, and a gzip header at the front: must come back untouched.
    blob = b"\x1f\x8b\x08\x00" + bytes(range(256)) * 300
    digest = hashlib.sha256(blob).hexdigest()
    news = b"<?php echo 'not run'; ?>\nnot\xc3\xadcias\n"
    write(launcher / "manifest.txt", manifest)
    write(launcher / "manifest.sig", signature)
    write(launcher / "files" / digest, blob)
    write(sites / site / "launcher_news.php", news)
    write(launcher / "other.txt", b"not a served path\n")
    write(launcher / "files" / digest.upper(), blob)
    (launcher / "files" / ("0" * 64)).mkdir(exist_ok=True)
    root_digest = hashlib.sha256(site.encode()).hexdigest()
    write(sites / "root" / "downloads" / "launcher" / "files" / root_digest, site.encode())

    raw = ("-H", "Accept-Encoding: gzip, deflate, br")
    exact = {"absent": ("etag", "content-encoding", "location", "transfer-encoding")}
    text = "text/plain; charset=utf-8"
    base = f"{origin}/{site}"
    cases = [
        Case("nginx manifest.txt", f"{base}/downloads/launcher/manifest.txt", raw, status=200,
             body=manifest, headers={"content-type": text,
                                     "content-length": str(len(manifest))}, **exact),
        Case("nginx manifest.sig", f"{base}/downloads/launcher/manifest.sig", raw, status=200,
             body=signature, headers={"content-length": "64"}, **exact),
        Case("nginx files/<sha256>", f"{base}/downloads/launcher/files/{digest}", raw, status=200,
             body=blob, headers={"content-length": str(len(blob))}, **exact),
        Case("nginx launcher_news.php is static text", f"{base}/launcher_news.php", raw,
             status=200, body=news, headers={"content-type": text}, **exact),
        Case("nginx query string ignored", f"{base}/downloads/launcher/manifest.txt?v=2",
             status=200, body=manifest),
        Case("nginx unprefixed paths use sites/root",
             f"{origin}/downloads/launcher/files/{root_digest}", status=200, body=site.encode()),
        Case("nginx TLS 1.2 offered", f"{base}/downloads/launcher/manifest.sig",
             ("--tlsv1.2", "--tls-max", "1.2"), status=200, body=signature),
        Case("nginx TLS 1.3 offered", f"{base}/downloads/launcher/manifest.sig", ("--tlsv1.3",),
             status=200, body=signature),
        Case("nginx TLS 1.1 refused", f"{base}/downloads/launcher/manifest.sig",
             ("--tlsv1.0", "--tls-max", "1.1", "--ciphers", "DEFAULT@SECLEVEL=0"), exit=35),
    ]
    not_found = [
        "/downloads/launcher/",
        "/downloads/launcher",
        "/downloads/launcher/files/",
        "/downloads/launcher/files",
        "/downloads/launcher/files/NOTHEX",
        f"/downloads/launcher/files/{digest[:63]}",
        f"/downloads/launcher/files/{digest.upper()}",
        f"/downloads/launcher/files/{'0' * 64}",
        "/downloads/launcher/other.txt",
        "/downloads/launcher/manifest.txt/",
        "/launcher_news.php/",
        "/",
        "",
    ]
    cases += [Case(f"nginx 404 {site}{path or ' (no slash)'}", f"{base}{path}", status=404,
                   absent=("location",)) for path in not_found]
    cases += [Case(f"nginx 404 {path}", f"{origin}{path}", ("--path-as-is",), status=404,
                   absent=("location",)) for path in [
        "/", f"/a/{site}/downloads/launcher/manifest.txt", "/downloads/", "/nginx.conf",
        "/sites/root/launcher_news.php"]]
    # nginx rejects a path that climbs above the root before any location sees it.
    cases += [Case(f"nginx 400 {path}", f"{origin}{path}", ("--path-as-is",), status=400)
              for path in ["/../servers.env", f"/{site}/../../servers.env"]]
    return cases


def fault_cases(facts) -> list[Case]:
    bodies = Path(facts["HV_FAULT_BODIES_DIR"])
    feed = "título\r\n\x00tail".encode()
    write(bodies / "feed.txt", feed)
    write(bodies / "blob", bytes(range(256)))
    f = facts["HV_FAULT_ORIGIN"]
    cases = []
    for code in (200, 206, 404, 500, 503):
        cases.append(Case(f"fault status {code}", f"{f}/status/{code}", status=code,
                          body=f"status {code}\n".encode()))
    for code in (204, 304):
        cases.append(Case(f"fault status {code} has no body", f"{f}/status/{code}", status=code,
                          body=b""))
    for code in (301, 302):
        cases.append(Case(f"fault status {code} is not followed", f"{f}/status/{code}",
                          status=code, body=f"status {code}\n".encode(),
                          headers={"location": f"{f}/status/200"}))
    # 70 000 bytes cross the server's internal block size, where a pattern slip would show.
    cases += [
        Case("fault bytes", f"{f}/bytes/70000", status=200, body=pattern(70000),
             headers={"content-length": "70000", "connection": "close"}),
        Case("fault bytes with seed", f"{f}/bytes/70000/seed/7", status=200,
             body=pattern(70000, 7)),
        Case("fault bytes zero", f"{f}/bytes/0", status=200, body=b""),
        Case("fault short body", f"{f}/short/1000/400", exit=18, status=200, body=pattern(400),
             headers={"content-length": "1000"}),
        Case("fault long body", f"{f}/long/100/300", status=200, body=pattern(300),
             absent=("content-length",)),
        Case("fault unsized body", f"{f}/unsized/500", status=200, body=pattern(500),
             absent=("content-length",)),
        Case("fault dropped connection", f"{f}/drop/100000/3000", exit=56, status=200,
             body=pattern(3000), headers={"content-length": "100000"}),
        Case("fault trickle", f"{f}/trickle/300/100/200", status=200, body=pattern(300),
             min_seconds=0.35),
        Case("fault body file", f"{f}/body/feed.txt", status=200, body=feed,
             headers={"content-type": "text/plain; charset=utf-8"}),
        Case("fault binary body file", f"{f}/body/blob", status=200, body=bytes(range(256)),
             headers={"content-type": "application/octet-stream"}),
        Case("fault body missing", f"{f}/body/none", status=404),
        Case("fault body outside its folder", f"{f}/body/..%2Fservers.env", status=404),
        Case("fault echo-request", f"{f}/echo-request?a=1%2F2&b=%20c",
             ("-H", "User-Agent: halvoryn-selftest/1", "-H", "Cache-Control: no-cache"),
             status=200, contains=(b"GET /echo-request?a=1%2F2&b=%20c HTTP/1.1\r\n",
                                   b"\r\nUser-Agent: halvoryn-selftest/1\r\n",
                                   b"\r\nCache-Control: no-cache\r\n")),
        Case("fault TLS 1.2 offered", f"{f}/status/200", ("--tlsv1.2", "--tls-max", "1.2"),
             status=200),
    ]
    for path in ("/", "/nothing", "/status/abc", "/status/99", "/status/100", "/bytes/", "/bytes/5/seed",
                 "/short/10/10", "/long/10/10", "/echo-requests", "/body/"):
        cases.append(Case(f"fault 404 {path}", f"{f}{path}", status=404))

    old = facts["HV_FAULT_OLD_TLS_ORIGIN"]
    old_tls = ("--tlsv1.0", "--tls-max", "1.1", "--ciphers", "DEFAULT@SECLEVEL=0")
    untrusted = facts["HV_FAULT_UNTRUSTED_ORIGIN"]
    wrong_host = facts["HV_FAULT_WRONG_HOST_ORIGIN"]
    wrong_port = wrong_host.rsplit(":", 1)[1]
    cases += [
        Case("old TLS refused by a TLS 1.2 client", f"{old}/", ("--tlsv1.2",), exit=35),
        Case("old TLS speaks TLS 1.0-1.1", f"{old}/anything", old_tls, status=200,
             body=b"old tls\n"),
        Case("untrusted certificate refused", f"{untrusted}/status/200", exit=60),
        Case("untrusted port answers without verification", f"{untrusted}/status/200", ("-k",),
             status=200),
        Case("wrong-host certificate refused", f"{wrong_host}/status/200", exit=60),
        Case("wrong-host certificate is valid for other.example",
             f"https://other.example:{wrong_port}/status/200",
             ("--resolve", f"other.example:{wrong_port}:127.0.0.1"), status=200),
        Case("silent port never answers", f"{facts['HV_SILENT_ORIGIN']}/",
             ("--max-time", "1"), exit=28, min_seconds=0.9),
    ]
    return cases


def access_log_has(facts, text):
    return any(text in line for line in
               Path(facts["HV_NGINX_ACCESS_LOG"]).read_text(errors="replace").splitlines())


def probe_cases(facts, site, probe, wine_run) -> list[str]:
    """Runs the WinHTTP probe; returns the faults found."""
    path = f"/{site}/downloads/launcher/manifest.sig"
    faults = []
    for name, url, ok in [
        ("winhttp trusts the development CA", facts["HV_NGINX_ORIGIN"] + path, True),
        ("winhttp refuses the untrusted certificate",
         facts["HV_FAULT_UNTRUSTED_ORIGIN"] + "/status/200", False),
        ("winhttp refuses the wrong-host certificate",
         facts["HV_FAULT_WRONG_HOST_ORIGIN"] + "/status/200", False),
    ]:
        run = subprocess.run([wine_run, probe, url], capture_output=True, text=True, timeout=60)
        output = (run.stdout + run.stderr).strip()
        good = run.returncode == 0 and output == "status 200 length 64" if ok else run.returncode != 0
        if not good:
            faults.append(f"{name}: exit {run.returncode}, {output!r}")
        print(f"{'ok  ' if good else 'FAIL'} {name}: {output}")
    protocols = [line.split()[1] for line in
                 Path(facts["HV_NGINX_ACCESS_LOG"]).read_text(errors="replace").splitlines()
                 if f" GET {path} HTTP/1.1 200 " in line and "halvoryn-https-probe" in line]
    if not protocols:
        faults.append("the probe's request is missing from nginx's access log")
    else:
        print(f"info winhttp under Wine negotiated {protocols[-1]}")
    return faults


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n", 1)[0])
    parser.add_argument("--probe", help="https_probe_win.exe to run under Wine")
    parser.add_argument("--wine-run", help="scripts/wine-run")
    args = parser.parse_args()
    facts = json.loads((Path(os.environ["HV_TEST_SERVERS"]) / "servers.json").read_text())
    site = f"selftest-{os.getpid()}"

    failed = 0
    for case in nginx_cases(facts, site) + fault_cases(facts):
        faults = check(case, curl(facts["HV_CA_FILE"], case.url, case.args))
        failed += bool(faults)
        print(f"{'FAIL' if faults else 'ok  '} {case.name}" + "".join(f"\n     {f}" for f in faults))
    line = f" GET /{site}/downloads/launcher/manifest.txt HTTP/1.1 200 "
    if not access_log_has(facts, "TLSv1.3" + line) or not access_log_has(facts, "TLSv1.2 GET"):
        print("FAIL nginx's access log lacks the protocol, request, status and size")
        failed += 1
    if args.probe:
        faults = probe_cases(facts, site, args.probe, args.wine_run)
        failed += len(faults)
    print(f"{'all passed' if not failed else f'{failed} failed'}")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
