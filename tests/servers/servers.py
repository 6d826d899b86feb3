#!/usr/bin/python3
"""Local HTTPS servers for the tests and the demo: nginx serving site folders, and the fault server.

  servers.py start --dir DIR              start both in the background, wait until they answer,
                                          write DIR/servers.env and DIR/servers.json
  servers.py stop --dir DIR               stop them (harmless when nothing runs)
  servers.py serve --site SITE --dir DIR [--port 8443]
                                          nginx alone, serving SITE at the origin's root, in the
                                          foreground until Ctrl-C (scripts/dev serve); another
                                          free port when PORT is busy; files in DIR/<port>

Everything binds to 127.0.0.1 and lives in DIR: configuration, pid files, logs, nginx's temporary
folders. Clients must connect to the host name "localhost" (the certificates name it; Wine rejects
certificates for IP addresses). The servers offer TLS 1.2, which is all Wine's TLS can do, and 1.3.

nginx serves exactly these paths, byte for byte, and answers 404 to everything else (no redirects,
no listings):

  /<site>/downloads/launcher/manifest.txt      from DIR/sites/<site>/...
  /<site>/downloads/launcher/manifest.sig
  /<site>/downloads/launcher/files/<64 lower-case hex>
  /<site>/launcher_news.php                    a static file, text/plain; charset=utf-8
  the same four without /<site>                from DIR/sites/root/...

<site> is one path component of letters, digits, '-' and '_', so tests running in parallel each
publish into their own DIR/sites/<site>/ and use the origin https://localhost:PORT/<site>.
"""

import argparse
import json
import os
import shlex
import shutil
import signal
import socket
import ssl
import subprocess
import sys
import time
import warnings
from pathlib import Path

HERE = Path(__file__).resolve().parent
TLS_DIR = HERE.parent.parent / "keys" / "dev" / "tls"
CA_PEM = TLS_DIR / "dev-ca-DEVELOPMENT-ONLY.crt"
SERVER_CERT = TLS_DIR / "dev-localhost-DEVELOPMENT-ONLY.crt"
SERVER_KEY = TLS_DIR / "dev-localhost-DEVELOPMENT-ONLY.key"
NGINX = shutil.which("nginx") or "/usr/sbin/nginx"
START_TIMEOUT = 10.0
STOP_TIMEOUT = 5.0
# Marks a folder as made by this script, so "start" never wipes a folder it did not make.
MARKER = ".halvoryn-test-servers"

SITE = r"[A-Za-z0-9_-]+"
TEXT = "text/plain; charset=utf-8"
BINARY = "application/octet-stream"
# (path below the site, content type)
SITE_PATHS = [
    (r"downloads/launcher/manifest\.txt", TEXT),
    (r"downloads/launcher/manifest\.sig", BINARY),
    (r"downloads/launcher/files/[0-9a-f]{64}", BINARY),
    (r"launcher_news\.php", TEXT),
]


class StartError(Exception):
    pass


# -- nginx ---------------------------------------------------------------------------------------

def nginx_conf(run_dir: Path, port: int, root_site: Path, sites: Path | None, daemon: bool) -> str:
    locations = []
    for path, content_type in SITE_PATHS:
        prefixed = [(f"^/{SITE}/{path}$", sites)] if sites else []
        for regex, root in prefixed + [(f"^/{path}$", root_site)]:
            locations.append(f"""
    location ~ "{regex}" {{
      root "{root}";
      default_type "{content_type}";
      try_files $uri =404;
    }}""")
    # As root, nginx would run its worker as "nobody", which cannot read what tests write with
    # owner-only permissions (temporary files renamed into place) or folders under /root.
    user = "user root root;" if os.geteuid() == 0 else ""
    temp = run_dir / "temp"
    return f"""# Made by tests/servers/servers.py; every path lives in {run_dir}.
{user}
daemon {"on" if daemon else "off"};
worker_processes 1;
pid "{run_dir}/nginx.pid";
error_log "{run_dir}/nginx-error.log" info;

events {{
  worker_connections 512;
}}

http {{
  client_body_temp_path "{temp}/client_body";
  proxy_temp_path "{temp}/proxy";
  fastcgi_temp_path "{temp}/fastcgi";
  uwsgi_temp_path "{temp}/uwsgi";
  scgi_temp_path "{temp}/scgi";

  log_format halvoryn '$time_iso8601 $ssl_protocol $request $status $body_bytes_sent '
                      '$ssl_cipher "$http_user_agent"';
  access_log "{run_dir}/nginx-access.log" halvoryn;

  # Content types come only from the locations below; bytes go out exactly as stored.
  types {{ }}
  default_type {BINARY};
  charset off;
  gzip off;
  sendfile on;
  etag off;
  if_modified_since off;
  server_tokens off;
  absolute_redirect off;
  autoindex off;

  server {{
    listen 127.0.0.1:{port} ssl;
    server_name localhost;
    ssl_certificate "{SERVER_CERT}";
    ssl_certificate_key "{SERVER_KEY}";
    ssl_protocols TLSv1.2 TLSv1.3;

    # Exact paths only: anything else, directories included, is 404 and never a redirect.
    location / {{
      return 404;
    }}
{"".join(locations)}
  }}
}}
"""


