// The real imgpry-info on built images and on the real disks: its exit
// status, its JSON read by a real JSON parser, its facts agreeing with what
// imgpry says of the same image, and its map read as XML.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "image_builder.h"
#include "run_tool.h"
#include "test_util.h"

using fixture::Bytes;
using fixture::dirEntry;
using fixture::FileSystemDisk;
using fixture::pattern;
using testutil::quoted;
using testutil::ToolRun;

namespace {

std::string infoCommand(const std::vector<std::string>& args) {
    std::string cmd = std::string(IMGPRY_RUNNER).empty() ? "" : std::string(IMGPRY_RUNNER) + " ";
    cmd += quoted(testutil::hostPath(IMGPRY_INFO_EXE));
    for (const std::string& a : args) cmd += " " + quoted(a);
    return cmd;
}

class Info : public ::testing::Test {
protected:
    ToolRun info(const std::vector<std::string>& args) {
        return testutil::runCommandIn(work.path(), infoCommand(args));
    }
    std::string save(const Bytes& image) {
        const std::string path = images.file("image.d88");
        EXPECT_TRUE(fixture::writeFile(path, image));
        return path;
    }
    // Runs a Python check on a document: the script reads it from the file
    // given as its one argument and exits 0 when it holds.
    static bool python(const std::string& script, const std::string& document) {
        testutil::TempDir dir;
        const std::string doc = dir.file("doc");
        const std::string code = dir.file("check.py");
        fixture::writeFile(doc, Bytes(document.begin(), document.end()));
        fixture::writeFile(code, Bytes(script.begin(), script.end()));
        return std::system(("python3 " + quoted(code) + " " + quoted(doc)).c_str()) == 0;
    }
    static bool havePython() { return !testutil::kWindows && std::system("python3 -c 1 >/dev/null 2>&1") == 0; }

