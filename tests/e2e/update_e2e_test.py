#!/usr/bin/python3
"""halvoryn-update end to end: releases published with halvoryn-publish, served by the test nginx,
installed, updated, repaired, restored and interrupted by the real runner.

  update_e2e_test.py --platform native|windows --runner PROGRAM --publisher PROGRAM
                     --fake-client PROGRAM --keys keys/dev [--wine-run scripts/wine-run]
                     [unittest arguments, e.g. InstallTest]

Needs the "servers" fixture ($HV_TEST_SERVERS). "windows" runs the .exe through scripts/wine-run;
the Wine prefix must trust the development CA (the fixture's servers.trust_ca).

Every run goes through Workspace.update(), which also checks what must hold after any run: no
sanitizer or crash report, nothing outside the root folder touched, and a run that ends ready to
play leaves every file of the manifest it installed with that size and SHA-256.
"""

import argparse
import os
import shutil
import sys
import tempfile
import unittest
from pathlib import Path

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
import e2e_support as hv
from e2e_support import (ALTERED, CLOSE_GAME, DROPPED, INVALID, NO_CLIENT, NOT_COMPLETED,
                         NOT_REPLACED, OFFLINE_LINE, READY, RESTORED, blob, files_of, tree_of,
                         tree_difference)

OFFLINE = "https://localhost:1"  # nothing listens there


def release_files(exe: bytes) -> dict:
    """The releases the scenarios use: version -> client files. The program is the fake client,
    so that the installed game can be started. 2.0 changes two files of 1.0 (one keeps its size),
    adds one and drops one; 3.0 changes one more."""
    a = {
        "otclient.exe": exe,
        "readme.txt": b"Halvoryn client\r\n",
        "data/maps/world.map": blob("world map 1.0", 5000),
        "data/sounds/theme.ogg": blob("theme", 3000),
        "data/ção/ñame.txt": "Olá, aventureiro\n".encode(),
        "modules/core/init.lua": b"-- core module\nreturn {}\n",
        "modules/game/bag.lua": blob("bag 1.0", 700),
    }
    b = {k: v for k, v in a.items() if k != "data/sounds/theme.ogg"}
    b.update({"data/maps/world.map": blob("world map 2.0", 6200),
              "modules/game/bag.lua": blob("bag 2.0", 700),
              "modules/game/market.lua": blob("market 2.0", 900)})
    c = dict(b, **{"modules/core/init.lua": b"-- core module 3.0\nreturn { version = 3 }\n"})
    return {"1.0": a, "2.0": b, "3.0": c}


class Site:
    """One site folder below the fixture's HV_SITES_DIR and its origin."""

    def __init__(self, workspace, name: str):
        facts = workspace.facts
        self.name = name
        self.path = Path(facts["HV_SITES_DIR"]) / name
        self.origin = f"{facts['HV_NGINX_ORIGIN']}/{name}"
        self.releases = workspace.tmp / "releases" / name
        self.files = self.path / "downloads" / "launcher"

    def publish(self, version: str, files: dict, min_version: str | None = None,
                exe: str = "otclient.exe"):
        client = self.releases / version
        shutil.rmtree(client, ignore_errors=True)
        hv.write_tree(client, files)
        hv.publish(client, self.path, version, min_version, exe)

    def manifest(self) -> tuple:
        return ((self.files / "manifest.txt").read_bytes(),
                (self.files / "manifest.sig").read_bytes())

    def content(self, data: bytes) -> Path:
        return self.files / "files" / hv.sha256(data)


