#!/usr/bin/python3
"""halvoryn-publish, driven as an operator runs it; every check reads what the launcher would.

  publish_test.py --tool BINARY --fixtures tests/fixtures --dev-keys keys/dev [unittest args]

ReleaseCycleTest needs the "servers" fixture ($HV_TEST_SERVERS); the other suites run alone.
"""

import argparse
import calendar
import fcntl
import os
import pty
import shutil
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
import publish_support as tool  # noqa: E402
from publish_support import manifest_files, manifest_lines, run, sha256, snapshot, write_tree

CLIENT_V1 = {
    "bin/game.exe": b"game version 1",
    "data/maps/world.map": b"shared map bytes",
    "data/copy/world.map": b"shared map bytes",  # the same content twice
    "data/ção/ñame.txt": "não-ASCII".encode(),
    "data/old.dat": b"only 1.0 has this",
    # Orders that differ between UTF-16 code units, UTF-8 bytes and '/'-separated paths.
    "order/a-b": b"1",
    "order/a_b": b"2",
    "order/a/x": b"3",
    "order/aA": b"6",
    "order/\U0001F600": b"4",
    "order/\uFF5E": b"5",
}
CLIENT_V2 = {**{k: v for k, v in CLIENT_V1.items() if k != "data/old.dat"},
             "bin/game.exe": b"game version 2",
             "data/new.dat": b"new in 2.0"}


class Workspace(unittest.TestCase):
    """A temporary folder with a fresh key pair and helpers for one client and one site."""

    def setUp(self):
        self.tmp = Path(tempfile.mkdtemp(prefix="hv-publish-test-"))
        self.addCleanup(shutil.rmtree, self.tmp, ignore_errors=True)
        self.keys = self.tmp / "keys"
        keygen = run("keygen", "--out", self.keys)
        self.assertEqual(keygen.code, 0, keygen.err)
        self.site = self.tmp / "site"

    def client(self, files, name="client") -> Path:
        root = self.tmp / name
        shutil.rmtree(root, ignore_errors=True)
        root.mkdir()
        write_tree(root, files)
        return root

    def publish(self, client, version, *extra, site=None, exe="bin/game.exe"):
        return run("publish", "--client", client, "--site", site or self.site, "--key",
                   self.keys / "private.pem", "--version", version, "--exe", exe, *extra)

    def verify_site(self):
        return run("verify", "--site", self.site, "--public-key", self.keys / "public.hex")

    def assertOk(self, result):
        self.assertEqual(result.code, 0, result.err)
        return result

    def assertRefused(self, result, fragment, code=1):
        self.assertEqual(result.code, code, f"stdout: {result.out}\nstderr: {result.err}")
        self.assertIn(fragment, result.err)