    testutil::TempDir images;
    testutil::TempDir work;
};

// A damaged container: a partly read (missing, short, marked and
// deleted-data sectors), replaced and unsafe file on one disk, and a disk of
// another file system.
Bytes damagedImage() {
    FileSystemDisk one(12, "ONE");
    one.addFile("PART", "BIN", 4, 1, pattern(8 * 1024, 1))
        .addFile("SAME", "", 6, 1, pattern(1024, 2))
        .addFile("OK", "TXT", 7, 1, pattern(2048, 3));
    one.setEntry(3, dirEntry(0x00, "A/B", "", 7, 1, 1));
    one.disk().tracks.at(5).erase(one.disk().tracks.at(5).begin() + 1);  // PART: trk 5 sec 2 missing
    one.disk().tracks.at(4).at(2).status = 0xB0;                         // PART: trk 4 sec 3 marked
    one.disk().tracks.at(4).at(3).deleted = 0x10;                        // PART: trk 4 sec 4 deleted data
    one.disk().tracks.at(4).at(4).data.resize(300);                      // PART: trk 4 sec 5 short
    FileSystemDisk two(12, "TWO");
    two.addFile("SAME", "", 2, 1, pattern(1024, 4));
    // No file system imgpry reads: 40 tracks of sixteen 256-byte sectors of zeros.
    fixture::Disk foreign;
    foreign.name = "FOREIGN";
    for (int t = 0; t < 40; ++t) {
        for (int r = 1; r <= 16; ++r) {
            foreign.tracks[t].push_back(
                fixture::sector(static_cast<uint8_t>(t >> 1), static_cast<uint8_t>(t & 1), static_cast<uint8_t>(r), 1));
        }
    }
    return fixture::container({one.build(), two.build(), foreign.build()});
}

TEST_F(Info, ExitStatusAndWords) {
    const std::string sample = testutil::hostPath(IMGPRY_SAMPLE);
    const Bytes sampleBytes = fixture::readFile(sample);
    // The sample cut 6000 bytes short of its second disk's end: its last
    // track starts past the end.
    const Bytes cut(sampleBytes.begin(), sampleBytes.end() - 6000);
    FileSystemDisk unnamed(6, "NONAME");
    unnamed.addFile("", "", 2, 1, pattern(1024, 1));
    const std::string usage = "Usage: imgpry-info [--tracks] [--json | --map] IMAGE\n";
    const std::string refused = "imgpry-info: --tracks goes with the text report; --json always holds the tracks\n";
    struct Case {
        const char* what;
        std::vector<std::string> args;  // "@IMAGE" stands for the image's path
        std::optional<Bytes> image;
        int status;
        std::vector<std::string> out;  // lines the output holds; "" for none at all
        std::string err;
    };
    const std::vector<Case> cases = {
        {"every file whole", {sample}, std::nullopt, 0, {"status: every file whole"}, ""},
        {"damage", {"@IMAGE"}, damagedImage(), 2, {"status: damage or loss (exit status 2)"}, ""},
        {"no disk",
         {"@IMAGE"},
         Bytes(10, 0),
         2,
         {"  no disk found: @IMAGE holds 10 bytes, less than a 688-byte disk header"},
         ""},
        {"truncated",
         {"--tracks", "@IMAGE"},
         cut,
         2,
         {"  disk 2: the image ends at byte " + std::to_string(cut.size()) + ", 6000 bytes before the end of this disk",
          "  trk=27 at offset 203488: past the end of the image", "  status: 6000 bytes cut off"},
         ""},
        {"an entry with no name", {"@IMAGE"}, unnamed.build(), 2, {"  status: 1 file with no name"}, ""},
        {"missing image",
         {"@MISSING"},
         std::nullopt,
         1,
         {""},
         "imgpry-info: cannot open @MISSING: No such file or directory\n"},
        {"no image", {}, std::nullopt, 1, {""}, usage},
        {"two formats", {"--json", "--map", "x"}, std::nullopt, 1, {""}, usage},
        {"an unknown option", {"--bogus", "x"}, std::nullopt, 1, {""}, usage},
        {"two images", {"a", "b"}, std::nullopt, 1, {""}, usage},
        {"tracks in JSON", {"--tracks", "--json", "x"}, std::nullopt, 1, {""}, refused},
        {"tracks in the map", {"--map", "--tracks", "x"}, std::nullopt, 1, {""}, refused},
        {"help",
         {"--help"},
         std::nullopt,
         0,
         {"Exit status: 0 when every file is whole; 1 for a usage error, an image that cannot be"},
         ""},
        {"version", {"--version"}, std::nullopt, 0, {"imgpry-info " IMGPRY_VERSION}, ""},
    };
    const std::string missing = images.file("missing.d88");
    for (const Case& c : cases) {
        const std::string path = c.image ? save(*c.image) : "";
        auto fill = [&](std::string s) {
            for (const auto& [from, to] :
                 {std::pair<std::string, std::string>{"@IMAGE", path}, {"@MISSING", missing}}) {
                for (size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size())) {
                    s.replace(at, from.size(), to);
                }
            }
            return s;
        };
        std::vector<std::string> args;
        for (const std::string& a : c.args) args.push_back(fill(a));
        const ToolRun r = info(args);
        EXPECT_EQ(r.status, c.status) << c.what;
        EXPECT_EQ(r.err, testutil::text(fill(c.err))) << c.what;
        for (const std::string& line : c.out) {
            if (line.empty()) {
                EXPECT_EQ(r.out, "") << c.what;
            } else {
                EXPECT_NE(r.out.find(testutil::text(fill(line) + "\n")), std::string::npos)
                    << c.what << ": " << fill(line) << "\nin:\n"
                    << r.out;
            }
        }
        EXPECT_TRUE(r.files.empty()) << c.what;  // writes nothing
    }
}

TEST_F(Info, TheReportTellsEachFilesState) {
    const std::string path = save(damagedImage());
    const ToolRun r = info({"--tracks", path});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "");
    const std::string& out = r.out;
    for (const std::string& want : {
             std::string("disk 1 at offset 0: \"ONE\", 2D"),
             std::string("  file system: built-in, 1024-byte sectors, 5 per track, 2 heads\n"),
             std::string("  tracks: 12 present, 2 records marked\n"),
             std::string("  PART.BIN         8192  trk=04 sec=01  partly read: 6444 of 8192 bytes; short: trk=04 "
                         "sec=05 holds only 300 bytes, trk=05 sec=02 is missing; marked: trk=04 sec=03 (data CRC "
                         "error), trk=04 sec=04 (deleted data)\n"),
             std::string("  SAME             1024  trk=06 sec=01  whole; replaced by disk 2 SAME\n"),
             std::string("  A/B              1024  trk=07 sec=01  whole; unsafe name\n"),
             std::string("  status: 1 file partly read, 1 file marked, 1 unsafe name, 1 file replaced\n"),
             std::string("  not a file system imgpry reads: track 1 holds 16 sectors of 256 bytes\n"
                         "  tracks: 40 present, 0 records marked\n"
                         "  directory: not read, 0 of 2048 bytes, trk=01 sec=01 is missing\n"),
             std::string("  trk=01 at offset "),
             std::string("    C=02 H=00 R=03 N=03   1024 bytes  double density  status 0xb0"),
         }) {
        EXPECT_NE(out.find(testutil::text(want)), std::string::npos) << want << "\nin:\n" << out;
    }
    // Tracks as the listing writes them, never in decimal.
    EXPECT_EQ(out.find("track 10 "), std::string::npos);
}