class Workspace(unittest.TestCase):
    """A temporary folder per test: the root folder the runner works in, a sentinel folder beside
    it, the published client folders; sites of its own in the fixture's sites folder."""

    def setUp(self):
        self.facts = hv.server_facts()
        self.tmp = Path(tempfile.mkdtemp(prefix="hv-e2e-"))
        self.addCleanup(shutil.rmtree, self.tmp, ignore_errors=True)
        self.root = self.tmp / "root"
        hv.write_tree(self.tmp / "beside", {"notes.txt": b"not the launcher's",
                                            "client/otclient.exe": b"another copy",
                                            "state/manifest.txt": b"not ours either"})
        self.client = self.root / "client"
        self.state = self.root / "state"
        self.backup = self.root / "backup"
        self.releases = release_files(hv.PLATFORM.fake_client.read_bytes())
        self.sites = 0

    def new_site(self) -> Site:
        self.sites += 1
        site = Site(self, f"e2e_{hv.PLATFORM.name}_{os.getpid()}_{self.id().split('.')[-1]}_"
                          f"{self.sites}")
        shutil.rmtree(site.path, ignore_errors=True)
        self.addCleanup(shutil.rmtree, site.path, ignore_errors=True)
        return site

    # -- runs ------------------------------------------------------------------------------------

    def update(self, *options, origin: str, fault_point: str | None = None,
               **run_options) -> hv.Run:
        """One runner run on self.root, with the checks every run must pass."""
        outside = tree_of(self.tmp, skip=self.root)
        run = hv.run_runner(["--root", self.root, "--origin", origin, *options], fault_point,
                            self.facts["HV_CA_FILE"], **run_options)
        self.assertFalse(hv.crash_report(run), f"crash or sanitizer report:\n{run.describe()}")
        self.assertIsNotNone(run.code, f"the run hung:\n{run.describe()}")
        self.assertEqual(tree_difference(tree_of(self.tmp, skip=self.root), outside), "",
                         f"the run touched files outside its root:\n{run.describe()}")
        if run.code == 0:
            self.assertEqual(hv.mismatches_against_manifest(self.root), [],
                             f"ready, but the client differs from the installed manifest:\n"
                             f"{run.describe()}")
        return run

    def assertRun(self, run: hv.Run, code: int, line: str):
        self.assertEqual((run.code, run.last), (code, line), run.describe())

    def install(self, site: Site, *versions: str):
        """Publishes each version in turn (each allowing the one before) and updates to it."""
        previous = None
        for version in versions:
            site.publish(version, self.releases[version], min_version=previous)
            self.assertRun(self.update(origin=site.origin), 0, READY)
            previous = version

    # -- what the root holds ---------------------------------------------------------------------

    def assertClient(self, expected: dict, what: str = "client"):
        self.assertEqual(tree_difference(files_of(self.client), expected), "", what)

    def assertInstalledManifest(self, pair: tuple):
        self.assertEqual(((self.state / "manifest.txt").read_bytes(),
                          (self.state / "manifest.sig").read_bytes()), pair)


class InstallTest(Workspace):
    """A first installation, an update with its backup, a restore and the way back."""

    def test_fresh_install(self):
        site = self.new_site()
        site.publish("1.0", self.releases["1.0"])
        self.assertRun(self.update(origin=site.origin), 0, READY)
        self.assertClient(self.releases["1.0"])
        self.assertInstalledManifest(site.manifest())
        self.assertFalse(self.backup.exists())

    def test_update_restore_and_back_to_latest(self):
        a, b = self.releases["1.0"], self.releases["2.0"]
        site = self.new_site()
        site.publish("1.0", a)
        self.assertRun(self.update(origin=site.origin), 0, READY)
        served_a = site.manifest()

        site.publish("2.0", b, min_version="1.0")
        self.assertRun(self.update(origin=site.origin), 0, READY)
        self.assertClient(b)
        self.assertInstalledManifest(site.manifest())
        # The backup holds what the update replaced or dropped, never what it added.
        replaced = {p: a[p] for p in ("data/maps/world.map", "modules/game/bag.lua",
                                      "data/sounds/theme.ogg")}
        self.assertEqual([p.name for p in self.backup.iterdir()], ["1.0"])
        self.assertEqual(tree_difference(files_of(self.backup / "1.0"),
                                         {**replaced, "manifest.txt": served_a[0],
                                          "manifest.sig": served_a[1]}), "")

        self.assertRun(self.update("--restore", origin=site.origin), 0, RESTORED)
        self.assertClient(a, "the restored client")
        self.assertInstalledManifest(served_a)
        self.assertFalse(self.backup.exists())
        self.assertEqual(hv.pin_version(self.root), "1.0")

        # 2.0 allows 1.0: the next check keeps it and downloads nothing.
        downloads = hv.content_requests(self.facts, site.name)
        self.assertRun(self.update(origin=site.origin), 0, RESTORED)
        self.assertClient(a)
        self.assertEqual(hv.content_requests(self.facts, site.name), downloads)

        self.assertRun(self.update("--back-to-latest", origin=site.origin), 0, READY)
        self.assertClient(b)
        self.assertInstalledManifest(site.manifest())
        self.assertEqual(hv.pin_version(self.root), "")