class ReleaseCycleTest(Workspace):
    """Two releases into a site nginx serves, checked locally and through HTTPS, then pruned."""

    def setUp(self):
        super().setUp()
        facts = tool.server_facts()
        name = f"publish_cycle_{os.getpid()}"
        self.site = Path(facts["HV_SITES_DIR"]) / name
        self.addCleanup(shutil.rmtree, self.site, ignore_errors=True)
        self.origin = f"{facts['HV_NGINX_ORIGIN']}/{name}"
        self.ca_file = facts["HV_CA_FILE"]

    def verify_both(self, version):
        self.assertIn(f"ok: version {version} ", self.assertOk(self.verify_site()).out)
        served = run("verify", "--origin", self.origin, "--public-key", self.keys / "public.hex",
                     "--ca-file", self.ca_file)
        self.assertIn(f"ok: version {version} ", self.assertOk(served).out)

    def assertListsClient(self, files):
        listed = manifest_files(self.site)
        expected = sorted(files, key=lambda p: p.replace("/", "\\").encode("utf-16-be"))
        self.assertEqual([path for _, _, path in listed], [p.replace("/", "\\") for p in expected])
        for digest, size, path in listed:
            data = files[path.replace("\\", "/")]
            self.assertEqual((digest, size), (sha256(data), len(data)), path)
        stored = tool.stored_contents(self.site)
        self.assertTrue({sha256(d) for d in files.values()} <= stored)

    def test_publish_two_releases_then_prune(self):
        published = self.assertOk(self.publish(self.client(CLIENT_V1), "1.0",
                                               "--notes-en", "first\nrelease"))
        self.assertIn("published 1.0: 11 files", published.out)
        self.assertIn("10 new contents stored", published.out)  # the duplicate stored once
        self.assertListsClient(CLIENT_V1)
        self.assertIn("exe bin\\game.exe", manifest_lines(self.site))
        self.assertIn("notes_en first\\nrelease", manifest_lines(self.site))
        self.verify_both("1.0")

        # A stored content that no longer matches its name is replaced, not trusted.
        shared = self.site / "downloads/launcher/files" / sha256(b"shared map bytes")
        shared.write_bytes(b"damaged")
        published = self.assertOk(self.publish(self.client(CLIENT_V2), "2.0",
                                               "--min-version", "1.5"))
        self.assertIn("published 2.0: 11 files", published.out)
        self.assertIn("3 new contents stored", published.out)
        self.assertListsClient(CLIENT_V2)
        self.assertIn("min_version 1.5", manifest_lines(self.site))
        self.assertEqual(self.assertOk(run("check-manifest", self.site /
                                           "downloads/launcher/manifest.txt")).out, "ok\n")
        self.verify_both("2.0")
        stored_before = tool.stored_contents(self.site)

        pruned = self.assertOk(run("prune", "--site", self.site, "--keep", "1"))
        only_v1 = {sha256(d) for d in CLIENT_V1.values()} - {sha256(d) for d in CLIENT_V2.values()}
        self.assertEqual(stored_before - tool.stored_contents(self.site), only_v1)
        self.assertIn(f"removed {len(only_v1)} contents", pruned.out)
        self.verify_both("2.0")
        self.assertEqual(len(list((self.site / ".halvoryn-publish/published").iterdir())), 1)