def start_nginx(run_dir: Path, root_site: Path, sites: Path | None, daemon: bool,
                ports: list[int]) -> tuple[int, subprocess.Popen | None]:
    """Starts nginx on the first of `ports` it can bind, then on free ports; returns the port and,
    in the foreground mode, the process."""
    errors = ""
    for attempt in range(5):
        port = ports[attempt] if attempt < len(ports) else free_port()
        conf = run_dir / "nginx.conf"
        conf.write_text(nginx_conf(run_dir, port, root_site, sites, daemon))
        command = [NGINX, "-c", str(conf), "-p", str(run_dir), "-e", str(run_dir / "nginx-error.log")]
        log = open(run_dir / "nginx-stderr.log", "ab")
        process = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=log, stderr=log,
                                   start_new_session=True)
        log.close()
        if daemon:
            # The first process binds the port, forks the master and exits.
            if process.wait() == 0:
                return port, None
        else:
            # In the foreground nginx only exits early when it fails; bind failures take ~2.5 s
            # because nginx retries five times.
            deadline = time.monotonic() + 4.0
            while process.poll() is None and time.monotonic() < deadline:
                if tls_ready(port):
                    return port, process
                time.sleep(0.05)
            if process.poll() is None:
                return port, process
        errors = (run_dir / "nginx-stderr.log").read_text(errors="replace")
        if "Address already in use" not in errors:
            break
    raise StartError(f"nginx did not start:\n{errors.strip()}")


def free_port() -> int:
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def port_is_free(port: int) -> bool:
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        # nginx binds with SO_REUSEADDR: a port left in TIME_WAIT is free for it too.
        s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        try:
            s.bind(("127.0.0.1", port))
            return True
        except OSError:
            return False


# -- readiness -----------------------------------------------------------------------------------

def client_context(verify: bool, old_tls: bool = False) -> ssl.SSLContext:
    if verify:
        ctx = ssl.create_default_context(cafile=str(CA_PEM))
    else:
        ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
        ctx.check_hostname = False
        ctx.verify_mode = ssl.CERT_NONE
    if old_tls:
        with warnings.catch_warnings():
            warnings.simplefilter("ignore", DeprecationWarning)
            ctx.minimum_version = ssl.TLSVersion.TLSv1
            ctx.maximum_version = ssl.TLSVersion.TLSv1_1
        ctx.set_ciphers("DEFAULT:@SECLEVEL=0")
    return ctx


def tls_ready(port: int, verify: bool = True, old_tls: bool = False, path: str = "/",
              expect: bytes = b"") -> bool:
    """True when a TLS handshake on the port succeeds and a GET of `path` answers with a status
    line starting with `expect` (when given)."""
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=2.0) as raw:
            with client_context(verify, old_tls).wrap_socket(raw, server_hostname="localhost") as s:
                if not expect:
                    return True
                s.sendall(f"GET {path} HTTP/1.1\r\nHost: localhost:{port}\r\n"
                          "Connection: close\r\n\r\n".encode())
                return s.recv(64).startswith(expect)
    except (OSError, ssl.SSLError):
        return False


def tcp_ready(port: int) -> bool:
    try:
        socket.create_connection(("127.0.0.1", port), timeout=2.0).close()
        return True
    except OSError:
        return False


def wait_until(what: str, check, deadline: float, process: subprocess.Popen | None = None,
               log: Path | None = None):
    while not check():
        if process is not None and process.poll() is not None:
            detail = log.read_text(errors="replace").strip() if log and log.exists() else ""
            raise StartError(f"{what} exited with status {process.returncode}\n{detail}")
        if time.monotonic() > deadline:
            raise StartError(f"{what} not ready within {START_TIMEOUT:.0f} s")
        time.sleep(0.02)