class RepairTest(Workspace):
    """A damaged installation is repaired in place: no backup for the same version."""

    def test_repair_damaged_files(self):
        for versions in (("1.0",), ("1.0", "2.0")):
            with self.subTest(installed=versions[-1]):
                shutil.rmtree(self.root, ignore_errors=True)
                site = self.new_site()
                self.install(site, *versions)
                installed = self.releases[versions[-1]]
                backup_before = tree_of(self.backup)
                # Damaged in place (same size, later time), cut short, and gone; files the
                # manifest does not list are the player's.
                altered = self.client / "data/ção/ñame.txt"
                altered.write_bytes(b"X" * len(installed["data/ção/ñame.txt"]))
                os.utime(altered, (altered.stat().st_atime + 5, altered.stat().st_mtime + 5))
                (self.client / "data/maps/world.map").write_bytes(b"cut")
                (self.client / "modules/game/bag.lua").unlink()
                theirs = {"config.otml": b"volume=3\n", "screenshots/one.png": blob("shot", 400)}
                hv.write_tree(self.client, theirs)

                self.assertRun(self.update(origin=site.origin), 0, READY)
                self.assertClient({**installed, **theirs})
                self.assertEqual(tree_difference(tree_of(self.backup), backup_before), "",
                                 "the backup folder")
                self.assertInstalledManifest(site.manifest())


class OfflineTest(Workspace):
    """No server: the installed version is played while it verifies."""

    def test_offline_with_a_valid_installation(self):
        site = self.new_site()
        self.install(site, "1.0")
        before = tree_of(self.root)
        self.assertRun(self.update(origin=OFFLINE), 0, OFFLINE_LINE)
        self.assertEqual(tree_difference(tree_of(self.root), before), "")

    def test_offline_with_a_file_missing(self):
        site = self.new_site()
        self.install(site, "1.0")
        (self.client / "data/sounds/theme.ogg").unlink()
        before = tree_of(self.root, skip=self.state / "filecache.txt")
        self.assertRun(self.update(origin=OFFLINE), 1, NO_CLIENT)
        self.assertEqual(tree_difference(tree_of(self.root, skip=self.state / "filecache.txt"),
                                         before), "")


class BadSignatureTest(Workspace):
    """A served manifest whose signature belongs to another manifest is never used."""

    def test_bad_signature(self):
        site = self.new_site()
        self.install(site, "1.0")
        old_signature = site.manifest()[1]
        site.publish("2.0", self.releases["2.0"])
        (site.files / "manifest.sig").write_bytes(old_signature)

        installed = tree_of(self.root, skip=self.state / "filecache.txt")
        self.assertRun(self.update(origin=site.origin), 0, OFFLINE_LINE)
        self.assertEqual(tree_difference(tree_of(self.root, skip=self.state / "filecache.txt"),
                                         installed), "")

        shutil.rmtree(self.root)
        self.assertRun(self.update(origin=site.origin), 1, INVALID)
        self.assertEqual(files_of(self.client), {})
        self.assertFalse((self.state / "manifest.txt").exists())


