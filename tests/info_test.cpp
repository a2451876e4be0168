// The real imgpry-info on built images and on the real disks: its exit
// status, its JSON read by a real JSON parser, its facts agreeing with what
// imgpry says of the same image, and its map read as XML.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
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

// A damaged container: a partly read, marked, replaced and unsafe file on
// one disk, and a disk of another file system.
Bytes damagedImage() {
    FileSystemDisk one(12, "ONE");
    one.addFile("PART", "BIN", 4, 1, pattern(8 * 1024, 1))
        .addFile("SAME", "", 6, 1, pattern(1024, 2))
        .addFile("OK", "TXT", 7, 1, pattern(2048, 3));
    one.setEntry(3, dirEntry(0x00, "A/B", "", 7, 1, 1));
    one.disk().tracks.at(5).erase(one.disk().tracks.at(5).begin() + 1);  // PART: trk 5 sec 2 missing
    one.disk().tracks.at(4).at(2).status = 0xB0;                         // PART: trk 4 sec 3 marked
    FileSystemDisk two(12, "TWO");
    two.addFile("SAME", "", 2, 1, pattern(1024, 4));
    const Bytes real = fixture::readFile(std::string(IMGPRY_TEST_DATA) + "/real-d88/HuBASIC_Format_2D.d88");
    return fixture::container({one.build(), two.build(), real});
}

TEST_F(Info, ExitStatusSaysWhetherEverythingIsWhole) {
    EXPECT_EQ(info({testutil::hostPath(IMGPRY_SAMPLE)}).status, 0);
    EXPECT_EQ(info({save(damagedImage())}).status, 1);
    EXPECT_EQ(info({save(Bytes(10, 0))}).status, 1);  // no disk at all
    const ToolRun missing = info({images.file("missing.d88")});
    EXPECT_EQ(missing.status, 2);
    EXPECT_EQ(missing.out, "");
    EXPECT_EQ(missing.err, testutil::text("imgpry-info: cannot open " + images.file("missing.d88") +
                                          ": No such file or directory\n"));
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {}, {"--json", "--map", "x"}, {"--bogus", "x"}, {"a", "b"}, {"--tracks", "--json", "x"}}) {
        const ToolRun r = info(args);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, testutil::text("Usage: imgpry-info [--tracks] [--json | --map] IMAGE\n"));
    }
    EXPECT_EQ(info({"--help"}).status, 0);
    const ToolRun version = info({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("imgpry-info " IMGPRY_VERSION, 0), 0U);
    EXPECT_TRUE(info({testutil::hostPath(IMGPRY_SAMPLE)}).files.empty());  // writes nothing
}

TEST_F(Info, TheReportTellsEachFilesState) {
    const std::string path = save(damagedImage());
    const ToolRun r = info({"--tracks", path});
    EXPECT_EQ(r.status, 1);
    const std::string& out = r.out;
    for (const std::string& want : {
             std::string("disk 1 at offset 0: \"ONE\", 2D"),
             std::string("  PART.BIN         8192  trk=04 sec=01  partly read: 7168 of 8192 bytes; short: trk=05 "
                         "sec=02 (0 bytes); marked: trk=04 sec=03 (data CRC error)"),
             std::string("  SAME             1024  trk=06 sec=01  whole; replaced by disk 2 entry 0"),
             std::string("  A/B              1024  trk=07 sec=01  whole; unsafe name"),
             std::string("directory: not read, 0 of 2048 bytes, trk=01 sec=01 is missing; track 1 holds 16 sectors of "
                         "256 bytes: not this file system"),
             std::string("  track 1 at offset "),
             std::string("    C=02 H=00 R=03 N=03   1024 bytes  double density  status 0xb0"),
         }) {
        EXPECT_NE(out.find(testutil::text(want)), std::string::npos) << want << "\nin:\n" << out;
    }
}

