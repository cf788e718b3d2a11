// The scpecg tool end to end. Most cases are data: tests/data/cli_runs.txt
// lists command lines with the files they start from, the exit code, the
// messages and the JSON, files and pictures they must give; one runner plays
// each case in a scratch folder. Below it, what the manifest cannot say: a
// peer writer's EDF file, the plot in a browser, and the tool's pieces.
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
#include <optional>
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

std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteAll(const fs::path& p, const std::string& text) {
  fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary | std::ios::trunc) << text;
}

struct Result {
  int code = -1;
  std::string out, err;
};

// A scratch folder with its own, empty configuration folder (where
// registered scramble keys live), and the tool run inside it.
class Scratch {
 public:
  Scratch() {
    std::string pattern = (fs::temp_directory_path() / "scpecg-cli-XXXXXX").string();
    if (mkdtemp(pattern.data())) dir_ = pattern;
    fs::create_directories(dir_ / "config");
  }
  ~Scratch() {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  fs::path File(const std::string& name) const { return dir_ / name; }
  Result Run(const std::vector<std::string>& args) const {
    std::string cmd = "cd " + Quote(dir_.string()) + " && XDG_CONFIG_HOME=" + Quote((dir_ / "config").string()) + " " +
                      Quote(SCPECG_BIN);
    for (const std::string& a : args) cmd.append(" ").append(Quote(a));
    cmd += " >" + Quote(File(".stdout").string()) + " 2>" + Quote(File(".stderr").string()) + " </dev/null";
    const int status = std::system(cmd.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadAll(File(".stdout")), ReadAll(File(".stderr"))};
  }
  fs::path dir_;
};

// Every key of `part` is in `whole` with an equal value; arrays match in
// length and element by element.
std::string Subset(const Json& part, const Json& whole, const std::string& path = "$") {
  if (part.is_object() && whole.is_object()) {
    for (auto it = part.begin(); it != part.end(); ++it) {
      if (!whole.contains(it.key())) return path + "." + it.key() + " missing";
      if (auto r = Subset(it.value(), whole[it.key()], path + "." + it.key()); !r.empty()) return r;
    }
    return "";
  }
  if (part.is_array() && whole.is_array() && part.size() == whole.size()) {
    for (size_t i = 0; i < part.size(); ++i)
      if (auto r = Subset(part[i], whole[i], path + "[" + std::to_string(i) + "]"); !r.empty()) return r;
    return "";
  }
  return part == whole ? "" : path + ": " + part.dump() + " != " + whole.dump();
}

// ------------------------------------------------------------ the manifest

struct Case {
  std::string name;
  std::vector<std::pair<int, std::string>> lines;  // line number, text
};

std::vector<Case> LoadCases() {
  std::ifstream in(SCPECG_CASES);
  std::vector<Case> cases;
  std::string line;
  for (int n = 1; std::getline(in, line); ++n) {
    if (line.empty() || line[0] == '#') continue;
    if (line.front() == '[' && line.back() == ']')
      cases.push_back({line.substr(1, line.size() - 2), {}});
    else if (!cases.empty())
      cases.back().lines.emplace_back(n, line);
  }
  return cases;
}

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

// The word before the first space, and the rest.
std::pair<std::string, std::string> Split(const std::string& s) {
  const size_t sp = s.find(' ');
  return sp == std::string::npos ? std::make_pair(s, std::string()) : std::make_pair(s.substr(0, sp), s.substr(sp + 1));
}

std::vector<std::string> Words(const std::string& s) {
  std::istringstream in(s);
  std::vector<std::string> w;
  for (std::string t; in >> t;) w.push_back(t);
  return w;
}

class CliCase : public ::testing::TestWithParam<Case> {
 protected:
  // {dir} in a text stands for the scratch folder, {bin} for the tool, {cr}
  // for a carriage return.
  std::string Expand(std::string s) const {
    for (const auto& [key, value] : {std::pair<std::string, std::string>{"{dir}", s_.dir_.string()}, {"{bin}", SCPECG_BIN},
                                     {"{cr}", "\r"}})
      for (size_t at; (at = s.find(key)) != std::string::npos;) s.replace(at, key.size(), value);
    return s;
  }
  Json Out() const {
    Json j = Json::parse(r_.out, nullptr, false);
    EXPECT_FALSE(j.is_discarded()) << "not JSON: " << r_.out.substr(0, 2000);
    return j;
  }
  static Json::json_pointer Ptr(const std::string& s) { return Json::json_pointer(s == "/" ? "" : s); }
  Json Load(const std::string& name) const { return Json::parse(ReadAll(s_.File(name)), nullptr, false); }
  void Store(const std::string& name, const Json& j) const { WriteAll(s_.File(name), j.dump()); }