class PinTest(Workspace):
    """A restored version is kept while the server allows it, and updated once it does not."""

    def test_pin_dropped_when_min_version_rises(self):
        site = self.new_site()
        self.install(site, "1.0", "2.0")
        self.assertRun(self.update("--restore", origin=site.origin), 0, RESTORED)
        self.assertRun(self.update(origin=site.origin), 0, RESTORED)
        self.assertEqual(hv.pin_version(self.root), "1.0")

        site.publish("3.0", self.releases["3.0"], min_version="2.0")
        self.assertRun(self.update(origin=site.origin), 0, READY)
        self.assertClient(self.releases["3.0"])
        self.assertInstalledManifest(site.manifest())
        self.assertEqual(hv.pin_version(self.root), "")


class FailureTest(Workspace):
    """Failed updates: the installed version goes on when it may, and is never half replaced."""

    def test_missing_or_altered_content(self):
        a, b = self.releases["1.0"], self.releases["2.0"]
        changed = b["data/maps/world.map"]
        cases = [  # (what happens to the content, min_version of 2.0, exit, line)
            ("missing", "1.0", 0, NOT_COMPLETED),
            ("missing", None, 1, DROPPED),
            ("altered", "1.0", 0, NOT_COMPLETED),
            ("altered", None, 1, ALTERED),
        ]
        for damage, min_version, code, line in cases:
            with self.subTest(damage=damage, min_version=min_version):
                shutil.rmtree(self.root, ignore_errors=True)
                site = self.new_site()
                self.install(site, "1.0")
                installed = site.manifest()
                site.publish("2.0", b, min_version=min_version)
                content = site.content(changed)
                if damage == "missing":
                    content.unlink()
                else:
                    content.write_bytes(blob("not the map", len(changed)))

                self.assertRun(self.update(origin=site.origin), code, line)
                self.assertClient(a)
                self.assertInstalledManifest(installed)

    def test_folder_in_the_way_rolls_back(self):
        a = self.releases["1.0"]
        site = self.new_site()
        self.install(site, "1.0")
        # Five files to install, the third a new one where a folder of the player's stands.
        d = dict(a, **{"data/maps/world.map": blob("world map 4.0", 5100),
                       "data/sounds/theme.ogg": blob("theme 4.0", 3100),
                       "data/sounds/zz-extra.ogg": blob("extra 4.0", 1000),
                       "data/ção/ñame.txt": "Olá, aventureira!\n".encode(),
                       "modules/game/bag.lua": blob("bag 4.0", 800)})
        site.publish("4.0", d)
        order = [e.path for e in hv.manifest_entries(site.manifest()[0].decode())
                 if len(a.get(e.path, b"")) != e.size]
        self.assertEqual(len(order), 5)
        self.assertEqual(order[2], "data/sounds/zz-extra.ogg")
        hv.write_tree(self.client, {"data/sounds/zz-extra.ogg/mine.txt": b"a folder of mine"})
        before = tree_of(self.client)
        installed = (self.state / "manifest.txt").read_bytes()

        self.assertRun(self.update(origin=site.origin), 1, NOT_REPLACED)
        self.assertEqual(tree_difference(tree_of(self.client), before), "")
        self.assertEqual((self.state / "manifest.txt").read_bytes(), installed)

    def test_failed_update_keeps_the_backup(self):
        site = self.new_site()
        self.install(site, "1.0", "2.0")
        backup = files_of(self.backup)
        site.publish("3.0", dict(self.releases["3.0"], **{"zz/new.dat": blob("new 3.0", 10)}))
        hv.write_tree(self.client, {"zz/new.dat/mine.txt": b"a folder of mine"})

        self.assertRun(self.update(origin=site.origin), 1, NOT_REPLACED)
        self.assertClient({**self.releases["2.0"], "zz/new.dat/mine.txt": b"a folder of mine"})
        self.assertEqual(tree_difference(files_of(self.backup), backup), "", "the backup")
        self.assertRun(self.update("--restore", origin=OFFLINE), 0, OFFLINE_LINE)

    def test_client_running(self):
        site = self.new_site()
        self.install(site, "1.0")
        site.publish("2.0", self.releases["2.0"], min_version="1.0")
        game = hv.RunningClient(self.client / "otclient.exe")
        self.addCleanup(game.stop)
        self.assertRun(self.update(origin=site.origin), 1, CLOSE_GAME)
        self.assertClient(self.releases["1.0"])
        self.assertFalse(self.backup.exists())
        game.stop()

        self.assertRun(self.update(origin=site.origin), 0, READY)
        game = hv.RunningClient(self.client / "otclient.exe")
        self.addCleanup(game.stop)
        backup = tree_of(self.backup)
        self.assertRun(self.update("--restore", origin=site.origin), 1, CLOSE_GAME)
        self.assertClient(self.releases["2.0"])
        self.assertEqual(tree_difference(tree_of(self.backup), backup), "")
        self.assertFalse(hv.pin_version(self.root))

    def test_restore_while_client_in_a_subfolder_runs(self):
        exe = hv.PLATFORM.fake_client.read_bytes()
        one = {"bin/game.exe": exe, "data/world.map": blob("world 1", 900)}
        two = {"bin/game.exe": exe, "data/world.map": blob("world 2", 950)}
        site = self.new_site()
        site.publish("1.0", one, exe="bin/game.exe")
        self.assertRun(self.update(origin=site.origin), 0, READY)
        site.publish("2.0", two, min_version="1.0", exe="bin/game.exe")
        self.assertRun(self.update(origin=site.origin), 0, READY)
        game = hv.RunningClient(self.client / "bin/game.exe")
        self.addCleanup(game.stop)
        run = self.update("--restore", origin=site.origin)
        self.assertClient(two, "files replaced under the running game")
        self.assertRun(run, 1, CLOSE_GAME)