class RefusedPublishTest(Workspace):
    """A publish that cannot go through says why and leaves the served release as it was."""

    GOOD = {"bin/game.exe": b"game", "data/a.dat": b"a"}

    def setUp(self):
        super().setUp()
        self.assertOk(self.publish(self.client(self.GOOD), "1.0"))
        self.served = snapshot(self.site)

    def assertRefusedAndIntact(self, result, fragment):
        self.assertRefused(result, fragment)
        self.assertIn("nothing was published", result.err)
        self.assertEqual(snapshot(self.site), self.served)

    def test_names_the_launcher_or_windows_refuses(self):
        cases = [
            ({"CON": b"x"}, "'CON' is a device name"),
            ({"nul.txt": b"x"}, "'nul.txt' is a device name"),
            ({"Com1.dat": b"x"}, "'Com1.dat' is a device name"),
            ({"sub/LPT9/f": b"x"}, "'LPT9' is a device name"),
            ({"a..": b"x"}, "'a..': the launcher refuses this name"),
            ({"trailing. ": b"x"}, "'trailing. ': the launcher refuses this name"),
            ({"x:y": b"x"}, "'x:y': the launcher refuses"),
            ({"what?": b"x"}, "'what?': the launcher refuses"),
            ({"a\\b": b"x"}, "holds a backslash"),
            ({"Readme.txt": b"1", "README.TXT": b"2"}, "differ only in letter case"),
            ({"\u00e9.txt": b"1", "\u00c9.txt": b"2"}, "differ only in letter case"),
            ({"maps": b"1", "Maps/x": b"2"}, "'maps' is a file, and on Windows also the folder"),
            ({"d/" + "n" * 250: b"x"}, "the launcher refuses this name"),
        ]
        for files, fragment in cases:
            with self.subTest(files=list(files)):
                client = self.client({**self.GOOD, **files}, "bad-client")
                self.assertRefusedAndIntact(self.publish(client, "2.0"), fragment)

    def test_links_and_device_files(self):
        client = self.client(self.GOOD, "bad-client")
        (client / "link").symlink_to("/etc/hostname")
        os.mkfifo(client / "pipe")
        result = self.publish(client, "2.0")
        self.assertRefusedAndIntact(result, "link: a symbolic link")
        self.assertIn("pipe: not a regular file", result.err)

    def test_bad_release_fields(self):
        client = self.client(self.GOOD)
        cases = [
            (("",), "it is empty"),
            ((".",), "is '.' or '..'"),
            (("..",), "is '.' or '..'"),
            (("1/2",), "holds '/'"),
            (("1\\2",), "holds '\\'"),
            (("2:0",), "holds ':'"),
            (("2.0?",), "holds '?'"),
            (("2.0\t",), "control character"),
            (("2.0.",), "ends in a dot or a space"),
            (("2.0 ",), "ends in a dot or a space"),
            (("aux",), "device name"),
            (("CON.1",), "device name"),
            (("2.0", "--min-version", "2.1"), "newer than --version"),
            (("2.0", "--min-version", ""), "--min-version is empty"),
            (("2.0", "--launcher-min", "1\n2"), "--launcher-min holds a line break"),
            (("2.0", "--notes-en", "a literal \\n here"), "backslash followed by 'n'"),
            (("2.0", "--notes-pt", "dos\r\nline"), "holds a CR"),
            (("2.0", "--privacy-url", "http://example.org/p"), "https://"),
        ]
        for args, fragment in cases:
            with self.subTest(args=args):
                self.assertRefusedAndIntact(self.publish(client, *args), fragment)

    def test_bad_key_exe_and_site(self):
        client = self.client(self.GOOD)
        self.assertRefusedAndIntact(self.publish(client, "2.0", exe="bin/other.exe"),
                                    "--exe bin/other.exe is not one of the files")
        for key, fragment in [(self.tmp / "missing.pem", "cannot read the key file"),
                              (self.keys / "public.pem", "not an unencrypted private key"),
                              (self.keys / "public.hex", "not an unencrypted private key")]:
            with self.subTest(key=key.name):
                result = run("publish", "--client", client, "--site", self.site, "--key", key,
                             "--version", "2.0", "--exe", "bin/game.exe")
                self.assertRefusedAndIntact(result, fragment)

        inner_key = client / "private.pem"
        shutil.copy(self.keys / "private.pem", inner_key)
        result = run("publish", "--client", client, "--site", self.site, "--key", inner_key,
                     "--version", "2.0", "--exe", "bin/game.exe")
        self.assertRefusedAndIntact(result, "--key lies inside the client folder")
        inner_key.unlink()
        self.assertRefused(self.publish(client, "2.0", site=client / "site"),
                           "--site lies inside the client folder")
        self.assertFalse((client / "site").exists())

        plain = self.tmp / "plain-file"
        plain.write_bytes(b"not a folder")
        self.assertRefused(self.publish(client, "2.0", site=plain), "cannot write to")
        self.assertEqual(plain.read_bytes(), b"not a folder")

    def test_site_in_use(self):
        with open(self.site / ".halvoryn-publish/lock", "w") as lock:
            fcntl.flock(lock, fcntl.LOCK_EX)
            self.assertRefusedAndIntact(self.publish(self.client(self.GOOD), "2.0"),
                                        "another publish or prune is running")
            self.assertRefused(run("prune", "--site", self.site, "--keep", "1"),
                               "another publish or prune is running")
            self.assertEqual(snapshot(self.site), self.served)

    @unittest.skipIf(os.geteuid() == 0, "permission bits do not stop root")
    def test_read_only_site(self):
        launcher = self.site / "downloads/launcher"
        launcher.chmod(0o555)
        self.addCleanup(launcher.chmod, 0o755)
        self.assertRefusedAndIntact(self.publish(self.client(self.GOOD), "2.0"), "cannot write")


