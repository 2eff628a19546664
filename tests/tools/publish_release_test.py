#!/usr/bin/env python3
"""The release tool's guards and its key rotation, run against the development profile:

    publish_release_test.py FIXTURE_DIR LAUNCHER

Refusals come before any file is written, so most cases publish nothing; one case publishes the
development client for real, signed by the profile's next key, and has the launcher check it.
"""
import datetime
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
TOOL = os.path.join(REPO, "tools", "publish-release.py")
NEXT_KEY = os.path.join(REPO, "release", "dev-release-key-next.pem")
PROFILE = os.path.join(REPO, "release", "dev.profile")
FIXTURES, LAUNCHER = sys.argv[1], sys.argv[2]
NO_CLIENT = "has no client-integrity.sha256"  # the first check after the guards


def tool(*args):
    done = subprocess.run([sys.executable, TOOL] + list(args), capture_output=True, text=True)
    return done.returncode, done.stdout + done.stderr


def key_lines(profile_text):
    return dict(re.findall(r"^(release_key\w*)=(\w+)$", profile_text, re.M))


class Guards(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp()
        self.empty_client = os.path.join(self.dir, "client")
        os.mkdir(self.empty_client)
        self.previous = self.manifest("previous.manifest", "sequence=5\n")
        self.unnumbered = self.manifest("unnumbered.manifest", "")

    def tearDown(self):
        shutil.rmtree(self.dir)

    def manifest(self, name, extra):
        path = os.path.join(self.dir, name)
        with open(path, "w") as out:
            out.write("VORNA380-RELEASE-V1\nversion=old\n" + extra)
        return path

    def publish(self, *args):
        return tool("publish", self.empty_client, os.path.join(self.dir, "tree"), *args)

    def assert_refused(self, result, reason):
        code, text = result
        self.assertNotEqual(code, 0, text)
        self.assertIn(reason, text)
        self.assertNotIn(NO_CLIENT, text)

    def assert_passes_guards(self, result):
        self.assertIn(NO_CLIENT, result[1])

    def test_sequence_must_grow_and_stay(self):
        for sequence in ("5", "4", "1"):
            self.assert_refused(self.publish("--previous", self.previous, "--sequence", sequence),
                                "is not higher than the previous manifest's 5")
        self.assert_passes_guards(self.publish("--previous", self.previous, "--sequence", "6"))
        self.assert_passes_guards(self.publish("--previous", self.previous))
        self.assert_refused(self.publish("--previous", self.unnumbered), "has no sequence: give --sequence")
        self.assert_passes_guards(self.publish("--previous", self.unnumbered, "--sequence", "1"))

    def test_release_may_not_be_born_expired(self):
        for days in ("0", "-1"):
            self.assert_refused(self.publish("--expires-in", days), "--expires-in must be at least 1 day")
        self.assert_refused(self.publish("--expires-in", "3000000"), "ends after the year 9999")
        self.assert_passes_guards(self.publish("--expires-in", "1"))

    def test_key_must_be_one_of_the_profile(self):
        outside = os.path.join(self.dir, "outside.pem")
        subprocess.run(["openssl", "genpkey", "-algorithm", "RSA", "-pkeyopt", "rsa_keygen_bits:3072", "-out",
                        outside], check=True, capture_output=True)
        self.assert_refused(self.publish("--key", outside), "is neither the release key nor the next key")
        self.assert_passes_guards(self.publish("--key", NEXT_KEY))

        # The profile for the next step of a rotation: the outside key as the next key, then promoted.
        code, text = tool("profile", "--next-key", outside)
        self.assertEqual(code, 0, text)
        with open(PROFILE) as profile:
            original = profile.read()
        before, after = key_lines(original), key_lines(text)
        outside_modulus = subprocess.run(["openssl", "rsa", "-in", outside, "-noout", "-modulus"], check=True,
                                         capture_output=True, text=True).stdout.strip().split("=")[1].lower()
        self.assertEqual(after["release_key_modulus"], before["release_key_modulus"])
        self.assertEqual(after["release_key_next_modulus"], outside_modulus)
        rotated = os.path.join(self.dir, "rotated.profile")
        with open(rotated, "w") as out:
            out.write(text)
        self.assertEqual([line for line in text.splitlines() if not line.startswith("release_key")],
                         [line for line in original.splitlines() if not line.startswith("release_key")])
        self.assert_passes_guards(self.publish("--key", outside, "--profile", rotated))

        code, text = tool("profile", "--profile", rotated, "--promote")
        self.assertEqual(code, 0, text)
        self.assertEqual(key_lines(text), {"release_key_modulus": outside_modulus,
                                           "release_key_exponent": "010001"})
        with open(rotated, "w") as out:
            out.write(text)
        self.assert_refused(self.publish("--profile", rotated), "is neither the release key nor the next key")
        self.assert_refused(tool("profile", "--profile", rotated, "--promote"), "has no next key to promote")
        self.assert_refused(tool("profile", "--profile", rotated, "--next-key", outside), "is already the release key")


    def test_profiles_it_writes_require_expiry(self):
        with open(PROFILE) as profile:
            original = profile.read()
        for setting in ("", "release_expiry_required=0\n"):
            source = os.path.join(self.dir, "source.profile")
            with open(source, "w") as out:
                out.write(re.sub(r"^release_expiry_required=.*\n", setting, original, flags=re.M))
            code, text = tool("profile", "--profile", source, "--promote")
            self.assertEqual(code, 0, text)
            self.assertEqual(re.findall(r"^release_expiry_required=.*$", text, re.M), ["release_expiry_required=1"])


def copy_of_client(work):
    client = os.path.join(work, "Client")
    # A copy: the tool rewrites the client's list and filler, which the fixtures share.
    shutil.copytree(os.path.join(FIXTURES, "releases", "client", "Client"), client,
                    ignore=shutil.ignore_patterns("release-filler.bin"))
    return client


class NextKeyRelease(unittest.TestCase):
    def test_published_file_must_have_the_pinned_size(self):
        work = tempfile.mkdtemp()
        try:
            profile = os.path.join(work, "sizes.profile")
            with open(PROFILE) as source, open(profile, "w") as out:
                out.write(re.sub(r"^pin_skills_size=(\d+)$", lambda m: "pin_skills_size=%d" % (int(m[1]) - 1),
                                 source.read(), flags=re.M))
            code, text = tool("publish", copy_of_client(work), os.path.join(work, "tree"), "--profile", profile)
            self.assertNotEqual(code, 0, text)
            self.assertIn("data/common/Skills.k5o has", text)
            self.assertFalse(os.path.exists(os.path.join(work, "tree")))
        finally:
            shutil.rmtree(work)

    def test_published_with_the_next_key_the_launcher_accepts_it(self):
        work = tempfile.mkdtemp()
        try:
            client = copy_of_client(work)
            previous = os.path.join(FIXTURES, "releases", "sequence-5", "dl", "Vorna380.release.manifest")
            tree = os.path.join(work, "tree")
            code, text = tool("publish", client, tree, "--key", NEXT_KEY, "--previous", previous,
                              "--expires-in", "7", "--compress-level", "0")
            self.assertEqual(code, 0, text)
            manifest = os.path.join(tree, "dl", "Vorna380.release.manifest")
            with open(manifest) as data:
                values = dict(line.split("=", 1) for line in data.read().splitlines()[1:])
            self.assertEqual(values["sequence"], "6")
            expires = datetime.datetime.strptime(values["expires"], "%Y-%m-%dT%H:%M:%SZ")
            now = datetime.datetime.now(datetime.timezone.utc).replace(tzinfo=None)
            in_a_week = now + datetime.timedelta(days=7)
            self.assertLess(abs((expires - in_a_week).total_seconds()), 120)
            checked = subprocess.run([LAUNCHER, "--verify-release", manifest, manifest + ".sig"])
            self.assertEqual(checked.returncode, 0)
            # The package is named by its content; publishing the next release into the same
            # tree keeps it, for a cache that still serves this manifest, and leaves no part file.
            first = values["package_url"].split("/", 3)[3]
            self.assertEqual(first, "dl/Vorna380-client-%s.zip" % values["package_sha256"])
            code, text = tool("publish", client, tree, "--key", NEXT_KEY, "--sequence", "7", "--compress-level", "1")
            self.assertEqual(code, 0, text)
            with open(manifest) as data:
                second = dict(line.split("=", 1) for line in data.read().splitlines()[1:])
            self.assertNotEqual(second["package_sha256"], values["package_sha256"])
            for path in (first, second["package_url"].split("/", 3)[3]):
                self.assertTrue(os.path.isfile(os.path.join(tree, *path.split("/"))), path)
            left = [name for _, _, names in os.walk(tree) for name in names if name.endswith(".writing")]
            self.assertEqual(left, [])
        finally:
            shutil.rmtree(work)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