  void Step(const std::string& verb, const std::string& rest);

  Scratch s_;
  Result r_;
};

void CliCase::Step(const std::string& verb, const std::string& arg) {
  const std::string rest = Expand(arg);
  const std::vector<std::string> w = Words(rest);
  const auto [first, tail] = Split(rest);
  const auto [second, tail2] = Split(tail);
  if (verb == "run") {
    r_ = s_.Run(w);
  } else if (verb == "exit") {
    EXPECT_EQ(r_.code, std::stoi(rest)) << r_.err;
  } else if (verb == "out" || verb == "err" || verb == "no-out" || verb == "no-err") {
    const std::string& text = verb.find("out") != std::string::npos ? r_.out : r_.err;
    EXPECT_EQ(text.find(rest) != std::string::npos, verb.rfind("no-", 0) != 0) << verb << " " << rest << "\n" << text;
  } else if (verb == "err-empty") {
    EXPECT_EQ(r_.err, "");
  } else if (verb == "out-empty") {
    EXPECT_EQ(r_.out, "");
  } else if (verb == "json") {
    // A value expected null may be left out altogether.
    const Json j = Out(), want = Json::parse(tail);
    ASSERT_TRUE(j.contains(Ptr(first)) || want.is_null()) << first << " missing";
    EXPECT_EQ(j.contains(Ptr(first)) ? j[Ptr(first)] : Json(), want) << first;
  } else if (verb == "size") {  // of an array or a string, or between two sizes
    const Json j = Out();
    ASSERT_TRUE(j.contains(Ptr(w.at(0)))) << w[0] << " missing";
    const Json& v = j[Ptr(w[0])];
    const size_t n = v.is_string() ? v.get<std::string>().size() : v.size();
    EXPECT_GE(n, std::stoul(w.at(1))) << w[0];
    EXPECT_LE(n, std::stoul(w.at(w.size() > 2 ? 2 : 1))) << w[0];
  } else if (verb == "file" || verb == "no-file") {
    EXPECT_EQ(fs::exists(s_.File(rest)), verb == "file") << rest;
  } else if (verb == "file-has" || verb == "file-lacks") {
    const std::string text = ReadAll(s_.File(first));
    EXPECT_EQ(text.find(tail) != std::string::npos, verb == "file-has") << first << ": " << tail;
  } else if (verb == "file-is") {
    EXPECT_EQ(ReadAll(s_.File(first)), tail) << first;
  } else if (verb == "put") {
    fs::copy_file(fs::path(SCPECG_DATA) / second, s_.File(first), fs::copy_options::overwrite_existing);
  } else if (verb == "write") {
    WriteAll(s_.File(first), tail);
  } else if (verb == "base64") {
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(scpecg::Base64Decode(tail, &bytes));
    WriteAll(s_.File(first), std::string(bytes.begin(), bytes.end()));
  } else if (verb == "mkdir") {
    fs::create_directories(s_.File(rest));
  } else if (verb == "set" || verb == "unset") {
    Json j = Load(first);
    if (verb == "unset")
      j[Json::json_pointer(second).parent_pointer()].erase(Json::json_pointer(second).back());
    else if (second == "/")
      j = Json::parse(tail2);
    else
      j[Json::json_pointer(second)] = Json::parse(tail2);
    Store(first, j);
  } else if (verb == "flip" || verb == "cut" || verb == "noise") {
    // flip FILE SECTION OFFSET MASK (SECTION - for the file's start),
    // cut FILE SIZE, noise FILE SEED.
    std::string bytes = ReadAll(s_.File(w.at(0)));
    if (verb == "cut") bytes.resize(std::stoul(w.at(1)));
    if (verb == "noise") {
      std::mt19937 rng(static_cast<uint32_t>(std::stoul(w.at(1))));
      for (char& c : bytes) c = static_cast<char>(rng());
    }
    if (verb == "flip") {
      size_t at = std::stoul(w.at(2));
      if (w.at(1) != "-") {  // from the section's pointer entry in section 0
        auto le = [&bytes](size_t p, int n) {
          uint32_t v = 0;
          for (int k = n - 1; k >= 0; --k) v = v << 8 | static_cast<uint8_t>(bytes.at(p + k));
          return v;
        };
        size_t e = 22;
        while (e + 10 <= 352 && le(e, 2) != std::stoul(w[1])) e += 10;
        at += le(e + 6, 4) - 1;
      }
      bytes.at(at) = static_cast<char>(bytes.at(at) ^ std::stoi(w.at(3), nullptr, 0));
    }
    WriteAll(s_.File(w.at(0)), bytes);
  } else if (verb == "keep") {
    WriteAll(s_.File(rest), r_.out);
  } else if (verb == "same") {  // FILE KEY...: stdout's JSON equals FILE's, but for the keys
    Json a = Load(w.at(0)), b = Out();
    for (size_t k = 1; k < w.size(); ++k) a.erase(w[k]), b.erase(w[k]);
    EXPECT_EQ(a, b) << scpecg::DiffJson(a, b, 5).front();
  } else if (verb == "subset") {
    EXPECT_EQ(Subset(Load(rest), Out()), "");
  } else if (verb == "sine") {  // FILE SAMPLES: leads I and X of sine waves at 200 Hz
    Json leads = Json::array();
    for (int ch : {0, 8}) {
      Json s = Json::array();
      for (uint32_t i = 0; i < std::stoul(w.at(1)); ++i) s.push_back(std::lround(900 * std::sin(0.003 * i * (ch + 1))));
      leads.push_back({{"channel", ch}, {"lead", scpecg::ChannelName(ch)}, {"samples", s}});
    }
    Store(w.at(0), {{"waveform", {{"samplingRate", 200}, {"amplitudeResolution", 2500}, {"samplesPerLead", std::stoul(w[1])}, {"leads", leads}}}});
  } else if (verb == "csv") {  // FILE: the CSV holds the dump's every sample times the resolution
    const Json wave = Out()["waveform"];
    std::ifstream in(s_.File(rest));
    std::string line, header = "time_s";
    for (const Json& lead : wave["leads"]) header += "," + lead["lead"].get<std::string>();
    ASSERT_TRUE(std::getline(in, line));
    EXPECT_EQ(line, header);
    const double uv = wave["amplitudeResolution"].get<double>() / 1000.0, rate = wave["samplingRate"].get<double>();
    size_t row = 0;
    for (; std::getline(in, line); ++row) {
      std::stringstream cells(line);
      std::string cell;
      std::getline(cells, cell, ',');
      ASSERT_NEAR(std::stod(cell), row / rate, 1e-9) << "row " << row;
      for (const Json& lead : wave["leads"]) {
        ASSERT_TRUE(std::getline(cells, cell, ','));
        ASSERT_DOUBLE_EQ(std::stod(cell), lead["samples"][row].get<double>() * uv) << "row " << row;
      }
    }
    EXPECT_EQ(row, wave["samplesPerLead"].get<size_t>());
  } else if (verb == "svg-width") {  // FILE SECONDS: the paper's width at 25 mm/s, calibration and margins
    char expected[64];
    std::snprintf(expected, sizeof expected, "width=\"%.2fmm\"",
                  2 * scpecg::kMargin + scpecg::kCalibrationWidth + scpecg::kMmPerSecond * std::stod(tail));
    EXPECT_NE(ReadAll(s_.File(first)).find(expected), std::string::npos) << expected;
  } else if (verb == "refuse") {
    // POINTER JSON | MESSAGE: the full Holter record with one value
    // replaced is refused with the message, and nothing is written, not
    // even over an existing output.
    const size_t bar = tail.find(" | ");
    ASSERT_NE(bar, std::string::npos);
    Step("put", "bad.json full_record.json");
    Step("set", "bad.json " + first + " " + tail.substr(0, bar));
    WriteAll(s_.File("kept.scp"), "previous content");
    for (const char* target : {"new.scp", "kept.scp"}) {
      r_ = s_.Run({"make", "bad.json", target});
      EXPECT_EQ(r_.code, 1) << r_.err;
      EXPECT_NE(r_.err.find("bad.json: " + tail.substr(bar + 3)), std::string::npos) << r_.err;
      EXPECT_NE(r_.err.find("bad.json: refused; nothing written"), std::string::npos) << r_.err;
    }
    EXPECT_FALSE(fs::exists(s_.File("new.scp")));
    EXPECT_FALSE(fs::exists(s_.File("new.scp.partial")));
    EXPECT_EQ(ReadAll(s_.File("kept.scp")), "previous content");
  } else {
    FAIL() << "unknown step " << verb;
  }
}

TEST_P(CliCase, Runs) {
  ASSERT_FALSE(GetParam().lines.empty());
  for (const auto& [n, line] : GetParam().lines) {
    SCOPED_TRACE("cli_runs.txt:" + std::to_string(n) + ": " + line);
    const auto [verb, rest] = Split(line);
    Step(verb, rest);
    if (HasFatalFailure()) return;
  }
}

INSTANTIATE_TEST_SUITE_P(Manifest, CliCase, ::testing::ValuesIn(LoadCases()),
                         [](const auto& info) { return info.param.name; });

// The manifest is there and holds cases: an empty list would pass unseen.
TEST(CliManifest, HoldsCases) { EXPECT_GE(LoadCases().size(), 20u); }
// A known signal written by EDFlib (labels with and without the "ECG "
// prefix, a signal that is no lead, a gain of 0.1 uV, beats and an episode)
// comes back from make --from edf and convert --to edf with every sample,
// the rate and the annotations.
TEST(CliPeers, EdfMadeByEdflibSurvivesMakeAndConvert) {
  const Scratch tmp;
  const char* labels[] = {"I", "ECG II", "V1", "ECG V6", "Resp"};
  constexpr int kSignals = 5, kRate = 500, kSeconds = 4;
  const int h = edfopen_file_writeonly(tmp.File("in.edf").c_str(), EDFLIB_FILETYPE_EDFPLUS, kSignals);
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

  ASSERT_EQ(tmp.Run({"make", "--from", "edf", "in.edf", "r.scp"}).code, 0);
  const Result r = tmp.Run({"convert", "r.scp", "--to", "edf", "-o", "out"});
  ASSERT_EQ(r.code, 0) << r.err;
  edf_hdr_struct hdr{};
  ASSERT_EQ(edfopen_file_readonly(tmp.File("out/r.edf").c_str(), &hdr, EDFLIB_READ_ALL_ANNOTATIONS), 0);
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

// ------------------------------------------------------------ the pieces

// The CRC's check value, statements split as the save writes them, and
// texts and documents through their JSON form.
TEST(ToolPieces, CrcStatementsTextsAndDocuments) {
  EXPECT_EQ(scpecg::Crc16(reinterpret_cast<const uint8_t*>("123456789"), 9), 0x29B1);
  using V = std::vector<std::string>;
  EXPECT_EQ(scpecg::SplitStatements(""), V{""});
  EXPECT_EQ(scpecg::SplitStatements("A\r\nB"), (V{"A", "B"}));
  EXPECT_EQ(scpecg::SplitStatements("A\r\nB\r\n"), (V{"A", "B"}));
  EXPECT_EQ(scpecg::SplitStatements("A\nB"), V{"A\nB"});
  EXPECT_EQ(scpecg::SplitStatements("A\r\n\r\nB\r\n"), (V{"A", "", "B"}));
  EXPECT_EQ(scpecg::SplitStatements("\r\n"), V{""});
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

#ifdef SCPECG_HAVE_PNG
struct Picture {
  uint32_t width = 0, height = 0;
  std::vector<uint8_t> rgba;
  bool Dark(uint32_t x, uint32_t y) const {  // traces and text
    const uint8_t* p = &rgba[(size_t{y} * width + x) * 4];
    return p[0] < 110 && p[1] < 110 && p[2] < 110;
  }
  bool Grid(uint32_t x, uint32_t y) const {  // reddish pink
    const uint8_t* p = &rgba[(size_t{y} * width + x) * 4];
    return p[0] > 200 && p[0] - p[1] > 25 && p[0] - p[2] > 25;
  }
  // Dark pixels in [x0, x1) x [y0, y1).
  size_t DarkIn(double x0, double y0, double x1, double y1) const {
    size_t n = 0;
    for (auto y = static_cast<uint32_t>(y0); y < y1 && y < height; ++y)
      for (auto x = static_cast<uint32_t>(x0); x < x1 && x < width; ++x) n += Dark(x, y);
    return n;
  }
};

// The SVG rendered by headless Chromium at 96 dpi; nothing when there is no
// browser (SCPECG_CHROMIUM names another one).
std::optional<Picture> Render(const Scratch& tmp, const std::string& svg) {
  std::string chromium;
  if (const char* env = std::getenv("SCPECG_CHROMIUM")) chromium = env;
  for (const char* p : {"/usr/bin/chromium", "/usr/bin/chromium-browser", "/usr/bin/google-chrome"})
    if (chromium.empty() && access(p, X_OK) == 0) chromium = p;
  if (chromium.empty() || access(chromium.c_str(), X_OK) != 0) return std::nullopt;
  const fs::path shot = tmp.File("shot.png");
  // A browser that hangs must not hold the suite.
  const std::string cmd = "timeout 120 " + Quote(chromium) +
                          " --headless --no-sandbox --disable-gpu --disable-quic --no-first-run"
                          " --disable-background-networking --disable-component-update --disable-sync"
                          " --hide-scrollbars --force-device-scale-factor=1 --user-data-dir=" +
                          Quote(tmp.File("profile").string()) + " --screenshot=" + Quote(shot.string()) +
                          " --window-size=1100,820 " + Quote("file://" + tmp.File(svg).string()) + " >/dev/null 2>&1";
  EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  Picture pic;
  EXPECT_TRUE(png_image_begin_read_from_file(&image, shot.c_str())) << "no screenshot";
  image.format = PNG_FORMAT_RGBA;
  pic.width = image.width;
  pic.height = image.height;
  pic.rgba.resize(PNG_IMAGE_SIZE(image));
  EXPECT_TRUE(png_image_finish_read(&image, nullptr, pic.rgba.data(), 0, nullptr));
  return pic;
}

constexpr double kPxPerMm = 96 / 25.4;

TEST(CliBrowser, DemoPlotRendersWithGridAndTracesInTheirPanels) {
  const Scratch tmp;
  ASSERT_EQ(tmp.Run({"demo", "demo.scp"}).code, 0);
  const std::optional<Picture> pic = Render(tmp, "demo.svg");
  if (!pic) GTEST_SKIP() << "chromium is not installed";
  ASSERT_FALSE(pic->rgba.empty());
  uint32_t gx0 = pic->width, gy0 = pic->height, gx1 = 0, gy1 = 0;
  size_t gridPixels = 0;
  for (uint32_t y = 0; y < pic->height; ++y)
    for (uint32_t x = 0; x < pic->width; ++x)
      if (pic->Grid(x, y)) {
        ++gridPixels;
        gx0 = std::min(gx0, x), gy0 = std::min(gy0, y), gx1 = std::max(gx1, x), gy1 = std::max(gy1, y);
      }
  ASSERT_GT(gridPixels, 0u) << "no grid colour at all";
  // The grid is where the layout puts it: 260 mm by 160 mm at 96 dpi, and a
  // 1 mm grid in two colours covers a good part of it.
  const double gridWmm = scpecg::kCalibrationWidth + 10 * scpecg::kMmPerSecond, rowH = scpecg::kRowHeight;
  EXPECT_NEAR(gx1 - gx0 + 1, gridWmm * kPxPerMm, 4);
  EXPECT_NEAR(gy1 - gy0 + 1, 4 * rowH * kPxPerMm, 4);
  EXPECT_NEAR(gx0, scpecg::kMargin * kPxPerMm, 3);
  EXPECT_GT(gridPixels, (gx1 - gx0) * (gy1 - gy0) / 8);
  // Nothing dark beside the paper; header text above it.
  EXPECT_EQ(pic->DarkIn(0, gy0, gx0, gy1 + 1) + pic->DarkIn(gx1 + 1, gy0, pic->width, gy1 + 1), 0u);
  EXPECT_GT(pic->DarkIn(0, 0, pic->width, gy0), 500u);
  // Each of the twelve panels and the rhythm strip holds a trace below its
  // label and away from the panel's edges; calibration pulses front the rows.
  const double scale = (gx1 - gx0 + 1) / gridWmm;
  auto darkMm = [&](double x0, double y0, double w, double h) {
    return pic->DarkIn(gx0 + x0 * scale, gy0 + y0 * scale, gx0 + (x0 + w) * scale, gy0 + (y0 + h) * scale);
  };
  const double panelW = 10 * scpecg::kMmPerSecond / 4;
  for (int c = 0; c < 4; ++c)
    for (int k = 0; k < 3; ++k)
      EXPECT_GT(darkMm(scpecg::kCalibrationWidth + c * panelW + 1, k * rowH + 8, panelW - 2, rowH - 9), 150u)
          << "panel column " << c << " row " << k;
  EXPECT_GT(darkMm(scpecg::kCalibrationWidth + 1, 3 * rowH + 8, 10 * scpecg::kMmPerSecond - 2, rowH - 9), 700u);
  for (int k = 0; k < 4; ++k) EXPECT_GT(darkMm(1, k * rowH + 10, 8, 20), 20u) << "row " << k;
}

TEST(CliBrowser, PlotOfAnotherProducersRecordShowsTheTrueAmplitude) {
  // Lead II holds a 1.5 mV QRS (300 units of 5 uV) every 2 s, stored as a
  // reference beat plus residual with first differences; the other leads
  // are flat.
  const Scratch tmp;
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
  WriteAll(tmp.File("other.scp"), std::string(bytes.begin(), bytes.end()));
  const Result r = tmp.Run({"plot", "other.scp", "-o", "other.svg"});
  ASSERT_EQ(r.code, 0) << r.err;
  const std::optional<Picture> pic = Render(tmp, "other.svg");
  if (!pic) GTEST_SKIP() << "chromium is not installed";
  ASSERT_FALSE(pic->rgba.empty());
  // In the rhythm strip's row: the dark extent of the calibration pulse
  // (1 mV) and of lead II's trace, in pixels.
  const double top = (scpecg::kMargin + scpecg::kHeaderHeight + 3 * scpecg::kRowHeight) * kPxPerMm;
  auto darkRows = [&](double x0mm, double x1mm) {
    double lo = pic->height, hi = -1;
    for (auto y = static_cast<uint32_t>(top + 8 * kPxPerMm); y < top + scpecg::kRowHeight * kPxPerMm; ++y)
      if (pic->DarkIn(x0mm * kPxPerMm, y, x1mm * kPxPerMm, y + 1)) lo = std::min<double>(lo, y), hi = std::max<double>(hi, y);
    return hi >= lo ? hi - lo + 1 : 0.0;
  };
  const double calibration = darkRows(scpecg::kMargin + 3, scpecg::kMargin + 9);
  const double qrs = darkRows(scpecg::kMargin + scpecg::kCalibrationWidth + 10, scpecg::kMargin + 250);
  EXPECT_NEAR(calibration, 10 * kPxPerMm, 3);
  EXPECT_NEAR(qrs / calibration, 1.5, 0.06) << qrs << " px against " << calibration << " px";
}
#endif

}  // namespace