class CommandLineTest(Workspace):
    """Bad input to every command ends with a message and status 1 or 2, never a crash."""

    def test_bad_arguments(self):
        hexkey = self.keys / "public.hex"
        manifest = tool.FIXTURES / "signatures/manifest.txt"
        missing = self.tmp / "missing"
        cases = [
            ((), 2, "usage:"),
            (("frobnicate",), 2, "unknown command"),
            (("keygen",), 2, "missing option --out"),
            (("keygen", "--out"), 2, "needs a value"),
            (("keygen", "--out", self.keys), 1, "exists already"),
            (("publish", "--site", self.site), 2, "missing option"),
            (("publish", "--bogus", "1"), 2, "unknown option --bogus"),
            (("news", "--site", self.site, "--origin", "http://x", "--items", manifest), 2,
             "--origin must be an https:// address"),
            (("news", "--site", self.site, "--origin", "https://x", "--items", missing), 1,
             "cannot read the items file"),
            (("verify", "--public-key", hexkey), 2, "either --site or --origin"),
            (("verify", "--site", self.site, "--origin", "https://x", "--public-key", hexkey), 2,
             "either --site or --origin"),
            (("verify", "--site", self.site, "--public-key", "abc"), 1, "neither 128 hex"),
            (("verify", "--site", self.site, "--public-key", "g" * 128), 1, "neither 128 hex"),
            (("verify", "--site", self.site, "--public-key", manifest), 1, "holds neither"),
            (("verify", "--site", missing, "--public-key", hexkey), 1, "cannot read"),
            (("verify", "--origin", "https://localhost:1", "--public-key", hexkey, "--ca-file",
              missing), 1, "cannot read the --ca-file"),
            (("prune", "--site", self.site, "--keep", "0"), 2, "--keep must be"),
            (("prune", "--site", self.site, "--keep", "x"), 2, "--keep must be"),
            (("prune", "--site", missing, "--keep", "1"), 1, "no served manifest"),
            (("check-manifest",), 2, "takes 1 argument"),
            (("check-manifest", missing), 1, "cannot read"),
            (("check-manifest", "a", "b"), 2, "takes 1 argument"),
            (("verify-signature", "--public-key", hexkey, manifest), 2, "takes 2 argument"),
            (("verify-signature", "--public-key", hexkey, missing, missing), 1, "cannot read"),
            (("compare-versions", "1"), 2, "takes 2 argument"),
            (("check-news", "--origin", "https://x", missing), 1, "cannot read"),
            (("check-news", manifest), 2, "missing option --origin"),
        ]
        for args, code, fragment in cases:
            with self.subTest(args=[str(a) for a in args]):
                self.assertRefused(run(*args), fragment, code)

    def test_help_of_every_command(self):
        overview = self.assertOk(run("--help")).out
        for command in ["keygen", "publish", "news", "verify", "prune", "check-manifest",
                        "verify-signature", "compare-versions", "check-news"]:
            with self.subTest(command=command):
                self.assertIn(command, overview)
                self.assertIn(f"usage: halvoryn-publish {command}",
                              self.assertOk(run(command, "--help")).out)

    def test_keygen_files(self):
        private = self.keys / "private.pem"
        self.assertEqual(private.stat().st_mode & 0o777, 0o600)
        hex_text = (self.keys / "public.hex").read_text()
        self.assertRegex(hex_text, r"^[0-9a-f]{128}\n$")
        # public.hex and public.pem name the key that private.pem signs with.
        self.assertOk(self.publish(self.client({"bin/game.exe": b"game"}), "1.0"))
        launcher = self.site / "downloads/launcher"
        for key in [hex_text.strip(), self.keys / "public.hex", self.keys / "public.pem"]:
            with self.subTest(key=str(key)[-20:]):
                checked = run("verify-signature", "--public-key", key, launcher / "manifest.txt",
                              launcher / "manifest.sig")
                self.assertEqual((checked.code, checked.out), (0, "valid\n"))
        before = private.read_bytes()
        self.assertRefused(run("keygen", "--out", self.keys), "exists already")
        self.assertEqual(private.read_bytes(), before)

    def test_progress_only_on_a_terminal(self):
        client = self.client({"bin/game.exe": b"game"})
        args = [tool.TOOL, "publish", "--client", str(client), "--site", str(self.site), "--key",
                str(self.keys / "private.pem"), "--exe", "bin/game.exe", "--version"]
        piped = run(*args[1:], "1.0")
        self.assertEqual((piped.code, piped.err), (0, ""))
        main, secondary = pty.openpty()
        with subprocess.Popen(args + ["2.0"], stdout=subprocess.PIPE, stderr=secondary) as child:
            os.close(secondary)
            shown = b""
            while True:
                try:
                    chunk = os.read(main, 4096)
                except OSError:  # the terminal is gone once the child closed it
                    break
                if not chunk:
                    break
                shown += chunk
            out = child.stdout.read()
        os.close(main)
        self.assertEqual(child.returncode, 0)
        self.assertIn(b"hashing: ", shown)
        self.assertIn(b"published 2.0", out)


