// The scpecg tool end to end: every test runs the built tool in a scratch
// folder and checks its exit code, its messages and the files it writes.
#include <edflib.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#ifdef SCPECG_HAVE_PNG
#include <png.h>
#endif

#include "lib/dbclient/testrecord.h"
#include "reader/scpwriter.h"
#include "tools/scpecg/plot.h"
#include "tools/scpecg/record_json.h"
#include "tools/scpecg/scpfile.h"
#include "tools/scpecg/synth.h"
#include "tools/scpecg/text.h"

namespace fs = std::filesystem;
using scpecg::Json;

namespace {

struct Result {
  int code = -1;
  std::string out;
  std::string err;
};

std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) {
    if (c == '\'')
      q += "'\\''";
    else
      q += c;
  }
  return q + "'";
}

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteAll(const fs::path& p, const std::string& text) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out << text;
}

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "scpecg-cli-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    // Registered scramble keys live under the configuration folder; each
    // test has its own, empty one.
    config_ = dir_ / "config";
    fs::create_directories(config_);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  fs::path File(const std::string& name) const { return dir_ / name; }

  Result Run(const std::vector<std::string>& args) const {
    std::string cmd = "cd " + Quote(dir_.string()) + " && XDG_CONFIG_HOME=" + Quote(config_.string()) + " " +
                      Quote(SCPECG_BIN);
    for (const std::string& a : args) cmd += " " + Quote(a);
    const fs::path out = dir_ / ".stdout", err = dir_ / ".stderr";
    cmd += " >" + Quote(out.string()) + " 2>" + Quote(err.string()) + " </dev/null";
    const int status = std::system(cmd.c_str());
    Result r;
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = ReadAll(out);
    r.err = ReadAll(err);
    return r;
  }

  Json DumpJson(const fs::path& file) const {
    const Result r = Run({"dump", file.string()});
    EXPECT_EQ(r.code, 0) << r.err;
    return Json::parse(r.out, nullptr, false);
  }

  // Runs the demo once per test that needs it.
  fs::path Demo() const {
    const fs::path scp = File("demo.scp");
    const Result r = Run({"demo", scp.string()});
    EXPECT_EQ(r.code, 0) << r.err;
    return scp;
  }

  fs::path dir_;
  fs::path config_;
};

// Every key of `part` is in `whole` with an equal value; arrays must have
// the same length and match element by element.
::testing::AssertionResult Subset(const Json& part, const Json& whole, const std::string& path = "$") {
  if (part.is_object()) {
    if (!whole.is_object()) return ::testing::AssertionFailure() << path << " is not an object";
    for (auto it = part.begin(); it != part.end(); ++it) {
      if (!whole.contains(it.key())) return ::testing::AssertionFailure() << path << "." << it.key() << " missing";
      auto r = Subset(it.value(), whole[it.key()], path + "." + it.key());
      if (!r) return r;
    }
    return ::testing::AssertionSuccess();
  }
  if (part.is_array()) {
    if (!whole.is_array() || whole.size() != part.size())
      return ::testing::AssertionFailure() << path << ": array length differs";
    for (size_t i = 0; i < part.size(); ++i) {
      auto r = Subset(part[i], whole[i], path + "[" + std::to_string(i) + "]");
      if (!r) return r;
    }
    return ::testing::AssertionSuccess();
  }
  if (part != whole) return ::testing::AssertionFailure() << path << ": " << part.dump() << " != " << whole.dump();
  return ::testing::AssertionSuccess();
}

Json Range(size_t n, int64_t start, int64_t step) {
  Json a = Json::array();
  for (size_t i = 0; i < n; ++i) a.push_back(start + static_cast<int64_t>(i) * step);
  return a;
}