// Names from the disk in the text report: exact bytes in the C locale,
// decoded from Shift_JIS in a UTF-8 one and padded by display columns
// (half-width katakana one column, full-width two); a name that is not
// Shift_JIS as a whole keeps its bytes.
TEST_F(Info, TheReportShowsNamesAsTheLocaleReadsThem) {
    // A statically linked tool under an emulator has no locale data to load.
    if (!testutil::nativePosix())
        GTEST_SKIP() << "needs the native tool on a POSIX host (Windows names files in UTF-16)";
    FileSystemDisk d(12, "\x83\x41");                         // katakana A
    d.addFile("\xb1\x83\x43", "BIN", 2, 1, pattern(1024, 1))  // half-width katakana A, full-width I
        .addFile("\x83", "", 3, 1, pattern(1024, 2));         // a lead byte alone
    const std::string path = save(d.build());
    const struct {
        const char* locale;
        std::string disk, kana, broken;
    } cases[] = {
        {"C", "\"\x83\x41\"", "  \xb1\x83\x43.BIN" + std::string(10, ' ') + "1024  trk=02 sec=01",
         "  \x83" + std::string(16, ' ') + "1024  trk=03"},
        {"C.UTF-8", "\"\xe3\x82\xa2\"", "  \xef\xbd\xb1\xe3\x82\xa4.BIN" + std::string(10, ' ') + "1024  trk=02 sec=01",
         "  \x83" + std::string(16, ' ') + "1024  trk=03"},
    };
    for (const auto& c : cases) {
        const ToolRun r =
            testutil::runCommandIn(work.path(), std::string("LC_ALL=") + c.locale + " " + infoCommand({path}));
        EXPECT_EQ(r.status, 0) << c.locale;
        for (const std::string& want : {"disk 1 at offset 0: " + c.disk, c.kana, c.broken}) {
            EXPECT_NE(r.out.find(want), std::string::npos) << c.locale << ": " << want << "\nin:\n" << r.out;
        }
    }
}