class NewsTest(Workspace):
    ORIGIN = "https://news.example.org"

    def write_news(self, text):
        items = self.tmp / "items.tsv"
        items.write_bytes(text.encode())
        return run("news", "--site", self.site, "--origin", self.ORIGIN, "--items", items)

    def check_news(self):
        return run("check-news", "--origin", self.ORIGIN, self.site / "launcher_news.php")

    def test_round_trip_through_the_launcher_parser(self):
        written = self.assertOk(self.write_news(
            "# date\ttitle\tsummary\tlink\n"
            "\n"
            "2026-03-01\tServer move\tWe move on Sunday.\thttps://news.example.org/move\n"
            "1767225600\tNew year\tUTF-8: ção ñ\t\n"
            "2024-02-29\tLeap day\tElsewhere\thttps://news.example.org.evil.test/x\n"))
        self.assertIn("wrote 3 items", written.out)
        self.assertIn("https://news.example.org.evil.test/x is not on", written.err)
        self.assertEqual(written.err.count("warning:"), 1)
        march = calendar.timegm((2026, 3, 1, 0, 0, 0))
        leap = calendar.timegm((2024, 2, 29, 0, 0, 0))
        self.assertEqual(self.assertOk(self.check_news()).out,
                         "loaded 3\n"
                         f"{march}\tServer move\tWe move on Sunday.\thttps://news.example.org/move\n"
                         "1767225600\tNew year\tUTF-8: ção ñ\t\n"
                         f"{leap}\tLeap day\tElsewhere\t\n")

    def test_more_than_the_launcher_shows(self):
        written = self.assertOk(self.write_news(
            "".join(f"{i}\tItem {i}\t\t\n" for i in range(12))))
        self.assertIn("12 items; the launcher shows only the first 10", written.err)
        shown = self.assertOk(self.check_news()).out.splitlines()
        self.assertEqual(shown[0], "loaded 10")
        self.assertEqual(shown[-1], "9\tItem 9\t\t")

    def test_refused_lists_leave_the_feed(self):
        self.assertOk(self.write_news("2026-01-01\tKept\t\t\n"))
        feed = (self.site / "launcher_news.php").read_bytes()
        cases = [
            ("2026-01-01\tTitle\tSummary\n", "has 3 TAB-separated fields"),
            ("2026-01-01\tTitle\tSum\tmary\thttps://news.example.org/\n", "has 5 TAB"),
            ("2026-01-01\tTitle\tSummary\t\r\n", "holds a CR"),
            ("2026-02-30\tTitle\tSummary\t\n", "the date '2026-02-30'"),
            ("2026-13-01\tTitle\tSummary\t\n", "the date '2026-13-01'"),
            ("1969-12-31\tTitle\tSummary\t\n", "the date '1969-12-31'"),
            ("-5\tTitle\tSummary\t\n", "the date '-5'"),
            ("2026-01-01\t\tSummary\t\n", "the title is empty"),
        ]
        for text, fragment in cases:
            with self.subTest(text=text):
                result = self.write_news("2026-01-02\tGood\t\t\n" + text)
                self.assertRefused(result, "line 2: " + fragment.split("'")[0])
                self.assertIn(fragment, result.err)
                self.assertEqual((self.site / "launcher_news.php").read_bytes(), feed)

    def test_check_news_failures(self):
        self.site.mkdir()
        feed = self.site / "launcher_news.php"
        for body in [b"", b"HALVORYN-NEWS 2\n", b"1\t2\t3\t4\t5\n", b"HALVORYN-NEWS 1\n" +
                     b"x" * (512 * 1024)]:
            with self.subTest(body=body[:20]):
                feed.write_bytes(body)
                result = self.check_news()
                self.assertEqual((result.code, result.out), (1, "failed\n"))