# -- processes -----------------------------------------------------------------------------------

def read_pid(path: Path) -> int | None:
    try:
        return int(path.read_text().strip())
    except (OSError, ValueError):
        return None


def running_in(pid: int, run_dir: Path) -> bool:
    """True when pid is a live process started for run_dir (a recycled pid is left alone)."""
    try:
        stat = Path(f"/proc/{pid}/stat").read_text()
        args = Path(f"/proc/{pid}/cmdline").read_bytes().decode(errors="replace").split("\0")
    except OSError:
        return False
    # A killed child whose parent is gone may linger as a zombie until init reaps it.
    if stat.rsplit(")", 1)[1].split()[0] == "Z":
        return False
    # The fault server has "--dir DIR" among its arguments; nginx's master rewrites its command
    # line into one title, "nginx: master process nginx -c DIR/nginx.conf ...".
    return str(run_dir) in args or f" -c {run_dir / 'nginx.conf'} " in " ".join(args) + " "


def stop(run_dir: Path):
    pids = [pid for name in ("nginx.pid", "fault.pid")
            if (pid := read_pid(run_dir / name)) and running_in(pid, run_dir)]
    for pid in pids:
        # nginx: fast shutdown, the master stops its worker first. Fault server: exits at once.
        os.kill(pid, signal.SIGTERM)
    deadline = time.monotonic() + STOP_TIMEOUT
    while any(running_in(pid, run_dir) for pid in pids) and time.monotonic() < deadline:
        time.sleep(0.02)
    for pid in pids:
        if running_in(pid, run_dir):
            # Both lead their own process group (nginx's master and its worker, or the fault
            # server), so the whole group goes.
            os.killpg(pid, signal.SIGKILL)
    for name in ("nginx.pid", "fault.pid"):
        (run_dir / name).unlink(missing_ok=True)


def prepare(run_dir: Path):
    if run_dir.exists():
        if any(run_dir.iterdir()) and not (run_dir / MARKER).exists():
            raise StartError(f"{run_dir} exists and was not made by servers.py; not wiping it")
        stop(run_dir)
        shutil.rmtree(run_dir)
    (run_dir / "temp").mkdir(parents=True)
    (run_dir / MARKER).write_text("made by tests/servers/servers.py; wiped by its next start\n")


def write_atomically(path: Path, text: str):
    tmp = path.with_name(path.name + ".tmp")
    tmp.write_text(text)
    tmp.rename(path)


# -- commands ------------------------------------------------------------------------------------