std::string Base64(const std::string& bytes) {
  return scpecg::Base64Encode(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
}

// A record that fills every field family and every sub-record a save writes.
Json FullRecord(bool holter) {
  Json j;
  j["format"] = scpecg::kFormatName;
  j["patientName"] = "Müller^Jörg^Ñúñez";
  j["storedPatientId"] = "P-4711";
  j["accessionNumber"] = "ACC-2024-0001";
  j["acquisitionDateTime"] = "2024-02-29T23:59:58";
  j["birthDate"] = "1950-12-31";
  j["age"] = 26722;
  j["sex"] = 1;
  j["height"] = 7000;
  j["weight"] = 18100;
  j["race"] = 4;
  j["street"] = "Hauptstraße 1";
  j["city"] = "Köln";
  j["drugs"] = "Metoprolol 50 mg";
  j["diagnosis"] = std::string(255, 'D');
  j["room"] = 4242;
  j["smoking"] = 3;
  j["pacemaker"] = 4;
  j["tag209Date"] = "2023-01-02";
  j["bloodPressure"] = {{"systolic", 131}, {"diastolic", 87}};
  j["highPassFilter"] = 32767;
  j["lowPassFilter"] = 40;
  j["filterBitmap"] = 255;
  j["targetHeartRate"] = 150;
  j["exerciseType"] = 1;
  j["exerciseFlag"] = 1;
  j["pairValue6"] = 4294967295u;
  j["measureLeadA"] = 11;
  j["measureLeadB"] = 0;
  j["tag212Flag"] = 1;
  j["tag181Value"] = 123456789;
  j["procedureType"] = holter ? 4 : 0;
  j["interpretationStatus"] = 2;
  j["interpretationText"] = Json::array({"Sinus rhythm", "", "Line with\nline feed", "Ende"});
  j["confirmedDateTime"] = "2024-03-01T08:00:00";
  j["overreadDateTime"] = "2024-03-01T07:30:15.37";
  j["confirmingPhysician"] = "Dr. Confirm";

  Json leads = Json::array();
  for (int ch = 0; ch < 10; ++ch) {
    Json s = Json::array();
    for (int i = 0; i < 1000; ++i)
      s.push_back(static_cast<int>(std::lround(800 * std::sin(0.01 * i * (ch + 1)))) + (i % 7) - 3);
    if (ch == 9) {
      s[10] = 32767;
      s[11] = -32768;
    }
    leads.push_back({{"channel", ch}, {"lead", scpecg::ChannelName(ch)}, {"samples", s}});
  }
  j["waveform"] = {{"samplingRate", 250}, {"amplitudeResolution", 2500}, {"samplesPerLead", 1000}, {"leads", leads}};

  auto annotations = [&](size_t n) {
    Json a;
    a["valueA"] = 7;
    a["valueB"] = 4000000000u;
    Json e = Json::array();
    for (size_t i = 0; i < n; ++i) e.push_back({100 * i, i % 3, 255, 65535 - i});
    a["entries"] = e;
    if (holter) {
      Json x;
      for (const char* k : {"17", "18", "19"}) {
        Json arr = Json::array();
        for (size_t i = 0; i < n; ++i) arr.push_back(Range(13, static_cast<int64_t>(i), 1));
        x[k] = arr;
      }
      a["extensions"] = x;
    }
    return a;
  };
  j["annotations"] = annotations(5);
  j["pAnnotations"] = annotations(3);
  j["episodes"] = {{"entries", Json::array({{{"value1", 1}, {"value2", 2}, {"value3", 3}, {"value4", 4}, {"value5", 5},
                                              {"typeCode", 36}, {"text", "ST-Senkung"}},
                                             {{"value1", 10}, {"typeCode", 0}, {"text", nullptr}}})}};
  j["pacemakerList"] = {{"values", Json::array({1, 2, 4294967295u})}};

  Json complexes = Json::array();
  for (int c = 0; c < 2; ++c) {
    Json cx;
    cx["value1"] = c == 0 ? -1234 : 32767;
    cx["sampleCount"] = 40;
    cx["codeA"] = 4;
    cx["codeB"] = 2;
    cx["values7to15"] = Range(9, 100 * c, 1);
    cx["leads"] = Json::array({{{"leadCode", 20}, {"samples", Range(40, -20, 1)}},
                               {{"leadCode", c}, {"samples", Range(40, 1000, -50)}}});
    Json groups = Json::array();
    for (int g = 0; g < 15; ++g) groups.push_back(Range(61, g, 3));
    cx["measurements"] = {{"m1", 5}, {"flag", 1}, {"m2to9", Range(8, 2, 1)}, {"m10", 10},
                          {"m11to17", Range(7, 11, 1)}, {"groups", groups}};
    cx["text"] = {{"t1", 1}, {"t2", 2}, {"text", "Mittelwertkomplex"}, {"code", "ABCD"}, {"t3", 3}, {"t4", 4}};
    complexes.push_back(cx);
  }
  j["complexes"] = complexes;
  j["trends"] = {{"0", {{"valueCount", 3}, {"times", Json::array({0, 1000, 2000, 3000})},
                        {"values", Json::array({Range(3, 1, 1), Range(3, -5, 2), Range(3, 2147483645, 1),
                                                Range(3, -2147483647 - 1, 1)})}}},
                 {"31", {{"valueCount", 1}, {"times", Json::array({5, 6})}, {"values", Json::array({{-1}, {1}})}}}};
  Json rhythms = Json::array();
  for (int k = 0; k < 2; ++k) {
    Json w = Range(168, 17 + k, 3);
    w[0] = 672;
    w[1] = 4;
    rhythms.push_back(w);
  }
  j["rhythms"] = rhythms;
  j["bloodPressureDataRecord"] = {{"readings", Json::array({Range(70, 1, 1), Range(70, 1000, 7)})}};
  Json groups = Json::array();
  for (int g = 0; g < 12; ++g) groups.push_back({{"values", Range(7, g, 1)}, {"extra", Range(2, 100 + g, 1)}});
  j["bloodPressureResultsRecord"] = {{"value1", 11}, {"value2", 22}, {"groups", groups}};
  Json spiro = Range(106, 3, 5);
  spiro[0] = 424;
  j["spirometryDataRecord"] = {{"words", spiro}};
  j["auditTrailRecord"] = {
      {"entries", Json::array({{{"year", 2024}, {"month", 2}, {"day", 29}, {"hour", 23}, {"minute", 59},
                                {"milliseconds", 59999}, {"actionCode", 3}, {"text", "signed by Dr. Ä"}},
                               {{"year", -1}, {"month", 0}, {"day", 0}, {"hour", 0}, {"minute", 0},
                                {"milliseconds", 0}, {"actionCode", 0}, {"text", std::string(32, 'x')}}})}};
  j["diaryDocument"] = Base64("%PDF-1.4\n% diary\n" + std::string(300, '\0') + "%%EOF\n");
  j["reportDocument"] = Base64("%PDF-1.7 report\xff\xfe");
  j["holterConfigBlock"] = Base64(std::string(1, '\x01'));
  Json b1e = Json::array();
  for (int i = 0; i < 8; ++i) b1e.push_back({i + 1, 1000 + i});
  Json b4e = Json::array();
  for (int i = 0; i < 25; ++i) b4e.push_back({i % 2, i, i + 1, i + 2});
  j["holterConfig"] = {{"sizeWord", 696},
                       {"version", 13},
                       {"block1", {{"values", Range(3, 1, 1)}, {"entries", b1e}}},
                       {"block2", {{"flags", Json::array({1, 0, 1, 0, 1})}, {"values", Range(5, 9, 1)}, {"extra", Range(2, 7, 1)}}},
                       {"block3", {{"values", Range(17, 40, 1)}, {"value68", 68}, {"flags", 0x01FFFFFF}}},
                       {"block4", {{"value", 44}, {"entries", b4e}}},
                       {"block5", Range(4, 5, 1)},
                       {"block6", Range(18, 6, 1)},
                       {"closingFlag", 1}};
  return j;
}

// ------------------------------------------------------------------ demo

TEST_F(CliTest, DemoSavesChecksFetchesAndPlotsQuietly) {
  const Result r = Run({"demo", "sub/dir/demo.scp"});
  ASSERT_EQ(r.code, 0) << r.err;
  // A clean run shows no problem from the library at all.
  EXPECT_EQ(r.err, "");
  EXPECT_NE(r.out.find("every field, sub-record and sample equal"), std::string::npos) << r.out;
  ASSERT_TRUE(fs::exists(File("sub/dir/demo.scp")));
  ASSERT_TRUE(fs::exists(File("sub/dir/demo.svg")));
  EXPECT_FALSE(fs::exists(File("sub/dir/demo.scp.partial")));

  const Json d = DumpJson(File("sub/dir/demo.scp"));
  ASSERT_TRUE(d.is_object());
  const Json& w = d["waveform"];
  EXPECT_EQ(w["samplingRate"], 500);
  EXPECT_EQ(w["amplitudeResolution"], 5000);
  ASSERT_EQ(w["leads"].size(), 8u);
  for (size_t k = 0; k < 8; ++k) EXPECT_EQ(w["leads"][k]["samples"].size(), 5000u);
  // Roughly 70 beats a minute: 11 to 13 beats in ten seconds, one annotation each.
  const size_t beats = d["annotations"]["entries"].size();
  EXPECT_GE(beats, 11u);
  EXPECT_LE(beats, 13u);
  EXPECT_EQ(d["auditTrailRecord"]["entries"].size(), 1u);
  EXPECT_EQ(d["episodes"]["entries"][0]["text"], "Sinus rhythm");
  EXPECT_EQ(d["interpretationText"].size(), 3u);
  EXPECT_EQ(d["accessionNumber"].get<std::string>().size(), 31u);
  EXPECT_EQ(d["derived"]["identityReadable"], 1);

  // The synthesized record is the same on every run (only the accession
  // number is new each time).
  Json first = d;
  ASSERT_EQ(Run({"demo", "again.scp"}).code, 0);
  Json second = DumpJson(File("again.scp"));
  first.erase("accessionNumber");
  second.erase("accessionNumber");
  EXPECT_EQ(first, second);
}

TEST_F(CliTest, VerboseShowsTheLibrarysInformationLines) {
  const Result quiet = Run({"demo", "q.scp"});
  ASSERT_EQ(quiet.code, 0);
  EXPECT_EQ(quiet.err.find("SCP Save Test Record"), std::string::npos);
  const Result loud = Run({"-v", "demo", "v.scp"});
  ASSERT_EQ(loud.code, 0) << loud.err;
  EXPECT_NE(loud.err.find("[SAVETESTRECORD] info: SCP Save Test Record ["), std::string::npos) << loud.err;
  EXPECT_NE(loud.err.find("[LIBSTART] start: "), std::string::npos) << loud.err;
}

// ------------------------------------------------------------------ info

enum class Damage { kNone, kSection6Byte, kSection0Byte, kRandomBytes, kPng, kTruncated };

struct InfoCase {
  const char* name;
  Damage damage;
  bool valid;
  const char* expected;  // in the human output
};

class InfoTest : public CliTest, public ::testing::WithParamInterface<InfoCase> {};

// A 1x1 PNG picture.
constexpr const char* kPng =
    "iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mNkYPhfDwAChwGA60e6kgAAAABJRU5ErkJggg==";

fs::path MakeCase(CliTest* t, const fs::path& demo, Damage damage, const fs::path& target) {
  std::string bytes = ReadAll(demo);
  switch (damage) {
    case Damage::kNone: break;
    case Damage::kSection6Byte: {
      scpecg::ScpFile f(demo.string());
      const scpecg::SectionInfo* s = f.Find(6);
      EXPECT_NE(s, nullptr);
      if (s) bytes[s->offset() + 40] ^= 0x5A;
      break;
    }
    case Damage::kSection0Byte: bytes[6 + 30] ^= 0x01; break;
    case Damage::kRandomBytes: {
      std::mt19937 rng(7);
      for (char& c : bytes) c = static_cast<char>(rng());
      break;
    }
    case Damage::kPng: {
      std::vector<uint8_t> png;
      EXPECT_TRUE(scpecg::Base64Decode(kPng, &png));
      bytes.assign(png.begin(), png.end());
      break;
    }
    case Damage::kTruncated: bytes.resize(200); break;
  }
  WriteAll(target, bytes);
  (void)t;
  return target;
}

TEST_P(InfoTest, ReportsValidityAndTheSectionTable) {
  const InfoCase& c = GetParam();
  const fs::path demo = Demo();
  const fs::path file = MakeCase(this, demo, c.damage, File(std::string(c.name) + ".bin"));

  const Result human = Run({"info", file.string()});
  EXPECT_EQ(human.code, c.valid ? 0 : 1) << human.out << human.err;
  EXPECT_NE(human.out.find(c.expected), std::string::npos) << human.out;
  EXPECT_NE(human.out.find(file.string()), std::string::npos);

  const Result machine = Run({"info", "--json", file.string()});
  EXPECT_EQ(machine.code, c.valid ? 0 : 1);
  const Json j = Json::parse(machine.out, nullptr, false);
  ASSERT_TRUE(j.is_array()) << machine.out;
  ASSERT_EQ(j.size(), 1u);
  EXPECT_EQ(j[0]["valid"], c.valid);
  if (c.valid) {
    // A damaged Section 6 still leaves the record valid, but the library
    // then reports no rhythm data, and says why.
    const bool rhythm = c.damage != Damage::kSection6Byte;
    EXPECT_EQ(j[0]["formatInfo"]["leadCount"], rhythm ? 8 : 0);
    EXPECT_EQ(j[0]["formatInfo"]["samplingRate"], rhythm ? 500 : 0);
    EXPECT_EQ(j[0]["formatInfo"]["amplitudeMultiplier"], rhythm ? 5000 : 0);
    EXPECT_EQ(j[0]["formatInfo"]["longestLead"], rhythm ? 5000 : 0);
    EXPECT_EQ(j[0]["formatInfo"]["channel7"], rhythm ? 7 : 0);
    EXPECT_EQ(machine.err.find("[ISVALIDFORMAT] scpecg:4830 SCP-ECG: CRC error ( section 6 )") != std::string::npos,
              !rhythm)
        << machine.err;
    EXPECT_EQ(j[0]["procedureType"], 1);
    ASSERT_EQ(j[0]["sections"].size(), 33u);
    for (const Json& s : j[0]["sections"]) {
      const int id = s["id"].get<int>();
      const bool written = id == 0 || id == 1 || id == 2 || id == 3 || id == 6 || id == 8 || id == 129 ||
                           id == 130 || id == 131 || id == 139 || id == 147;
      const std::string expected = !written ? "absent" : (c.damage == Damage::kSection6Byte && id == 6) ? "bad" : "ok";
      EXPECT_EQ(s["crc"], expected) << "section " << id;
    }
    EXPECT_EQ(j[0]["recordCrc"], c.damage == Damage::kNone ? "ok" : "bad");
  } else {
    EXPECT_TRUE(j[0]["formatInfo"].is_null());
    EXPECT_EQ(j[0]["procedureType"], 7);
    // The library's own complaint comes back with the file.
    EXPECT_NE(machine.err.find("[ISVALIDFORMAT] scpsrv:287 IsValidFormat: [" + file.string() + "]"),
              std::string::npos)
        << machine.err;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Files, InfoTest,
    ::testing::Values(InfoCase{"valid", Damage::kNone, true, "valid SCP-ECG record, procedure type 1"},
                      InfoCase{"flipped6", Damage::kSection6Byte, true, "bad: CRC is wrong"},
                      InfoCase{"flipped0", Damage::kSection0Byte, false, "section 0 CRC is wrong"},
                      InfoCase{"random", Damage::kRandomBytes, false, "not a valid SCP-ECG record"},
                      InfoCase{"png", Damage::kPng, false, "not a valid SCP-ECG record"},
                      InfoCase{"truncated", Damage::kTruncated, false, "not a valid SCP-ECG record"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CliTest, InfoOnManyFilesReportsEachAndFailsWhenOneIsBad) {
  const fs::path demo = Demo();
  MakeCase(this, demo, Damage::kPng, File("pic.png"));
  const Result r = Run({"info", "--json", demo.string(), File("pic.png").string(), File("missing.scp").string()});
  EXPECT_EQ(r.code, 1);
  const Json j = Json::parse(r.out, nullptr, false);
  ASSERT_EQ(j.size(), 3u);
  EXPECT_EQ(j[0]["valid"], true);
  EXPECT_EQ(j[1]["valid"], false);
  EXPECT_EQ(j[2]["error"], "no such file");
  EXPECT_NE(r.err.find(File("missing.scp").string() + ": no such file"), std::string::npos) << r.err;
  // Not a terminal: no progress bar in the messages.
  EXPECT_EQ(r.err.find("\r"), std::string::npos);
}

// ------------------------------------------------------------ dump and make

class FixedPointTest : public CliTest, public ::testing::WithParamInterface<bool> {};

TEST_P(FixedPointTest, DumpMakeDumpIsAFixedPoint) {
  const bool holter = GetParam();
  const Json j0 = FullRecord(holter);
  WriteAll(File("in.json"), j0.dump(2));
  const Result made = Run({"make", "in.json", "a.scp"});
  ASSERT_EQ(made.code, 0) << made.err;
  EXPECT_EQ(made.err, "");

  const Json j1 = DumpJson(File("a.scp"));
  ASSERT_TRUE(j1.is_object());
  // Everything given comes back as it was given.
  EXPECT_TRUE(Subset(j0, j1));
  EXPECT_EQ(j1["waveform"]["leads"][9]["lead"], "Y");
  EXPECT_EQ(j1["complexes"][0]["recordLength"], 2984 + 16 + 2 * 2 * 40);

  WriteAll(File("j1.json"), scpecg::PrintJson(j1));
  const Result again = Run({"make", "j1.json", "b.scp"});
  ASSERT_EQ(again.code, 0) << again.err;
  const Json j2 = DumpJson(File("b.scp"));
  EXPECT_EQ(j1, j2) << scpecg::DiffJson(j1, j2, 5).front();
}

INSTANTIATE_TEST_SUITE_P(Records, FixedPointTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? std::string("Holter") : std::string("Resting"); });

TEST_F(CliTest, DumpLeavesOutWhatADamagedSectionHeldAndSaysSo) {
  const fs::path demo = Demo();
  std::string bytes = ReadAll(demo);
  scpecg::ScpFile f(demo.string());
  const scpecg::SectionInfo* s = f.Find(130);
  ASSERT_NE(s, nullptr);
  bytes[s->offset() + 24] ^= 0x10;
  WriteAll(File("bad130.scp"), bytes);
  const Result r = Run({"dump", "bad130.scp"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.err.find("[FETCHTEST] scpecg:4830 SCP-ECG: CRC error ( section 130 )"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("bad130.scp: section 130 CRC is wrong: annotations left out"), std::string::npos) << r.err;
  const Json j = Json::parse(r.out, nullptr, false);
  EXPECT_TRUE(j["annotations"].is_null());
  EXPECT_EQ(j["waveform"]["leads"].size(), 8u);
}

TEST_F(CliTest, DumpOfAForeignFileFailsNamingIt) {
  const Result r = Run({"dump", SCPECG_BIN});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find(std::string(SCPECG_BIN) + ": not an SCP-ECG record"), std::string::npos) << r.err;
  EXPECT_EQ(r.out, "");
}

struct Refusal {
  const char* name;
  const char* pointer;  // JSON pointer of the value to replace ("" for the root)
  const char* value;    // JSON text
  const char* message;  // expected in the error output
};

class RefusalTest : public CliTest, public ::testing::WithParamInterface<Refusal> {};

TEST_P(RefusalTest, BadJsonIsRefusedWithItsPathAndNothingIsWritten) {
  const Refusal& c = GetParam();
  Json j = FullRecord(true);
  const Json value = Json::parse(c.value);
  if (std::string(c.pointer).empty())
    j = value;
  else
    j[Json::json_pointer(c.pointer)] = value;
  WriteAll(File("bad.json"), j.dump());
  // An existing output stays as it was.
  WriteAll(File("kept.scp"), "previous content");
  for (const char* out : {"new.scp", "kept.scp"}) {
    const Result r = Run({"make", "bad.json", out});
    EXPECT_EQ(r.code, 1) << r.err;
    EXPECT_NE(r.err.find(std::string("bad.json: ") + c.message), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("bad.json: refused; nothing written"), std::string::npos) << r.err;
  }
  EXPECT_FALSE(fs::exists(File("new.scp")));
  EXPECT_FALSE(fs::exists(File("new.scp.partial")));
  EXPECT_EQ(ReadAll(File("kept.scp")), "previous content");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RefusalTest,
    ::testing::Values(
        Refusal{"UnknownKey", "/nickname", "\"Jo\"", "$.nickname: unknown key"},
        Refusal{"UnknownNestedKey", "/waveform/leads/0/gain", "2", "$.waveform.leads[0].gain: unknown key"},
        Refusal{"WrongType", "/sex", "\"2\"", "$.sex: expected an integer, got a string"},
        Refusal{"Fraction", "/weight", "181.5", "$.weight: expected an integer, got a fraction"},
        Refusal{"SexOutOfRange", "/sex", "3", "$.sex: 3 is out of range (0 to 2)"},
        Refusal{"NegativeAge", "/age", "-1", "$.age: -1 is out of range (0 to 65535)"},
        Refusal{"SampleOutOfRange", "/waveform/leads/1/samples/7", "40000",
                "$.waveform.leads[1].samples[7]: 40000 is out of range (-32768 to 32767)"},
        Refusal{"MonthOutOfRange", "/birthDate", "\"1961-13-01\"", "$.birthDate: \"1961-13-01\" is out of range"},
        Refusal{"NotADate", "/acquisitionDateTime", "\"yesterday\"", "$.acquisitionDateTime: \"yesterday\" is not a date"},
        Refusal{"HeightChangedByMillimetres", "/height", "6900", "$.height: 6900 does not survive"},
        Refusal{"RateWithoutWholeInterval", "/waveform/samplingRate", "7", "$.waveform.samplingRate: 7 Hz cannot be stored"},
        Refusal{"NameWithoutSeparators", "/patientName", "\"Smith\"", "$.patientName: expected last^first^second-last"},
        Refusal{"NotLatin1", "/city", "\"Euro \\u20ac\"", "$.city: character U+20AC cannot be stored"},
        Refusal{"TextTooLong", "/state", "\"ABCDEFGH\"", "$.state: text of 8 characters is too long (at most 7)"},
        Refusal{"SpirometryLength", "/spirometryDataRecord/words/0", "7", "$.spirometryDataRecord.words[0]:"},
        Refusal{"AuditHour", "/auditTrailRecord/entries/0/hour", "24",
                "$.auditTrailRecord.entries[0].hour: 24 is out of range (0 to 23)"},
        Refusal{"TrendRowLength", "/trends/0/values/1", "[1,2]", "$.trends.0.values[1]: expected 3 elements, got 2"},
        Refusal{"EpisodeType", "/episodes/entries/0/typeCode", "37",
                "$.episodes.entries[0].typeCode: 37 is out of range (0 to 36)"},
        Refusal{"DocumentNotBase64", "/diaryDocument", "\"not base64!\"", "$.diaryDocument: is not valid base64"},
        Refusal{"StatementWithCarriageReturn", "/interpretationText/0", "\"a\\rb\"",
                "$.interpretationText[0]: a statement cannot hold a carriage return"},
        Refusal{"ExtensionsOutsideHolter", "/procedureType", "1",
                "$.annotations.extensions: extension arrays are read back only for a Holter record"},
        Refusal{"LeadNameOfAnotherChannel", "/waveform/leads/0/lead", "\"II\"",
                "$.waveform.leads[0].lead: channel 0 records lead I, not II"},
        Refusal{"DescendingChannels", "/waveform/leads/1/channel", "0",
                "$.waveform.leads[1].channel: leads must be listed in ascending channel order"},
        Refusal{"OriginalTimeWithConfirmedStatus", "/originalDateTime", "\"2024-01-01T00:00:00\"",
                "$.originalDateTime: is stored only with interpretationStatus 0"},
        Refusal{"ReadOnlySpirometryItems", "/spirometryItems", "[{\"words\":[]}]",
                "$.spirometryItems: spirometry items are only read from files"},
        Refusal{"NotAnObject", "", "[1,2]", "$: expected an object, got an array"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CliTest, MakeRefusesTextThatIsNotJson) {
  WriteAll(File("broken.json"), "{\"sex\": 1,");
  const Result r = Run({"make", "broken.json", "out.scp"});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("broken.json: not valid JSON"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(File("out.scp")));
}

TEST_F(CliTest, MakeFillsWhatIsMissingWithTheRecordsDefaults) {
  WriteAll(File("small.json"), R"({"patientName": "Doe^Jane^", "sex": 2})");
  const Result r = Run({"make", "small.json", "small.scp"});
  ASSERT_EQ(r.code, 0) << r.err;
  const Json j = DumpJson(File("small.scp"));
  EXPECT_EQ(j["patientName"], "Doe^Jane^");
  EXPECT_EQ(j["procedureType"], 1);
  EXPECT_EQ(j["measureLeadA"], 6);
  EXPECT_EQ(j["interpretationText"], Json::array({""}));
  EXPECT_TRUE(j["waveform"].is_null());
  // The save gave it an accession number.
  EXPECT_EQ(j["accessionNumber"].get<std::string>().size(), 31u);
}

// ------------------------------------------------------------ plot, export

TEST_F(CliTest, PlotDrawsTheChosenWindowAndRefusesOneBeyondTheRecording) {
  const fs::path demo = Demo();
  const Result r = Run({"plot", demo.string(), "-o", "w.svg", "--from", "4", "--seconds", "5"});
  ASSERT_EQ(r.code, 0) << r.err;
  const std::string svg = ReadAll(File("w.svg"));
  EXPECT_NE(svg.find("4.00 s to 9.00 s of 10.00 s"), std::string::npos);
  // 5 s at 25 mm/s plus the calibration column and the margins.
  const double width = 2 * scpecg::kMargin + scpecg::kCalibrationWidth + 125;
  char expected[64];
  std::snprintf(expected, sizeof expected, "width=\"%.2fmm\"", width);
  EXPECT_NE(svg.find(expected), std::string::npos);
  for (const char* lead : {">I<", ">II<", ">III<", ">aVR<", ">aVL<", ">aVF<", ">V1<", ">V6<"})
    EXPECT_NE(svg.find(lead), std::string::npos) << lead;

  const Result late = Run({"plot", demo.string(), "-o", "late.svg", "--from", "20"});
  EXPECT_EQ(late.code, 1);
  EXPECT_NE(late.err.find("demo.scp: the window starts at 20 s, but the recording lasts 10 s"), std::string::npos)
      << late.err;
  EXPECT_FALSE(fs::exists(File("late.svg")));
}

TEST_F(CliTest, PlotShowsNoNameWhenTheScrambleKeyIsNotRegisteredHere) {
  Json j = FullRecord(false);
  j["scrambleKey"] = "k1Q";
  j["storedPatientId"] = "ZX-908";
  WriteAll(File("k.json"), j.dump());
  ASSERT_EQ(Run({"make", "k.json", "k.scp"}).code, 0);

  ASSERT_EQ(Run({"plot", "k.scp", "-o", "hidden.svg"}).code, 0);
  const std::string hidden = ReadAll(File("hidden.svg"));
  EXPECT_EQ(hidden.find("Müller"), std::string::npos);
  EXPECT_NE(hidden.find("ZX-908 (as stored)"), std::string::npos);
  EXPECT_EQ(DumpJson(File("k.scp"))["derived"]["identityReadable"], 0);

  fs::create_directories(config_ / "Veltrona" / "Miravel 4" / "PHI" / "k1Q");
  ASSERT_EQ(Run({"plot", "k.scp", "-o", "shown.svg"}).code, 0);
  const std::string shown = ReadAll(File("shown.svg"));
  EXPECT_NE(shown.find("Müller Ñúñez, Jörg"), std::string::npos);
  EXPECT_EQ(shown.find("(as stored)"), std::string::npos);
}

// The export goes through the tool's reader, the dump through the plug-in's
// FETCHTEST: on our own records both give every sample alike.
class ExportTest : public CliTest, public ::testing::WithParamInterface<uint32_t> {};

TEST_P(ExportTest, CsvHoldsEverySampleTheFetchGivesTimesTheResolution) {
  const uint32_t samples = GetParam();
  fs::path file = Demo();
  if (samples != 5000) {  // leads of 32000 samples and more get 4-byte counts
    Json j;
    Json leads = Json::array();
    for (int ch : {0, 8}) {
      Json s = Json::array();
      for (uint32_t i = 0; i < samples; ++i) s.push_back(static_cast<int>(std::lround(900 * std::sin(0.003 * i * (ch + 1)))));
      leads.push_back({{"channel", ch}, {"lead", scpecg::ChannelName(ch)}, {"samples", s}});
    }
    j["waveform"] = {{"samplingRate", 200}, {"amplitudeResolution", 2500}, {"samplesPerLead", samples}, {"leads", leads}};
    WriteAll(File("long.json"), j.dump());
    ASSERT_EQ(Run({"make", "long.json", "long.scp"}).code, 0);
    file = File("long.scp");
  }
  const Result r = Run({"export", file.string(), "--csv", "out/export.csv"});
  ASSERT_EQ(r.code, 0) << r.err;
  const Json d = DumpJson(file);
  const Json& w = d["waveform"];
  std::ifstream in(File("out/export.csv"));
  std::string line, header = "time_s";
  for (const Json& lead : w["leads"]) header += "," + lead["lead"].get<std::string>();
  ASSERT_TRUE(std::getline(in, line));
  EXPECT_EQ(line, samples == 5000 ? "time_s,I,II,V1,V2,V3,V4,V5,V6" : "time_s,I,X");
  EXPECT_EQ(line, header);
  const double resolutionUv = w["amplitudeResolution"].get<double>() / 1000.0;
  const double rate = w["samplingRate"].get<double>();
  size_t row = 0;
  while (std::getline(in, line)) {
    std::stringstream cells(line);
    std::string cell;
    std::getline(cells, cell, ',');
    ASSERT_NEAR(std::stod(cell), row / rate, 1e-9) << "row " << row;
    for (size_t lead = 0; lead < w["leads"].size(); ++lead) {
      ASSERT_TRUE(std::getline(cells, cell, ','));
      const double sample = w["leads"][lead]["samples"][row].get<double>();
      ASSERT_DOUBLE_EQ(std::stod(cell), sample * resolutionUv) << "row " << row << " lead " << lead;
    }
    ++row;
  }
  EXPECT_EQ(row, samples);
}

INSTANTIATE_TEST_SUITE_P(Records, ExportTest, ::testing::Values(5000u, 32000u));

TEST_F(CliTest, ExportOfARecordWithoutWaveformFails) {
  WriteAll(File("no.json"), R"({"patientName": "A^B^"})");
  ASSERT_EQ(Run({"make", "no.json", "no.scp"}).code, 0);
  const Result r = Run({"export", "no.scp", "--csv", "no.csv"});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("no.scp: the record holds no ECG waveform"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(File("no.csv")));
}

// ------------------------------------------------------------ usage errors

class UsageTest : public CliTest, public ::testing::WithParamInterface<std::vector<std::string>> {};

TEST_P(UsageTest, ExitsWithTwo) {
  const Result r = Run(GetParam());
  EXPECT_EQ(r.code, 2) << r.err;
  EXPECT_NE(r.err.find("scpecg: "), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Commands, UsageTest,
                         ::testing::Values(std::vector<std::string>{}, std::vector<std::string>{"frobnicate"},
                                           std::vector<std::string>{"info"},
                                           std::vector<std::string>{"make", "only-one.json"},
                                           std::vector<std::string>{"plot", "x.scp"},
                                           std::vector<std::string>{"plot", "x.scp", "-o", "x.svg", "--seconds", "-1"},
                                           std::vector<std::string>{"export", "x.scp", "--tsv", "x"}));

// A known signal written by EDFlib (labels with and without the "ECG "
// prefix, a signal that is no lead, a gain of 0.1 uV, beats and an episode)
// comes back from make --from edf and convert --to edf with every sample,
// the rate and the annotations.
TEST_F(CliTest, EdfMadeByEdflibSurvivesMakeAndConvert) {
  const char* labels[] = {"I", "ECG II", "V1", "ECG V6", "Resp"};
  constexpr int kSignals = 5, kRate = 500, kSeconds = 4;
  const int h = edfopen_file_writeonly(File("in.edf").c_str(), EDFLIB_FILETYPE_EDFPLUS, kSignals);
  ASSERT_GE(h, 0);
  for (int s = 0; s < kSignals; ++s) {
    edf_set_samplefrequency(h, s, kRate);
    edf_set_label(h, s, labels[s]);
    edf_set_physical_dimension(h, s, s == 4 ? "Ohm" : "uV");
    edf_set_digital_maximum(h, s, 32767), edf_set_digital_minimum(h, s, -32767);
    edf_set_physical_maximum(h, s, 3276.7), edf_set_physical_minimum(h, s, -3276.7);
  }
  auto digital = [](int s, int i) { return ((i * 7919 + s * 104729) % 65535) - 32767; };
  std::vector<int> block(kSignals * kRate);
  for (int second = 0; second < kSeconds; ++second) {
    for (int s = 0; s < kSignals; ++s)
      for (int i = 0; i < kRate; ++i) block[s * kRate + i] = digital(s, second * kRate + i);
    ASSERT_EQ(edf_blockwrite_digital_samples(h, block.data()), 0);
  }
  // Onsets in 100 us, on whole samples at 500 Hz.
  const std::vector<std::tuple<long long, long long, std::string>> notes = {
      {4000, -1, "QRS"}, {12000, 10000, "Atrial fibrillation"}, {21000, -1, "QRS type 5"}};
  for (const auto& [onset, duration, text] : notes) edfwrite_annotation_latin1(h, onset, duration, text.c_str());
  ASSERT_EQ(edfclose_file(h), 0);

  ASSERT_EQ(Run({"make", "--from", "edf", "in.edf", "r.scp"}).code, 0);
  const Result r = Run({"convert", "r.scp", "--to", "edf", "-o", "out"});
  ASSERT_EQ(r.code, 0) << r.err;
  edf_hdr_struct hdr{};
  ASSERT_EQ(edfopen_file_readonly(File("out/r.edf").c_str(), &hdr, EDFLIB_READ_ALL_ANNOTATIONS), 0);
  ASSERT_EQ(hdr.edfsignals, 4);
  ASSERT_EQ(hdr.annotations_in_file, 3);
  for (int i = 0; i < 3; ++i) {
    edf_annotation_struct a{};
    ASSERT_EQ(edf_get_annotation(hdr.handle, i, &a), 0);
    const auto& [onset, duration, text] = notes[static_cast<size_t>(i)];
    EXPECT_EQ(a.onset, onset * 1000);
    EXPECT_EQ(a.duration_l, duration < 0 ? -10000000 : duration * 1000);
    EXPECT_EQ(a.annotation, text);
  }
  const char* expected[] = {"ECG I", "ECG II", "ECG V1", "ECG V6"};
  for (int s = 0; s < 4; ++s) {
    EXPECT_EQ(std::string(hdr.signalparam[s].label).substr(0, std::strlen(expected[s])), expected[s]);
    EXPECT_EQ(hdr.signalparam[s].smp_in_file, kRate * kSeconds);
    EXPECT_EQ(hdr.signalparam[s].smp_in_datarecord * 10000000LL / hdr.datarecord_duration, kRate);
    std::vector<double> uv(kRate * kSeconds);
    ASSERT_EQ(edfread_physical_samples(hdr.handle, s, kRate * kSeconds, uv.data()), kRate * kSeconds);
    for (int i = 0; i < kRate * kSeconds; ++i) ASSERT_NEAR(uv[i], digital(s, i) * 0.1, 1e-6) << expected[s] << " " << i;
  }
  edfclose_file(hdr.handle);
}

TEST_F(CliTest, HelpExitsWithZero) {
  const Result r = Run({"--help"});
  EXPECT_EQ(r.code, 0);
  EXPECT_NE(r.out.find("demo"), std::string::npos);
}

// ------------------------------------------------------------ the pieces

TEST(ToolPieces, Crc16IsTheCcittCheckValue) {
  const char* text = "123456789";
  EXPECT_EQ(scpecg::Crc16(reinterpret_cast<const uint8_t*>(text), 9), 0x29B1);
}

TEST(ToolPieces, StatementsSplitAsTheSaveWritesThem) {
  using V = std::vector<std::string>;
  EXPECT_EQ(scpecg::SplitStatements(""), V{""});
  EXPECT_EQ(scpecg::SplitStatements("A\r\nB"), (V{"A", "B"}));
  EXPECT_EQ(scpecg::SplitStatements("A\r\nB\r\n"), (V{"A", "B"}));
  EXPECT_EQ(scpecg::SplitStatements("A\nB"), V{"A\nB"});
  EXPECT_EQ(scpecg::SplitStatements("A\r\n\r\nB\r\n"), (V{"A", "", "B"}));
  EXPECT_EQ(scpecg::SplitStatements("\r\n"), V{""});
}

TEST(ToolPieces, TextsAndDocumentsSurviveTheirJsonForm) {
  std::string all;
  for (int c = 1; c < 256; ++c) all.push_back(static_cast<char>(c));
  std::string back;
  uint32_t bad = 0;
  ASSERT_TRUE(scpecg::Utf8ToLatin1(scpecg::Latin1ToUtf8(all), &back, &bad));
  EXPECT_EQ(back, all);
  EXPECT_FALSE(scpecg::Utf8ToLatin1("\xE2\x82\xAC", &back, &bad));
  EXPECT_EQ(bad, 0x20ACu);

  for (size_t n : {0u, 1u, 2u, 3u, 4u, 5u, 257u}) {
    std::vector<uint8_t> bytes(n);
    for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<uint8_t>(i * 37 + 11);
    std::vector<uint8_t> decoded;
    ASSERT_TRUE(scpecg::Base64Decode(scpecg::Base64Encode(bytes), &decoded));
    EXPECT_EQ(decoded, bytes);
  }
  std::vector<uint8_t> decoded;
  for (const char* bad64 : {"abc", "a===", "ab=c", "ab c", "*abc"}) EXPECT_FALSE(scpecg::Base64Decode(bad64, &decoded)) << bad64;
}

TEST(ToolPieces, DiffFindsOneChangedSample) {
  const scpecg::SynthEcg ecg = scpecg::SynthesizeRestingEcg(2.0, 3);
  auto record = scpecg::BuildDemoRecord(ecg);
  const Json a = scpecg::DumpRecord(*record);
  Json b = a;
  b["waveform"]["leads"][5]["samples"][321] = b["waveform"]["leads"][5]["samples"][321].get<int>() + 1;
  const auto diffs = scpecg::DiffJson(a, b, 10);
  ASSERT_EQ(diffs.size(), 1u);
  EXPECT_EQ(diffs[0].rfind("$.waveform.leads[5].samples[321]: ", 0), 0u) << diffs[0];
  EXPECT_TRUE(scpecg::DiffJson(a, a, 10).empty());
}

TEST(ToolPieces, SynthesizedEcgHasItsRateAndIsReproducible) {
  const scpecg::SynthEcg a = scpecg::SynthesizeRestingEcg(10.0, 42);
  const scpecg::SynthEcg b = scpecg::SynthesizeRestingEcg(10.0, 42);
  const scpecg::SynthEcg c = scpecg::SynthesizeRestingEcg(10.0, 43);
  EXPECT_EQ(a.leads, b.leads);
  EXPECT_NE(a.leads, c.leads);
  EXPECT_NEAR(a.meanRateBpm, 70, 6);
  // Normal frontal axis.
  EXPECT_GT(a.axisDegrees, 0);
  EXPECT_LT(a.axisDegrees, 90);
  // The rate found in lead II agrees with the beats laid down.
  std::vector<double> ii(a.leads[1].begin(), a.leads[1].end());
  for (double& v : ii) v *= a.resolutionNv / 1000.0;
  EXPECT_NEAR(scpecg::EstimateHeartRate(ii, a.samplingRate), a.meanRateBpm, 4);
  // R waves of about 1 mV in lead II, deep S in V1.
  const auto [minII, maxII] = std::minmax_element(a.leads[1].begin(), a.leads[1].end());
  EXPECT_GT(*maxII * 5, 700);
  EXPECT_LT(*maxII * 5, 2000);
  const auto [minV1, maxV1] = std::minmax_element(a.leads[2].begin(), a.leads[2].end());
  EXPECT_LT(*minV1 * 5, -600);
  (void)minII;
  (void)maxV1;
}

// ------------------------------------------------------------ in a browser

std::string FindChromium() {
  // SCPECG_CHROMIUM names another browser binary; one that is not there
  // counts as no browser.
  if (const char* env = std::getenv("SCPECG_CHROMIUM")) return access(env, X_OK) == 0 ? env : "";
  for (const char* p : {"/usr/bin/chromium", "/usr/bin/chromium-browser", "/usr/bin/google-chrome"})
    if (access(p, X_OK) == 0) return p;
  return "";
}

#ifdef SCPECG_HAVE_PNG
struct Picture {
  uint32_t width = 0, height = 0;
  std::vector<uint8_t> rgba;
  const uint8_t* At(uint32_t x, uint32_t y) const { return &rgba[(size_t{y} * width + x) * 4]; }
};

bool LoadPng(const fs::path& path, Picture* pic);

// Renders an SVG in headless Chromium at 96 dpi.
bool Screenshot(const std::string& chromium, const fs::path& svg, const fs::path& profile, Picture* pic) {
  const fs::path shot = fs::path(svg).replace_extension(".png");
  // A browser that hangs must not hold the suite.
  const std::string cmd = "timeout 120 " + Quote(chromium) +
                          " --headless --no-sandbox --disable-gpu --disable-quic --no-first-run"
                          " --disable-background-networking --disable-component-update --disable-sync"
                          " --hide-scrollbars --force-device-scale-factor=1 --user-data-dir=" +
                          Quote(profile.string()) + " --screenshot=" + Quote(shot.string()) +
                          " --window-size=1100,820 " + Quote("file://" + svg.string()) + " >/dev/null 2>&1";
  return std::system(cmd.c_str()) == 0 && LoadPng(shot, pic);
}

bool LoadPng(const fs::path& path, Picture* pic) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return false;
  image.format = PNG_FORMAT_RGBA;
  pic->width = image.width;
  pic->height = image.height;
  pic->rgba.resize(PNG_IMAGE_SIZE(image));
  return png_image_finish_read(&image, nullptr, pic->rgba.data(), 0, nullptr) != 0;
}
#endif

TEST_F(CliTest, DemoPlotRendersInABrowserWithGridAndTracesInTheirPanels) {
  const std::string chromium = FindChromium();
  if (chromium.empty()) GTEST_SKIP() << "chromium is not installed";
#ifndef SCPECG_HAVE_PNG
  GTEST_SKIP() << "built without libpng";
#else
  Demo();
  Picture pic;
  ASSERT_TRUE(Screenshot(chromium, File("demo.svg"), File("profile"), &pic));

  // Grid lines: reddish pink; traces and text: dark.
  auto isGrid = [](const uint8_t* p) { return p[0] > 200 && p[0] - p[1] > 25 && p[0] - p[2] > 25; };
  auto isDark = [](const uint8_t* p) { return p[0] < 110 && p[1] < 110 && p[2] < 110; };
  uint32_t gx0 = pic.width, gy0 = pic.height, gx1 = 0, gy1 = 0;
  size_t gridPixels = 0;
  for (uint32_t y = 0; y < pic.height; ++y)
    for (uint32_t x = 0; x < pic.width; ++x)
      if (isGrid(pic.At(x, y))) {
        ++gridPixels;
        gx0 = std::min(gx0, x);
        gy0 = std::min(gy0, y);
        gx1 = std::max(gx1, x);
        gy1 = std::max(gy1, y);
      }
  ASSERT_GT(gridPixels, 0u) << "no grid colour at all";
  // The grid is where the layout puts it: 260 mm by 160 mm at 96 dpi.
  const double pxPerMm = 96 / 25.4;
  const double gridWmm = scpecg::kCalibrationWidth + 10 * scpecg::kMmPerSecond;
  const double gridHmm = 4 * scpecg::kRowHeight;
  EXPECT_NEAR(gx1 - gx0 + 1, gridWmm * pxPerMm, 4);
  EXPECT_NEAR(gy1 - gy0 + 1, gridHmm * pxPerMm, 4);
  EXPECT_NEAR(gx0, scpecg::kMargin * pxPerMm, 3);
  // A 1 mm grid in two colours covers a good part of the paper.
  EXPECT_GT(gridPixels, (gx1 - gx0) * (gy1 - gy0) / 8);

  // Dark pixels beside the paper, between its top and bottom: none.
  size_t strays = 0;
  for (uint32_t y = gy0; y <= gy1; ++y)
    for (uint32_t x = 0; x < pic.width; ++x)
      if ((x < gx0 || x > gx1) && isDark(pic.At(x, y))) ++strays;
  EXPECT_EQ(strays, 0u);

  // Each of the twelve panels and the rhythm strip holds a trace, below its
  // label and away from the panel's edges.
  const double scale = (gx1 - gx0 + 1) / gridWmm;
  auto darkIn = [&](double x0mm, double y0mm, double wmm, double hmm) {
    size_t n = 0;
    for (uint32_t y = static_cast<uint32_t>(gy0 + y0mm * scale); y < gy0 + (y0mm + hmm) * scale; ++y)
      for (uint32_t x = static_cast<uint32_t>(gx0 + x0mm * scale); x < gx0 + (x0mm + wmm) * scale; ++x)
        n += isDark(pic.At(x, y));
    return n;
  };
  const double panelW = 10 * scpecg::kMmPerSecond / 4;
  for (int c = 0; c < 4; ++c)
    for (int k = 0; k < 3; ++k) {
      const size_t n = darkIn(scpecg::kCalibrationWidth + c * panelW + 1, k * scpecg::kRowHeight + 8, panelW - 2,
                              scpecg::kRowHeight - 9);
      EXPECT_GT(n, 150u) << "panel column " << c << " row " << k;
    }
  EXPECT_GT(darkIn(scpecg::kCalibrationWidth + 1, 3 * scpecg::kRowHeight + 8, 10 * scpecg::kMmPerSecond - 2,
                   scpecg::kRowHeight - 9),
            700u);
  // The calibration pulses stand in front of the rows.
  for (int k = 0; k < 4; ++k) EXPECT_GT(darkIn(1, k * scpecg::kRowHeight + 10, 8, 20), 20u) << "row " << k;
  // Header text above the paper.
  size_t header = 0;
  for (uint32_t y = 0; y < gy0; ++y)
    for (uint32_t x = 0; x < pic.width; ++x) header += isDark(pic.At(x, y));
  EXPECT_GT(header, 500u);
#endif
}

TEST_F(CliTest, PlotOfAnotherProducersRecordShowsTheTrueAmplitude) {
  const std::string chromium = FindChromium();
  if (chromium.empty()) GTEST_SKIP() << "chromium is not installed";
#ifndef SCPECG_HAVE_PNG
  GTEST_SKIP() << "built without libpng";
#else
  // Lead II holds a 1.5 mV QRS (300 units of 5 uV) every 2 s, stored as a
  // reference beat plus residual with first differences; the other leads
  // are flat.
  std::vector<scpreader::WriteLead> leads;
  for (uint8_t id : {1, 2, 3, 4, 5, 6, 7, 8}) leads.push_back({id, std::vector<int16_t>(5000, 0)});
  scpreader::WriteOptions o;
  o.differences = 1;
  o.referenceBeat = true;
  for (uint32_t q = 501; q < 5000; q += 1000) {
    o.qrs.push_back(q);
    for (uint32_t k = q - 10; k <= q + 10; ++k) leads[1].samples[k - 1] = 300;
  }
  std::string why;
  const std::vector<uint8_t> bytes = scpreader::WriteRecord(leads, o, &why);
  ASSERT_FALSE(bytes.empty()) << why;
  WriteAll(File("other.scp"), std::string(bytes.begin(), bytes.end()));
  const Result r = Run({"plot", "other.scp", "-o", "other.svg"});
  ASSERT_EQ(r.code, 0) << r.err;
  Picture pic;
  ASSERT_TRUE(Screenshot(chromium, File("other.svg"), File("profile"), &pic));

  // The rhythm strip's row: the dark extent of the calibration pulse (1 mV)
  // and of lead II's trace, in pixels.
  const double pxPerMm = 96 / 25.4;
  const uint32_t top = static_cast<uint32_t>((scpecg::kMargin + scpecg::kHeaderHeight + 3 * scpecg::kRowHeight) * pxPerMm);
  auto darkRows = [&](double x0mm, double x1mm) {
    uint32_t lo = pic.height, hi = 0;
    for (uint32_t y = top + 8 * pxPerMm; y < top + scpecg::kRowHeight * pxPerMm && y < pic.height; ++y)
      for (uint32_t x = static_cast<uint32_t>(x0mm * pxPerMm); x < x1mm * pxPerMm && x < pic.width; ++x) {
        const uint8_t* p = pic.At(x, y);
        if (p[0] < 110 && p[1] < 110 && p[2] < 110) lo = std::min(lo, y), hi = std::max(hi, y);
      }
    return hi >= lo ? hi - lo + 1.0 : 0.0;
  };
  const double calibration = darkRows(scpecg::kMargin + 3, scpecg::kMargin + 9);
  const double qrs = darkRows(scpecg::kMargin + scpecg::kCalibrationWidth + 10, scpecg::kMargin + 250);
  EXPECT_NEAR(calibration, 10 * pxPerMm, 3);
  EXPECT_NEAR(qrs / calibration, 1.5, 0.06) << qrs << " px against " << calibration << " px";
#endif
}

}  // namespace