TEST_F(Info, TheJsonIsValidAndAgreesWithImgpry) {
    if (!havePython()) GTEST_SKIP() << "needs python3";
    const std::string path = save(damagedImage());
    const ToolRun j = info({"--json", path});
    EXPECT_EQ(j.status, 2);
    // What imgpry itself says of the same image.
    testutil::TempDir dir;
    const ToolRun tool = testutil::runImgpryIn(dir.path(), {path});
    std::string script = R"py(
import json, sys
doc = json.load(open(sys.argv[1], encoding="utf-8"))
assert doc["image"].endswith("image.d88")
assert doc["moreDisks"] is False and len(doc["disks"]) == 3
one, two, real = doc["disks"]
assert one["disk"] == 1 and one["name"] == "ONE" and one["nameBytes"] == "4f4e45" and one["media"] == "2D"
assert one["directory"] == {"read": 2048, "stop": None, "marked": []}
files = {f["name"]: f for f in one["files"]}
part = files["PART.BIN"]
assert part["read"] == 6444 and part["short"] == [{"track": 4, "sector": 5, "held": 300}, {"track": 5, "sector": 2, "held": 0}]
assert part["marked"] == [{"track": 4, "sector": 3, "status": 176, "deleted": 0, "meaning": "data CRC error"},
                          {"track": 4, "sector": 4, "status": 0, "deleted": 16, "meaning": "deleted data"}]
assert part["written"] is True and part["replacedBy"] is None and part["path"] == "PART.BIN"
assert part["state"] == "partly read: 6444 of 8192 bytes" and part["chainBroken"] is None
assert files["SAME"]["replacedBy"] == {"disk": 2, "entry": 0, "path": "SAME"}
assert files["A/B"]["unsafe"] is True and files["A/B"]["written"] is False
assert one["fileSystem"] == {"name": "built-in", "description": "built-in, 1024-byte sectors, 5 per track, 2 heads",
                             "sectorBytes": 1024, "sectorsPerTrack": 5, "heads": 2, "directoryEntries": 128}
assert one["truncatedBy"] == 0 and one["selected"] is True and one["selectError"] is None
assert [a["area"] for a in one["areas"]] == ["directory", "directory"]
assert one["summary"] == "1 file partly read, 1 file marked, 1 unsafe name, 1 file replaced"
assert two["summary"] == "every file whole"
assert real["directory"]["read"] == 0 and real["directory"]["stop"] == {"track": 1, "sector": 1, "held": 0}
assert real["files"] == [] and real["fileSystem"] is None
assert real["trackOne"] == "not a file system imgpry reads: track 1 holds 16 sectors of 256 bytes"
assert doc["status"] == 2 and doc["readError"] is None and doc["readLimit"] is None
tracks = {t["track"]: t for t in real["tracks"]}
assert len(tracks[1]["records"]) == 16 and all(r["size"] == 256 for r in tracks[1]["records"])
# Every file imgpry wrote is one the JSON calls written, and the other way round.
listing = open(sys.argv[1] + ".listing", encoding="latin-1").read().splitlines()
written = [l[:12].rstrip() for l in listing if l.endswith(" ... cutted.")]
assert written == [f["name"] for d in doc["disks"] for f in d["files"] if f["written"]], written
)py";
    fixture::writeFile(dir.file("x"), {});
    testutil::TempDir docs;
    const std::string doc = docs.file("doc");
    fixture::writeFile(doc, Bytes(j.out.begin(), j.out.end()));
    fixture::writeFile(doc + ".listing", Bytes(tool.out.begin(), tool.out.end()));
    fixture::writeFile(docs.file("check.py"), Bytes(script.begin(), script.end()));
    EXPECT_EQ(std::system(("python3 " + quoted(docs.file("check.py")) + " " + quoted(doc)).c_str()), 0) << j.out;

    // The real disks, and a name that is no UTF-8: still valid JSON. A real
    // disk that a file system reads lists its files.
    for (const auto& [real, names] : std::vector<std::pair<std::string, std::string>>{
             {"HuBASIC_Format_2D.d88", "['StopTheClock.Asc', 'StopTheClock.Bas']"},
             {"CPM_Format_2D_turboCPM_X1turbo.d88", "['HOGE.TXT', 'WM.COM']"}}) {
        const ToolRun r = info({"--json", std::string(IMGPRY_TEST_DATA) + "/real-d88/" + real});
        EXPECT_TRUE(
            python("import json,sys; d=json.load(open(sys.argv[1],encoding='utf-8')); "
                   "assert len(d['disks'])==1; disk=d['disks'][0]; "
                   "paths=sorted(f['path'] for f in disk['files']); "
                   "assert paths==([] if disk['fileSystem'] is None else " +
                       names + "), paths",
                   r.out))
            << real << r.out;
    }
    FileSystemDisk odd(6, "\x83\x51\x81\x5B\xff\x01");
    odd.addFile("\xB1\xB2\x83\x51", "\x80", 2, 1, pattern(1024, 1));
    const ToolRun r = info({"--json", save(odd.build())});
    EXPECT_TRUE(
        python("import json,sys; d=json.load(open(sys.argv[1],encoding='utf-8'))['disks'][0]; "
               "assert d['name']=='\\u30b2\\u30fc\\ufffd\\x01', d['name']; "
               "f=d['files'][0]; assert f['nameBytes']=='b1b283512e80', f; "
               "assert f['name']=='\\uff71\\uff72\\u30b2.\\ufffd', f['name']",
               r.out))
        << r.out;
}

// What every map must be, checked by Python on the document: XML in SVG
// 1.1 with no script and no reference, colours as #rrggbb, a titled cell per
// record of every present track (the grid's sector IDs at least), and no
// text running past the picture's width (estimated as the writer does).
constexpr char kMapChecks[] = R"py(
import re, sys, xml.etree.ElementTree as ET
NS = "{http://www.w3.org/2000/svg}"
svg = open(sys.argv[1], encoding="utf-8").read()
root = ET.fromstring(svg)
assert root.tag == NS + "svg" and root.get("version") == "1.1"
assert "<script" not in svg and "href" not in svg and "hsl(" not in svg
for colour in re.findall(r'(?:fill|stroke)="([^"]*)"', svg):
    assert colour == "none" or re.fullmatch(r"#[0-9a-f]{6}", colour), colour
width = float(root.get("width"))
def em(text):
    return sum(0.62 if ord(c) < 0x80 else 1.0 for c in text)
panels = [g for g in root if g.tag == NS + "g"]
def offset(g):
    m = re.match(r"translate\((\d+),(\d+)\)", g.get("transform"))
    return int(m.group(1)), int(m.group(2))