UPDATE_POINTS = ("downloaded-file", "staged-file", "set-aside-file", "installed-file",
                 "dropped-file", "backup-complete", "between-manifest-writes", "installed")
RESTORE_POINTS = ("restored-file", "between-manifest-writes", "restored")
# Where 2.0 has installed its three files but the backup of 1.0 is not complete yet: the next run
# has nothing left to download and must finish the backup all the same.
BACKUP_LEFT_UNFINISHED = frozenset({("installed-file", 3), ("dropped-file", 1)})


class CrashTest(Workspace):
    """Runs killed at every fault point and every arrival there; the next run must converge."""

    def setUp(self):
        super().setUp()
        self.a, self.b = self.releases["1.0"], self.releases["2.0"]
        self.site = self.new_site()
        self.install(self.site, "1.0")
        self.installed_a = self.tmp / "installed-1.0"
        hv.copy_root(self.root, self.installed_a)
        self.site.publish("2.0", self.b)
        self.assertRun(self.update(origin=self.site.origin), 0, READY)
        self.installed_b = self.tmp / "installed-2.0"
        hv.copy_root(self.root, self.installed_b)

    def kill_everywhere(self, points, start: Path, options: tuple, origin: str, recover) -> tuple:
        """For each point and N = 1, 2, ... until the point no longer fires: a copy of start, a
        run killed at the Nth arrival, then recover(). Returns the number of kills and how many
        converged."""
        kills, converged = 0, 0
        for point in points:
            for n in range(1, 100):
                hv.copy_root(start, self.root)
                fired = False
                with self.subTest(point=point, n=n):
                    run = self.update(*options, origin=origin, fault_point=f"{point}:{n}")
                    fired = run.code == hv.PLATFORM.killed_code
                    if not fired:
                        self.assertGreater(n, 1, f"{point} never fired:\n{run.describe()}")
                        recover(run, completed=True)
                        break
                    kills += 1
                    recover(run, completed=False)
                    converged += 1
                if not fired:
                    break
        return kills, converged

    def report(self, what: str, kills: int, converged: int):
        print(f"\ncrash matrix ({what}, {hv.PLATFORM.name}): {kills} kill points exercised, "
              f"{converged} converged", file=sys.stderr)
        self.assertEqual(converged, kills)

    def recover_update(self, run: hv.Run, completed: bool):
        """The interrupted update is finished by the next run, and 1.0 can still be restored."""
        if not completed:
            run = self.update(origin=self.site.origin)
        self.assertRun(run, 0, READY)
        self.assertClient(self.b)
        self.assertInstalledManifest(self.site.manifest())
        self.assertRun(self.update("--restore", origin=OFFLINE), 0, OFFLINE_LINE)
        self.assertClient(self.a, "the version restored after the interrupted update")

    def test_killed_updates_converge(self):
        result = self.kill_everywhere(UPDATE_POINTS, self.installed_a, (), self.site.origin,
                                      self.recover_update)
        self.report("update 1.0 -> 2.0", *result)

    def test_update_killed_before_its_backup_is_complete(self):
        for point, n in sorted(BACKUP_LEFT_UNFINISHED):
            hv.copy_root(self.installed_a, self.root)
            run = self.update(origin=self.site.origin, fault_point=f"{point}:{n}")
            self.assertEqual(run.code, hv.PLATFORM.killed_code, run.describe())
            try:
                self.recover_update(run, completed=False)
            except AssertionError as failure:
                raise AssertionError(f"killed at {point}:{n}: {failure}") from None

    def test_killed_restores_converge(self):
        def recover(run: hv.Run, completed: bool):
            if not completed:
                run = self.update("--restore", origin=OFFLINE)
            self.assertRun(run, 0, OFFLINE_LINE)
            self.assertClient(self.a, "the restored client")
            self.assertFalse(self.backup.exists())
            self.assertEqual(hv.pin_version(self.root), "1.0")

        result = self.kill_everywhere(RESTORE_POINTS, self.installed_b, ("--restore",), OFFLINE,
                                      recover)
        self.report("restore 2.0 -> 1.0", *result)