class LauncherVerdictTest(Workspace):
    """The launcher's own verdicts, printed."""

    def test_compare_versions(self):
        cases = [("1.0", "1.0.0", "0"), ("1.10", "1.9", "1"), ("2", "10", "-1"),
                 ("1a2", "12", "0"), ("1.0-rc", "1.0", "0"), ("0.9", "1", "-1"),
                 ("99999999999999999999.1", "99999999999999999999", "1")]
        for a, b, order in cases:
            with self.subTest(a=a, b=b):
                self.assertEqual(self.assertOk(run("compare-versions", a, b)).out, order + "\n")

    def test_verify_signature_with_the_dev_key(self):
        signatures = tool.FIXTURES / "signatures"
        dev = tool.DEV_KEYS
        keys = [(dev / "dev-public-DEVELOPMENT-ONLY.hex").read_text().strip(),
                dev / "dev-public-DEVELOPMENT-ONLY.hex", dev / "dev-public-DEVELOPMENT-ONLY.pem"]
        for key in keys:
            for sig in ["valid", "r33", "s33", "rshort", "sshort"]:
                with self.subTest(key=str(key)[-40:], sig=sig):
                    result = run("verify-signature", "--public-key", key,
                                 signatures / "manifest.txt", signatures / f"{sig}.sig")
                    self.assertEqual((result.code, result.out), (0, "valid\n"))
        for manifest, sig, key in [("manifest-crlf.txt", "valid.sig", keys[0]),
                                   ("manifest.txt", "manifest.txt", keys[0]),
                                   ("manifest.txt", "valid.sig", self.keys / "public.hex")]:
            with self.subTest(manifest=manifest, sig=sig, key=str(key)[-20:]):
                result = run("verify-signature", "--public-key", key, signatures / manifest,
                             signatures / sig)
                self.assertEqual((result.code, result.out), (1, "invalid\n"))

    def test_check_manifest_reasons(self):
        header = "HALVORYN-MANIFEST 1\nversion 1\nexe a.exe\n"
        line = "file " + "a" * 64 + " 1 a.exe\n"
        cases = [
            ((tool.FIXTURES / "signatures/manifest.txt").read_text(), "ok"),
            ("HALVORYN-MANIFEST 2\n", "header"),
            (header + "file " + "a" * 64 + " 1\n", "file line 4"),
            (header + "file " + "A" * 64 + " 1 a.exe\n", "invalid entry line 4"),
            (header + line + line, "duplicate path"),
            ("HALVORYN-MANIFEST 1\nversion 1\n" + line, "incomplete"),
            (header.replace("a.exe", "b.exe") + line, "exe not listed"),
        ]
        for text, reason in cases:
            with self.subTest(reason=reason):
                path = self.tmp / "manifest.txt"
                path.write_text(text)
                result = run("check-manifest", path)
                self.assertEqual((result.code, result.out), (0 if reason == "ok" else 1,
                                                             reason + "\n"))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--tool", required=True)
    parser.add_argument("--fixtures", required=True, type=Path)
    parser.add_argument("--dev-keys", required=True, type=Path)
    args, rest = parser.parse_known_args()
    tool.TOOL, tool.FIXTURES, tool.DEV_KEYS = args.tool, args.fixtures, args.dev_keys
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)


if __name__ == "__main__":
    main()