for g in panels:
    dx, _ = offset(g)
    for t in g.iter(NS + "text"):
        right = dx + float(t.get("x")) + em(t.text or "") * float(t.get("font-size"))
        assert right <= width, (t.text, right, width)
# Per panel: every cell's title and its rect.
cells = []
for g in panels:
    found = {}
    for cell in g.iter(NS + "g"):
        title = cell.find(NS + "title")
        if title is None or not re.match(r"trk=[0-9a-f]{2} sec=[0-9a-f]{2}", title.text):
            continue
        rect = cell.find(NS + "rect")
        found[title.text.split(":")[0].split(" (")[0]] = (title.text, rect.get("fill"), float(rect.get("x")), float(rect.get("y")))
    cells.append(found)
texts = ["".join(g.itertext()) for g in panels]
def legendColour(g, start):
    nodes = list(g)
    for i, n in enumerate(nodes):
        if n.tag == NS + "text" and (n.text or "").startswith(start):
            return nodes[i - 1].get("fill")
    raise AssertionError("no legend line " + start)
)py";

TEST_F(Info, TheMapTellsEachFilesStory) {
    if (!havePython()) GTEST_SKIP() << "needs python3";
    // The sample: every sector of both disks, head 0 left of head 1.
    ToolRun r = info({"--map", testutil::hostPath(IMGPRY_SAMPLE)});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(python(std::string(kMapChecks) + R"py(
assert len(panels) == 2
for found in cells:
    assert len(found) == 40 * 5, len(found)
one = cells[0]
assert one["trk=01 sec=01"][0] == "trk=01 sec=01: directory, whole"
assert one["trk=04 sec=01"][0] == "trk=04 sec=01: GAME.BIN, whole"
# Heads side by side: a cylinder's two tracks on one row, head 1 right.
assert one["trk=00 sec=01"][3] == one["trk=01 sec=01"][3] and one["trk=00 sec=01"][2] < one["trk=01 sec=01"][2]
assert one["trk=02 sec=01"][3] > one["trk=00 sec=01"][3]
assert "status: every file whole" in texts[0] and "file system: built-in" in texts[0]
assert "head 0" in texts[0] and "head 1" in texts[0] and "trk=0a" in texts[0]
# The files' colours differ, and none is the directory's.
fills = {legendColour(panels[0], str(n) + " ") for n in range(1, 5)}
assert len(fills) == 4 and one["trk=01 sec=01"][1] not in fills
)py",
                       r.out))
        << r.out;

    // The damaged container: a lost sector keeps its file's colour and says
    // what happened to it.
    r = info({"--map", save(damagedImage())});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(python(std::string(kMapChecks) + R"py(
assert len(panels) == 3
one, two, real = cells
assert len(one) == 12 * 5 and len(two) == 12 * 5 and len(real) == 40 * 16
part = legendColour(panels[0], "1 PART.BIN")
for sector, words in [("trk=04 sec=01", "whole"), ("trk=05 sec=02", "missing"),
                      ("trk=04 sec=05", "holds only 300 of 1024 bytes"),
                      ("trk=04 sec=03", "marked: data CRC error"), ("trk=04 sec=04", "marked: deleted data")]:
    title, fill, _, _ = one[sector]
    assert title == sector + ": PART.BIN, " + words, title
    assert fill == part, (sector, fill, part)
assert one["trk=07 sec=01"][0] == "trk=07 sec=01: used by OK.TXT and A/B, whole"
assert one["trk=00 sec=01"][0] == "trk=00 sec=01: used by no file, whole"
assert "status: 1 file partly read, 1 file marked, 1 unsafe name, 1 file replaced" in texts[0]
assert "2 SAME (not written: replaced by disk 2 SAME)" in texts[0]
assert "4 A/B (not written: unsafe name)" in texts[0]
assert "status: not a file system imgpry reads: track 1 holds 16 sectors of 256 bytes" in texts[2]
assert real["trk=01 sec=10"][0] == "trk=01 sec=10: used by no file, whole"
)py",
                       r.out))
        << r.out;

    // Names that need escaping, and records of other IDs beside their row.
    FileSystemDisk d(12, "<MAP & \x1b>");
    d.addFile("A<B", "", 2, 1, pattern(3 * 1024, 1));
    d.disk().tracks.at(3).push_back(fixture::sector(1, 1, 0xF7, 1));
    r = info({"--map", save(d.build())});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(python(std::string(kMapChecks) + R"py(
assert "<MAP & ?>" in texts[0] and "1 A<B" in texts[0]
title, _, x, y = cells[0]["trk=03 sec=f7"]
assert title == "trk=03 sec=f7 (C=01 H=01 N=01): used by no file, whole", title
assert y == cells[0]["trk=03 sec=05"][3] and x > cells[0]["trk=03 sec=05"][2]
)py",
                       r.out))
        << r.out;

    // A file whose first sector is missing is not read at all, yet every
    // one of its sectors is drawn in its colour.
    FileSystemDisk lost(12, "LOST");
    lost.addFile("GONE", "", 5, 1, pattern(3 * 1024, 1));
    lost.disk().tracks.at(5).erase(lost.disk().tracks.at(5).begin());
    r = info({"--map", save(lost.build())});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(python(std::string(kMapChecks) + R"py(
gone = legendColour(panels[0], "1 GONE")
c = cells[0]
assert c["trk=05 sec=01"][0] == "trk=05 sec=01: GONE, missing", c["trk=05 sec=01"]
for sector in ("trk=05 sec=01", "trk=05 sec=02", "trk=05 sec=03"):
    assert c[sector][1] == gone, (sector, c[sector])
assert c["trk=05 sec=04"][0] == "trk=05 sec=04: used by no file, whole"
)py",
                       r.out))
        << r.out;
}