class ExitRaceTest(Workspace):
    """The native runner with the sanitizers' exit-time leak check on, as the linux build runs
    it for a player. One CPU makes the race at exit likely."""

    def setUp(self):
        if hv.PLATFORM.wine:
            self.skipTest("the native runner only")
        super().setUp()

    def test_exit_after_a_run_is_clean(self):
        site = self.new_site()
        site.publish("1.0", self.releases["1.0"])
        for attempt in range(20):
            shutil.rmtree(self.root, ignore_errors=True)
            run = self.update(origin=site.origin, prefix=("taskset", "-c", "0"))
            self.assertRun(run, 0, READY)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--platform", choices=("native", "windows"), required=True)
    parser.add_argument("--runner", type=Path, required=True)
    parser.add_argument("--publisher", type=Path, required=True)
    parser.add_argument("--fake-client", type=Path, required=True)
    parser.add_argument("--keys", type=Path, required=True)
    parser.add_argument("--wine-run", type=Path)
    options, rest = parser.parse_known_args()
    if options.platform == "windows" and not options.wine_run:
        parser.error("--platform windows needs --wine-run")
    if not options.publisher.is_file():
        parser.error(f"halvoryn-publish not found at {options.publisher}: the tests publish with "
                     "the native tool; build it first (cmake --build --preset linux)")
    for program in (options.runner, options.fake_client):
        if not program.is_file():
            parser.error(f"{program} does not exist: build it first")
    hv.PLATFORM = hv.Platform(options.platform, options.runner, options.publisher,
                              options.fake_client, options.wine_run,
                              options.keys / "dev-private-DEVELOPMENT-ONLY.pem",
                              options.keys / "dev-public-DEVELOPMENT-ONLY.hex")
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)


if __name__ == "__main__":
    main()
