#include "update/manifest.h"

#include <gtest/gtest.h>

namespace hv {
namespace {

#ifdef _WIN32
const std::u16string kClient = u"C:\\Games\\Halvoryn\\client";
#else
const std::u16string kClient = u"/games/halvoryn/client";
#endif

const std::string kA(64, 'a');
const std::string kB(64, 'b');
const std::string kHex = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";

// The smallest complete manifest, to which a case appends its own lines.
std::string Minimal(const std::string& extra = "") {
  return "HALVORYN-MANIFEST 1\nversion 2.1.0\nexe otclient.exe\nfile " + kA +
         " 1024 otclient.exe\n" + extra;
}

struct Accepted {
  const char* name;
  std::string text;
  void (*check)(const Manifest&);
};

const Accepted kAccepted[] = {
    {"minimal", Minimal(),
     [](const Manifest& m) {
       EXPECT_EQ(m.version, "2.1.0");
       EXPECT_EQ(m.min_version, "2.1.0");
       EXPECT_EQ(m.launcher_min, "");
       EXPECT_EQ(m.exe, u"otclient.exe");
       ASSERT_EQ(m.entries.size(), 1u);
       EXPECT_EQ(m.entries[0].path, u"otclient.exe");
       EXPECT_EQ(m.entries[0].size, 1024u);
       EXPECT_EQ(m.entries[0].sha256, std::u16string(64, u'a'));
     }},
    {"comments and empty lines before the header, CRLF endings",
     "# published by the release tool\r\n\r\nHALVORYN-MANIFEST 1\r\nversion 3\r\n#note\r\n"
     "exe game.exe\r\nfile " +
         kA + " 5 game.exe\r\n",
     [](const Manifest& m) {
       EXPECT_EQ(m.version, "3");
       EXPECT_EQ(m.exe, u"game.exe");
       EXPECT_EQ(m.entries[0].path, u"game.exe");
     }},
    {"two carriage returns keep one",
     "HALVORYN-MANIFEST 1\nversion 1.0\r\r\nexe a.exe\nfile " + kA + " 1 a.exe",
     [](const Manifest& m) { EXPECT_EQ(m.version, "1.0\r"); }},
    {"slashes become backslashes, spaces stay in paths, leading zeros read as decimal",
     Minimal("file " + kHex + " 000000001234 data/my maps/world one.map\n"),
     [](const Manifest& m) {
       ASSERT_EQ(m.entries.size(), 2u);
       EXPECT_EQ(m.entries[1].path, u"data\\my maps\\world one.map");
       EXPECT_EQ(m.entries[1].size, 1234u);
       EXPECT_EQ(m.entries[1].sha256,
                 u"0123456789abcdef0123456789abcdef"
                 u"0123456789abcdef0123456789abcdef");
     }},
    {"largest size", Minimal("file " + kB + " 999999999999 big.dat\n"),
     [](const Manifest& m) { EXPECT_EQ(m.entries[1].size, 999999999999u); }},
    {"notes, privacy address, repeated and unknown keys",
     Minimal("notes_pt Vers\xC3\xA3o nova\\ncom mapa\nnotes_en a\\\\nb \\x end\\\n"
             "privacy_url http://plain.example/privacy\nmin_version 1.9\nversion 2.2\n"
             "launcher_min 1.0.1\ncolour blue\n novalue\nHALVORYN-MANIFEST 1\n"
             "privacy_url https://halvoryn.example/privacy\n"),
     [](const Manifest& m) {
       EXPECT_EQ(m.notes_pt, u"Vers\u00E3o nova\ncom mapa");
       EXPECT_EQ(m.notes_en, u"a\\\nb \\x end\\");
       EXPECT_EQ(m.privacy_url, u"https://halvoryn.example/privacy");
       EXPECT_EQ(m.version, "2.2");
       EXPECT_EQ(m.min_version, "1.9");
       EXPECT_EQ(m.launcher_min, "1.0.1");
     }},
    {"a later plain-http privacy address empties it",
     Minimal("privacy_url https://h.example/p\nprivacy_url http://h.example/p\n"),
     [](const Manifest& m) { EXPECT_EQ(m.privacy_url, u""); }},
    {"exe matches its entry ignoring ASCII case, in a subfolder with backslashes",
     "HALVORYN-MANIFEST 1\nversion 1\nexe Bin\\OTClient.EXE\nfile " + kA + " 1 bin/otclient.exe\n",
     [](const Manifest& m) { EXPECT_EQ(m.exe, u"Bin\\OTClient.EXE"); }},
    {"version bytes stay raw", Minimal("version 2.0-beta \xFF\n"),
     [](const Manifest& m) { EXPECT_EQ(m.version, "2.0-beta \xFF"); }},
};

TEST(ParseManifest, AcceptsValidManifests) {
  for (const Accepted& c : kAccepted) {
    SCOPED_TRACE(c.name);
    Manifest manifest;
    std::u16string reason;
    ASSERT_TRUE(ParseManifest(c.text, kClient, manifest, reason)) << testing::PrintToString(reason);
    EXPECT_EQ(reason, u"");
    c.check(manifest);
  }
}

struct Rejected {
  const char* name;
  std::string text;
  std::u16string reason;
};

// Line numbers count every line, comments and empty lines included.
const Rejected kRejected[] = {
    {"empty text", "", u"incomplete"},
    {"only comments", "# nothing\n\n", u"incomplete"},
    {"only the header", "HALVORYN-MANIFEST 1\n", u"incomplete"},
    {"header with a trailing space", "HALVORYN-MANIFEST 1 \nversion 1\n", u"header"},
    {"header in lower case", "halvoryn-manifest 1\n", u"header"},
    {"header after a byte-order mark", "\xEF\xBB\xBFHALVORYN-MANIFEST 1\n", u"header"},
    {"header of another format version", "HALVORYN-MANIFEST 2\n", u"header"},
    {"file line without a second space", Minimal("file " + kB + " 12\n"), u"file line 5"},
    {"file line without a value", "HALVORYN-MANIFEST 1\n#c\nfile\n", u"file line 3"},
    {"digest in upper case", Minimal("\n# c\nfile " + std::string(64, 'A') + " 1 x\n"),
     u"invalid entry line 7"},
    {"digest of 63 characters", Minimal("file " + std::string(63, 'a') + " 1 x\n"),
     u"invalid entry line 5"},
    {"digest of 65 characters", Minimal("file " + std::string(65, 'a') + " 1 x\n"),
     u"invalid entry line 5"},
    {"size with a sign", Minimal("file " + kB + " +5 x\n"), u"invalid entry line 5"},
    {"size with a decimal point", Minimal("file " + kB + " 1.5 x\n"), u"invalid entry line 5"},
    {"size of 13 digits", Minimal("file " + kB + " 1000000000000 x\n"), u"invalid entry line 5"},
    {"empty size", Minimal("file " + kB + "  x\n"), u"invalid entry line 5"},
    {"empty path", Minimal("file " + kB + " 1 \n"), u"invalid entry line 5"},
    {"path climbing out", Minimal("file " + kB + " 1 ../x.dll\n"), u"invalid entry line 5"},
    {"absolute path", Minimal("file " + kB + " 1 /etc/x\n"), u"invalid entry line 5"},
    {"drive colon", Minimal("file " + kB + " 1 C:x.dll\n"), u"invalid entry line 5"},
    {"two separators in a row", Minimal("file " + kB + " 1 data//x\n"), u"invalid entry line 5"},
    {"duplicate path differing in case", Minimal("file " + kB + " 1 OTClient.exe\n"),
     u"duplicate path"},
    {"duplicate path differing in separators",
     Minimal("file " + kB + " 1 data/a.bin\nfile " + kA + " 2 data\\a.bin\n"), u"duplicate path"},
    {"no version", "HALVORYN-MANIFEST 1\nexe a.exe\nfile " + kA + " 1 a.exe\n", u"incomplete"},
    {"empty exe", "HALVORYN-MANIFEST 1\nversion 1\nexe \nfile " + kA + " 1 a.exe\n", u"incomplete"},
    {"unsafe exe", "HALVORYN-MANIFEST 1\nversion 1\nexe ..\\a.exe\nfile " + kA + " 1 a.exe\n",
     u"incomplete"},
    {"no file", "HALVORYN-MANIFEST 1\nversion 1\nexe a.exe\n", u"incomplete"},
    {"exe names no entry", "HALVORYN-MANIFEST 1\nversion 1\nexe b.exe\nfile " + kA + " 1 a.exe\n",
     u"exe not listed"},
    {"exe with slashes against a backslash path",
     "HALVORYN-MANIFEST 1\nversion 1\nexe bin/a.exe\nfile " + kA + " 1 bin/a.exe\n",
     u"exe not listed"},
};

TEST(ParseManifest, RejectsInvalidManifestsWithTheirReason) {
  for (const Rejected& c : kRejected) {
    Manifest manifest;
    std::u16string reason;
    EXPECT_FALSE(ParseManifest(c.text, kClient, manifest, reason)) << c.name;
    EXPECT_EQ(reason, c.reason) << c.name;
  }
}

TEST(ParseManifest, ReusesTheOutputWithoutStaleEntries) {
  Manifest manifest;
  std::u16string reason;
  ASSERT_TRUE(ParseManifest(Minimal("file " + kB + " 1 b.dat\n"), kClient, manifest, reason));
  ASSERT_TRUE(ParseManifest(Minimal(), kClient, manifest, reason));
  EXPECT_EQ(manifest.entries.size(), 1u);
}

TEST(CompareVersions, OrdersDottedNumbers) {
  const struct {
    std::string a, b;
    int order;
  } cases[] = {
      {"1.0.1", "1.0.10", -1},
      {"2", "1.99.99", 1},
      {"1.0", "1", 0},
      {"1.0", "1.0.0", 0},
      {"1.10", "1.9", 1},
      {"", "0", 0},
      {"", "0.0.1", -1},
      {"2.0-beta", "2.0", 0},
      {"1a2", "12", 0},
      {"rc", "0", 0},
      {"1.007", "1.7", 0},
      {"1.", "1", 0},
      {"1..2", "1.0.2", 0},
      // Components far beyond 64 bits compare by their exact value.
      {"1.12345678901234567890123", "1.12345678901234567890122", 1},
      {"99999999999999999999", "100000000000000000000", -1},
      {"18446744073709551616", "18446744073709551615", 1},
      {"0000000000000000000000001", "1", 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CompareVersions(c.a, c.b), c.order) << c.a << " vs " << c.b;
    EXPECT_EQ(CompareVersions(c.b, c.a), -c.order) << c.b << " vs " << c.a;
  }
}

}  // namespace
}  // namespace hv