// A FAT12 disk written by mtools (PC-98 2HD: 77 cylinders, 2 heads, eight
// 1024-byte sectors), with a file that loses a sector, has one marked and
// one short: the areas and the file's story on the map.
TEST_F(Info, TheMapDrawsAFatDisk) {
    if (!havePython() || std::system("command -v mformat >/dev/null 2>&1 && command -v mcopy >/dev/null 2>&1 && "
                                     "command -v mmd >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "needs python3 and mtools";
    }
    testutil::TempDir dir;
    const std::string img = dir.file("disk.img");
    fixture::writeFile(dir.file("GAME.BIN"), pattern(20000, 1));
    fixture::writeFile(dir.file("inner.dat"), pattern(3000, 2));
    const std::string q = "'" + img + "'";
    ASSERT_EQ(std::system(("mformat -C -i " + q + " -t 77 -h 2 -s 8 -S 3 -m 0xFE -R 1 -d 2 -L 2 -r 6 -c 1 :: && " +
                           "mcopy -i " + q + " '" + dir.file("GAME.BIN") + "' ::/GAME.BIN && mmd -i " + q +
                           " ::/SUB && mcopy -i " + q + " '" + dir.file("inner.dat") + "' ::/SUB/inner.dat")
                              .c_str()),
              0);
    fixture::Disk disk = fixture::rawDisk(fixture::readFile(img), 77, 2, 8, 3, "FAT");
    // GAME.BIN runs from trk=01 sec=04 on: lose trk=02 sec=02, mark sec=03, cut sec=04.
    auto& track = disk.tracks.at(2);
    track.erase(track.begin() + 1);
    track.at(1).status = 0xB0;
    track.at(2).data.resize(300);
    const std::string path = save(fixture::container({disk.build()}));
    const ToolRun r = info({"--map", path});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(python(std::string(kMapChecks) + R"py(
assert len(panels) == 1 and len(cells[0]) == 154 * 8, len(cells[0])
c = cells[0]
assert "file system: FAT12, 1024-byte sectors, 8 per track, 2 heads, media 0xFE" in texts[0]
assert "status: 1 file partly read, 1 file marked" in texts[0]
assert c["trk=00 sec=01"][0] == "trk=00 sec=01: boot, whole"
assert c["trk=00 sec=02"][0] == "trk=00 sec=02: FAT, whole" and c["trk=00 sec=05"][0] == "trk=00 sec=05: FAT, whole"
# The whole root directory, past the end mark its walk stops at.
for sector in ("trk=00 sec=06", "trk=00 sec=08", "trk=01 sec=03"):
    assert c[sector][0] == sector + ": directory, whole", c[sector]
fills = {c[k][1] for k in ("trk=00 sec=01", "trk=00 sec=02", "trk=00 sec=06")}
assert len(fills) == 3
game = legendColour(panels[0], "1 GAME.BIN, partly read: 18252 of 20000 bytes, 1 sector marked")
for sector, words in [("trk=01 sec=04", "whole"), ("trk=02 sec=02", "missing"), ("trk=02 sec=03", "marked: data CRC error"),
                      ("trk=02 sec=04", "holds only 300 of 1024 bytes"), ("trk=03 sec=07", "whole")]:
    assert c[sector][0] == sector + ": GAME.BIN, " + words, c[sector]
    assert c[sector][1] == game
legendColour(panels[0], "2 SUB/inner.dat")
# Heads side by side, eight columns.
assert c["trk=00 sec=01"][3] == c["trk=01 sec=01"][3] and c["trk=00 sec=08"][2] < c["trk=01 sec=01"][2]
assert "trk=00 sec=09" not in c
)py",
                       r.out))
        << r.out;
    const ToolRun j = info({"--json", path});
    EXPECT_TRUE(
        python("import json,sys; d=json.load(open(sys.argv[1]))['disks'][0]; fs=d['fileSystem']; "
               "assert fs['name']=='FAT12' and fs['description'].startswith('FAT12, 1024-byte sectors'), fs; "
               "assert [f['path'] for f in d['files']]==['GAME.BIN','SUB/inner.dat']; "
               "assert d['files'][1]['name']=='inner.dat'",
               j.out))
        << j.out;
}