TEST_F(Info, TheJsonIsValidAndAgreesWithImgpry) {
    if (!havePython()) GTEST_SKIP() << "needs python3";
    const std::string path = save(damagedImage());
    const ToolRun j = info({"--json", path});
    EXPECT_EQ(j.status, 1);
    // What imgpry itself says of the same image.
    testutil::TempDir dir;
    const ToolRun tool = testutil::runImgpryIn(dir.path(), {path});
    std::string script = R"(
import json, sys
doc = json.load(open(sys.argv[1], encoding="utf-8"))
assert doc["image"].endswith("image.d88")
assert doc["moreDisks"] is False and len(doc["disks"]) == 3
one, two, real = doc["disks"]
assert one["disk"] == 1 and one["name"] == "ONE" and one["nameBytes"] == "4f4e45" and one["media"] == "2D"
assert one["directory"] == {"read": 2048, "stop": None, "marked": []}
files = {f["name"]: f for f in one["files"]}
part = files["PART.BIN"]
assert part["read"] == 7168 and part["short"] == [{"track": 5, "sector": 2, "held": 0}]
assert part["marked"] == [{"track": 4, "sector": 3, "status": 176, "deleted": 0, "meaning": "data CRC error"}]
assert part["written"] is True and part["replacedBy"] is None
assert files["SAME"]["replacedBy"] == {"disk": 2, "entry": 0}
assert files["A/B"]["unsafe"] is True and files["A/B"]["written"] is False
assert real["directory"]["read"] == 0 and real["directory"]["stop"] == {"track": 1, "sector": 1, "held": 0}
assert real["files"] == []
tracks = {t["track"]: t for t in real["tracks"]}
assert len(tracks[1]["records"]) == 16 and all(r["size"] == 256 for r in tracks[1]["records"])
# Every file imgpry wrote is one the JSON calls written, and the other way round.
listing = open(sys.argv[1] + ".listing", encoding="latin-1").read().splitlines()
written = [l[:12].rstrip() for l in listing if l.endswith(" ... cutted.")]
assert written == [f["name"] for d in doc["disks"] for f in d["files"] if f["written"]], written
)";
    fixture::writeFile(dir.file("x"), {});
    testutil::TempDir docs;
    const std::string doc = docs.file("doc");
    fixture::writeFile(doc, Bytes(j.out.begin(), j.out.end()));
    fixture::writeFile(doc + ".listing", Bytes(tool.out.begin(), tool.out.end()));
    fixture::writeFile(docs.file("check.py"), Bytes(script.begin(), script.end()));
    EXPECT_EQ(std::system(("python3 " + quoted(docs.file("check.py")) + " " + quoted(doc)).c_str()), 0) << j.out;

    // The real disks, and a name that is no UTF-8: still valid JSON.
    for (const char* real : {"HuBASIC_Format_2D.d88", "CPM_Format_2D_turboCPM_X1turbo.d88"}) {
        const ToolRun r = info({"--json", std::string(IMGPRY_TEST_DATA) + "/real-d88/" + real});
        EXPECT_TRUE(
            python("import json,sys; d=json.load(open(sys.argv[1],encoding='utf-8')); "
                   "assert len(d['disks'])==1 and d['disks'][0]['files']==[]",
                   r.out))
            << real;
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

TEST_F(Info, TheMapIsAnSvgDocument) {
    if (!havePython()) GTEST_SKIP() << "needs python3";
    FileSystemDisk d(12, "<MAP & \x1b>");
    d.addFile("A<B", "", 2, 1, pattern(3 * 1024, 1)).addFile("OVER", "", 2, 3, pattern(2 * 1024, 2));
    d.disk().tracks.at(3).at(0).status = 0xA0;
    const ToolRun r = info({"--map", save(d.build())});
    EXPECT_EQ(r.status, 0);  // the marked and shared sectors touch no file's bytes as imgpry reads them
    EXPECT_TRUE(python(R"(
import sys, xml.etree.ElementTree as ET
root = ET.parse(sys.argv[1]).getroot()
assert root.tag == "{http://www.w3.org/2000/svg}svg"
text = "".join(root.itertext())
assert "<MAP & ?>" in text and "A<B" in text and "OVER" in text
svg = open(sys.argv[1], encoding="utf-8").read()
assert "<script" not in svg and "href" not in svg
assert "#000000" in svg and "#d00000" in svg
)",
                       r.out))
        << r.out;
}

}  // namespace