def cmd_start(run_dir: Path) -> int:
    began = time.monotonic()
    deadline = began + START_TIMEOUT
    prepare(run_dir)
    sites = run_dir / "sites"
    (sites / "root").mkdir(parents=True)
    (run_dir / "fault-bodies").mkdir()
    ca_der = run_dir / "dev-ca-DEVELOPMENT-ONLY.der"
    ca_der.write_bytes(ssl.PEM_cert_to_DER_cert(CA_PEM.read_text()))

    fault_log = run_dir / "fault-stderr.log"
    with open(fault_log, "ab") as log:
        fault = subprocess.Popen(
            [sys.executable, str(HERE / "fault_server.py"), "--dir", str(run_dir),
             "--tls-dir", str(TLS_DIR)],
            stdin=subprocess.DEVNULL, stdout=log, stderr=log, start_new_session=True)
    (run_dir / "fault.pid").write_text(f"{fault.pid}\n")
    try:
        nginx_port, _ = start_nginx(run_dir, sites / "root", sites, daemon=True, ports=[free_port()])
        ports_file = run_dir / "fault-ports.json"
        wait_until("fault server", ports_file.exists, deadline, fault, fault_log)
        fault_ports = json.loads(ports_file.read_text())
        wait_until("nginx", lambda: tls_ready(nginx_port, expect=b"HTTP/1.1 404"), deadline)
        wait_until("nginx pid file", (run_dir / "nginx.pid").exists, deadline)
        checks = [
            ("fault server", lambda: tls_ready(fault_ports["main"], path="/status/200",
                                               expect=b"HTTP/1.1 200")),
            ("fault server (old TLS)", lambda: tls_ready(fault_ports["old_tls"], verify=False,
                                                         old_tls=True, expect=b"HTTP/1.1 200")),
            ("fault server (untrusted)", lambda: tls_ready(fault_ports["untrusted"], verify=False,
                                                           path="/status/200",
                                                           expect=b"HTTP/1.1 200")),
            ("fault server (wrong host)", lambda: tls_ready(fault_ports["wrong_host"],
                                                            verify=False, path="/status/200",
                                                            expect=b"HTTP/1.1 200")),
            ("silent port", lambda: tcp_ready(fault_ports["silent"])),
        ]
        for what, check in checks:
            wait_until(what, check, deadline, fault, fault_log)
    except StartError:
        stop(run_dir)
        raise

    origin = lambda port: f"https://localhost:{port}"
    facts = {
        "HV_SERVERS_DIR": str(run_dir),
        "HV_SITES_DIR": str(sites),
        "HV_NGINX_ORIGIN": origin(nginx_port),
        "HV_NGINX_ACCESS_LOG": str(run_dir / "nginx-access.log"),
        "HV_FAULT_ORIGIN": origin(fault_ports["main"]),
        "HV_FAULT_OLD_TLS_ORIGIN": origin(fault_ports["old_tls"]),
        "HV_FAULT_UNTRUSTED_ORIGIN": origin(fault_ports["untrusted"]),
        "HV_FAULT_WRONG_HOST_ORIGIN": origin(fault_ports["wrong_host"]),
        "HV_FAULT_BODIES_DIR": str(run_dir / "fault-bodies"),
        "HV_FAULT_LOG": str(run_dir / "fault.log"),
        "HV_SILENT_ORIGIN": origin(fault_ports["silent"]),
        "HV_CA_FILE": str(CA_PEM),
        "HV_CA_DER": str(ca_der),
    }
    write_atomically(run_dir / "servers.json", json.dumps(facts, indent=2) + "\n")
    write_atomically(run_dir / "servers.env",
                     "".join(f"{key}={shlex.quote(value)}\n" for key, value in facts.items()))
    print(f"servers ready in {time.monotonic() - began:.2f} s: nginx {facts['HV_NGINX_ORIGIN']}, "
          f"fault {facts['HV_FAULT_ORIGIN']}; facts in {run_dir / 'servers.env'}")
    return 0


def cmd_stop(run_dir: Path) -> int:
    if run_dir.is_dir():
        stop(run_dir)
    return 0


def cmd_serve(site: Path, base_dir: Path, port: int) -> int:
    if not port_is_free(asked := port):
        port = free_port()
        print(f"port {asked} is busy; using {port} instead", file=sys.stderr)
    # One folder per port, so a second serve (on another port) leaves the first one alone.
    run_dir = base_dir / str(port)
    prepare(run_dir)
    nginx = None
    try:
        site.mkdir(parents=True, exist_ok=True)
        port, nginx = start_nginx(run_dir, site, None, daemon=False, ports=[port])
        wait_until("nginx", lambda: tls_ready(port), time.monotonic() + START_TIMEOUT, nginx,
                   run_dir / "nginx-stderr.log")
    except StartError:
        if nginx is not None:
            nginx.terminate()
            nginx.wait()
        raise

    print(f"""Serving {site}
  origin      https://localhost:{port}
  trust CA    {CA_PEM}
  access log  {run_dir / 'nginx-access.log'}
  error log   {run_dir / 'nginx-error.log'}
Paths: /downloads/launcher/manifest.txt, manifest.sig, files/<sha256>, /launcher_news.php
Press Ctrl-C to stop.""", flush=True)
    # nginx runs in its own session, so Ctrl-C reaches only this script, which stops it in order.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    try:
        nginx.wait()
        print(f"nginx exited with status {nginx.returncode}", file=sys.stderr)
        return 1
    except (KeyboardInterrupt, SystemExit):
        nginx.terminate()
        nginx.wait()
        print("\nstopped")
        return 0


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    commands = parser.add_subparsers(dest="command", required=True)
    for name in ("start", "stop"):
        sub = commands.add_parser(name)
        sub.add_argument("--dir", type=Path, required=True)
    serve = commands.add_parser("serve")
    serve.add_argument("--site", type=Path, required=True)
    serve.add_argument("--dir", type=Path, required=True)
    serve.add_argument("--port", type=int, default=8443)
    args = parser.parse_args()
    run_dir = args.dir.resolve()
    try:
        if args.command == "start":
            return cmd_start(run_dir)
        if args.command == "stop":
            return cmd_stop(run_dir)
        return cmd_serve(args.site.resolve(), run_dir, args.port)
    except StartError as e:
        print(f"servers.py {args.command}: {e}", file=sys.stderr)
        return 1


if __name__ == "__main__":
    sys.exit(main())