// The reads imgpry-info makes of the image at path (with args before it),
// from a run under strace: each read's place among all read calls and the
// part of the image it read.
using testutil::ImageRead;
std::vector<ImageRead> infoReads(const std::filesystem::path& workDir, const std::vector<std::string>& args,
                                 const std::string& path) {
    testutil::TempDir logDir;
    const std::string log = logDir.file("log");
    std::vector<std::string> all = args;
    all.push_back(path);
    (void)testutil::runCommandIn(workDir, "ASAN_OPTIONS=detect_leaks=0 strace -qq -s 0 -o " + quoted(log) +
                                              " -e trace=openat,read,lseek " + infoCommand(all));
    return testutil::imageReadsInLog(log, path);
}

TEST_F(Info, ReadErrorsAreNamedWithTheirDisk) {
    if (!testutil::nativePosix() || std::system("strace -V >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "needs strace and the native tool";
    }
    // Disks larger than the reader's 128 KiB window, so that a disk's
    // header and a file's sectors need reads of their own.
    auto disk = [](const std::string& name) {
        FileSystemDisk d(80, name);
        d.addFile("FILE", "BIN", 60, 1, pattern(3 * 1024, 1));
        return d.build();
    };
    const Bytes one = disk("ONE");
    const std::string path = save(fixture::container({one, disk("TWO")}));
    auto inject = [&](const std::vector<std::string>& args, const ImageRead& at, bool onward) {
        testutil::TempDir dir;
        std::vector<std::string> all = args;
        all.push_back(path);
        return testutil::runCommandIn(dir.path(),
                                      "ASAN_OPTIONS=detect_leaks=0 strace -qq -o /dev/null -e trace=read "
                                      "-e inject=read:error=EIO:when=" +
                                          std::to_string(at.index) + (onward ? "+ " : " ") + infoCommand(all));
    };
    auto covering = [](const std::vector<ImageRead>& reads, long long offset, bool last) {
        const ImageRead* found = nullptr;
        for (const ImageRead& r : reads) {
            if (offset >= r.offset && offset < r.offset + r.length && (found == nullptr || last)) found = &r;
        }
        return found;
    };

    // The scan cannot read the second disk's header: said with its reason,
    // in the report too, and the bytes after the last disk are not known.
    const std::vector<ImageRead> reads = infoReads(work.path(), {}, path);
    const ImageRead* scan = covering(reads, static_cast<long long>(one.size()), false);
    ASSERT_NE(scan, nullptr);
    ToolRun r = inject({}, *scan, false);
    const std::string said = "cannot read " + path + " at byte " + std::to_string(one.size()) + ": Input/output error";
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "imgpry-info: " + said + "\n");
    EXPECT_EQ(r.out.rfind("image: " + path + "\n  " + std::to_string(2 * one.size()) + " bytes, 1 disk\n  " + said +
                              "; nothing after it is read\n",
                          0),
              0U)
        << r.out;
    EXPECT_NE(r.out.find("  FILE.BIN         3072  trk=3c sec=01  whole\n"), std::string::npos) << r.out;
    r = inject({"--json"},
               *covering(infoReads(work.path(), {"--json"}, path), static_cast<long long>(one.size()), false), false);
    EXPECT_EQ(r.status, 2);
    if (havePython()) {
        EXPECT_TRUE(
            python("import json,sys; d=json.load(open(sys.argv[1])); "
                   "assert d['readError']=={'offset':" +
                       std::to_string(one.size()) +
                       ",'reason':'Input/output error'}, d['readError']; "
                       "assert d['bytesAfterLastDisk'] is None and d['diskCount']==1",
                   r.out))
            << r.out;
    }

    // Selecting the second disk cannot read its header (the last read that
    // covers it): said with the disk, and its facts are not given.
    const ImageRead* select = covering(reads, static_cast<long long>(one.size()), true);
    ASSERT_NE(select, nullptr);
    ASSERT_NE(select, scan);
    r = inject({}, *select, false);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "imgpry-info: disk 2: cannot read the disk's header: Input/output error\n");
    EXPECT_NE(r.out.find("disk 2 at offset " + std::to_string(one.size()) +
                         ": its header could not be read: Input/output error\n"
                         "  status: not read: its header could not be read: Input/output error\n"),
              std::string::npos)
        << r.out;

    // The file's sectors of disk 1 and every read after them: the map
    // shows the file's cells in its colour with the read error.
    if (havePython()) {
        const std::vector<ImageRead> mapReads = infoReads(work.path(), {"--map"}, path);
        const ImageRead* file = covering(mapReads, fixture::trackOffset(one, 60), true);
        ASSERT_NE(file, nullptr);
        r = inject({"--map"}, *file, true);
        EXPECT_EQ(r.status, 2);
        EXPECT_TRUE(python(std::string(kMapChecks) + R"py(
title, fill, _, _ = cells[0]["trk=3c sec=01"]
assert title == "trk=3c sec=01: FILE.BIN, could not be read: Input/output error", title
assert fill == legendColour(panels[0], "1 FILE.BIN"), fill
)py",
                           r.out))
            << r.out;
    }

    // A pipe whose second read fails: said, and the report says it too.
    testutil::TempDir logDir;
    const std::string log = logDir.file("log");
    const std::string feed = "cat " + quoted(testutil::hostPath(IMGPRY_SAMPLE)) + " | ";
    (void)testutil::runCommandIn(work.path(), feed + "ASAN_OPTIONS=detect_leaks=0 strace -qq -s 0 -o " + quoted(log) +
                                                  " -e trace=openat,read " + infoCommand({"/dev/stdin"}));
    std::ifstream in(log);
    std::string line;
    int calls = 0, fd = -1, onPipe = 0, failing = -1;
    long long before = 0;
    std::smatch m;
    while (std::getline(in, line) && failing < 0) {
        if (std::regex_search(line, m, std::regex("^openat\\(.*\"/dev/stdin\".*= ([0-9]+)"))) fd = std::stoi(m[1]);
        if (!std::regex_search(line, m, std::regex("^read\\(([0-9]+), .*= (-?[0-9]+)"))) continue;
        ++calls;
        if (std::stoi(m[1]) != fd) continue;
        if (++onPipe == 2) failing = calls;
        if (onPipe == 1) before = std::stoll(m[2]);
    }
    ASSERT_GT(failing, 0);
    r = testutil::runCommandIn(work.path(), feed +
                                                "ASAN_OPTIONS=detect_leaks=0 strace -qq -o /dev/null -e trace=read "
                                                "-e inject=read:error=EIO:when=" +
                                                std::to_string(failing) + " " + infoCommand({"/dev/stdin"}));
    const std::string pipeSaid = "cannot read /dev/stdin at byte " + std::to_string(before) + ": Input/output error";
    EXPECT_EQ(r.status, 2);
    // The pipe's failure once; what lies past it is a read error too, never
    // a cut-off or short part of the image.
    EXPECT_EQ(r.err.rfind("imgpry-info: " + pipeSaid + "\n", 0), 0U) << r.err;
    EXPECT_EQ(r.err.find("at byte", pipeSaid.size()), std::string::npos) << r.err;
    EXPECT_EQ(r.out.find("cut off"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("holds only"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\n  " + pipeSaid + "; nothing after it is read\n"), std::string::npos) << r.out;
}

TEST_F(Info, AReportThatCannotBeWrittenIsSaid) {
    if (!testutil::nativePosix() || !std::filesystem::exists("/dev/full")) GTEST_SKIP() << "needs /dev/full";
    for (const char* mode : {"", "--json", "--map"}) {
        std::vector<std::string> args;
        if (mode[0] != '\0') args.emplace_back(mode);
        args.push_back(testutil::hostPath(IMGPRY_SAMPLE));
        const ToolRun r = testutil::runCommandIn(work.path(), infoCommand(args), "/dev/full");
        EXPECT_EQ(r.status, 1) << mode;
        EXPECT_EQ(r.err, "imgpry-info: cannot write the report: No space left on device\n") << mode;
    }
}

}  // namespace
