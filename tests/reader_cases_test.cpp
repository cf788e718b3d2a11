// Crafted files against the three reading exports. Every case lives in
// tests/data/reader_cases.txt: the file (sections as hex, or raw bytes, then
// edits), and per export the result, the info block, the exact log lines and
// fetched fields. The container around the sections is built here, with a
// CRC of the tests' own, so a fault in the library's writer cannot hide one
// in its reader.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>

#include "support/plugin_cases.h"

namespace {

using scpfile::Bytes;
using scpfile::BuildRecord;
using scpfile::Entries;
using scpfile::Hex;

struct Expect {
  std::string op;  // check, proc, fetch
  std::vector<std::string> args;
  std::vector<std::string> logs;  // "CALL source:line text"
  std::vector<std::pair<std::string, std::string>> fields;
};

struct Case {
  std::string name;
  std::string file;
  int lineNo = 0;
  std::vector<std::pair<uint16_t, Bytes>> sections;
  std::vector<std::function<void(Bytes&)>> edits;
  Entries entries;
  bool raw = false;
  Bytes rawBytes;
  std::vector<Expect> expects;
  Bytes File() const {
    Bytes f = raw ? rawBytes : BuildRecord(sections, entries);
    for (auto& e : edits) e(f);
    return f;
  }
};

std::string Rest(std::istream& in) {
  std::string s;
  std::getline(in, s);
  const size_t a = s.find_first_not_of(' ');
  return a == std::string::npos ? "" : s.substr(a);
}

void LoadCases(const std::filesystem::path& file, std::vector<Case>& cases) {
  std::ifstream in(file);
  std::string line;
  int no = 0;
  while (std::getline(in, line)) {
    ++no;
    std::istringstream ls(line);
    std::string key;
    if (!(ls >> key) || key[0] == '#') continue;
    if (key == "case") {
      cases.emplace_back();
      ls >> cases.back().name;
      cases.back().lineNo = no;
      cases.back().file = file.filename().string();
      continue;
    }
    Case& c = cases.back();
    if (key == "section") {
      int id = 0;
      ls >> id;
      c.sections.emplace_back(static_cast<uint16_t>(id), Hex(ls));
    } else if (key == "entry") {
      uint32_t id = 0, length = 0, index = 0;
      ls >> id >> length >> index;
      c.entries[static_cast<uint16_t>(id)] = {length, index};
    } else if (key == "raw") {
      c.raw = true;
      Bytes b = Hex(ls);
      c.rawBytes.insert(c.rawBytes.end(), b.begin(), b.end());
    } else if (key == "cut") {
      size_t n = 0;
      ls >> n;
      c.edits.push_back([n](Bytes& f) { f.resize(n); });
    } else if (key == "poke") {
      size_t at = 0;
      ls >> at;
      Bytes b = Hex(ls);
      c.edits.push_back([at, b](Bytes& f) { std::copy(b.begin(), b.end(), f.begin() + at); });
    } else if (key == "crc0") {  // section 0's CRC over its (edited) length
      c.edits.push_back([](Bytes& f) {
        const uint32_t n = scpfile::U32(f, 10);
        if (n >= 2 && 6 + n <= f.size()) scpfile::Put16(f, 6, scpfile::BitCrc(&f[8], n - 2));
      });
    } else if (key == "check" || key == "proc" || key == "fetch") {
      Expect e{key, {}, {}, {}};
      std::string a;
      while (ls >> a) e.args.push_back(a);
      c.expects.push_back(e);
    } else if (key == "log") {
      c.expects.back().logs.push_back(Rest(ls));
    } else if (key == "field") {
      std::string name;
      ls >> name;
      std::string v = Rest(ls);  // \r and \n stand for CR and LF
      for (auto [esc, ch] : {std::pair{"\\r", "\r"}, std::pair{"\\n", "\n"}})
        for (size_t p = v.find(esc); p != std::string::npos; p = v.find(esc, p + 1)) v.replace(p, 2, ch);
      c.expects.back().fields.emplace_back(name, v);
    } else {
      ADD_FAILURE() << file.filename().string() << ":" << no << ": unknown key " << key;
    }
  }
}

// Every manifest under tests/data named *_cases.txt, in name order.
std::vector<Case> LoadCases() {
  std::vector<std::filesystem::path> files;
  for (const auto& e : std::filesystem::directory_iterator(std::string(SCP_TEST_SOURCE_DIR) + "/tests/data"))
    if (e.path().filename().string().ends_with("_cases.txt")) files.push_back(e.path());
  std::sort(files.begin(), files.end());
  std::vector<Case> cases;
  for (const auto& f : files) LoadCases(f, cases);
  return cases;
}

std::string Num(uint32_t v) { return std::to_string(v); }
std::string Date(const CalendarDate* d) { return Num(d->year) + "-" + Num(d->month) + "-" + Num(d->day); }
std::string Stamp(const DateTime* t) {
  return Num(t->year) + "-" + Num(t->month) + "-" + Num(t->day) + " " + Num(t->hour) + ":" + Num(t->minute) + ":" +
         Num(t->second) + "." + Num(t->hundredths);
}

// Fetched fields by name, as text.
std::string Field(const TestRecord& r, const std::string& name) {
  char buf[512] = {};
  if (name.rfind("lead", 0) == 0 && r.GetWaveform()) {  // "leadK": channel K's samples
    const int16_t* a = r.GetWaveform()->Channel(static_cast<uint8_t>(std::stoi(name.substr(4))));
    std::string out;
    for (uint32_t i = 0; a && i < r.GetWaveform()->SamplesPerLead(); ++i) out += (i ? "," : "") + std::to_string(a[i]);
    return out;
  }
  static const std::map<std::string, std::function<std::string(const TestRecord&, char*)>> kFields = {
      {"last", [](const TestRecord& t, char* b) { return std::string(t.GetLastName(b, 512)); }},
      {"first", [](const TestRecord& t, char* b) { return std::string(t.GetFirstName(b, 512)); }},
      {"storedId", [](const TestRecord& t, char*) { return std::string(t.GetStoredPatientId()); }},
      {"procedure", [](const TestRecord& t, char*) { return Num(t.GetProcedureType()); }},
      {"sex", [](const TestRecord& t, char*) { return Num(t.GetSex()); }},
      {"race", [](const TestRecord& t, char*) { return Num(t.GetRace()); }},
      {"age", [](const TestRecord& t, char*) { return Num(t.GetAge()); }},
      {"height", [](const TestRecord& t, char*) { return Num(t.GetHeight()); }},
      {"weight", [](const TestRecord& t, char*) { return Num(t.GetWeight()); }},
      {"pressure", [](const TestRecord& t, char*) { return Num(t.GetBloodPressure()); }},
      {"drugs", [](const TestRecord& t, char*) { return std::string(t.GetDrugs()); }},
      {"diagnosis", [](const TestRecord& t, char*) { return std::string(t.GetDiagnosis()); }},
      {"interpretation", [](const TestRecord& t, char*) { return std::string(t.GetInterpretationText()); }},
      {"status", [](const TestRecord& t, char*) { return Num(t.GetInterpretationStatus()); }},
      {"ambulatory", [](const TestRecord& t, char*) { return Num(t.GetAmbulatory()); }},
      {"smoking", [](const TestRecord& t, char*) { return Num(t.GetSmoking()); }},
      {"alcohol", [](const TestRecord& t, char*) { return Num(t.GetAlcohol()); }},
      {"family", [](const TestRecord& t, char*) { return Num(t.GetFamily()); }},
      {"pacemaker", [](const TestRecord& t, char*) { return Num(t.GetPacemaker()); }},
      {"flag212", [](const TestRecord& t, char*) { return Num(t.GetTag212Flag()); }},
      {"exercise", [](const TestRecord& t, char*) { return Num(t.GetExerciseType()) + "," + Num(t.GetExerciseFlag()); }},
      {"leadB", [](const TestRecord& t, char*) { return Num(t.GetMeasureLeadB()); }},
      {"leadA", [](const TestRecord& t, char*) { return Num(t.GetMeasureLeadA()); }},
      {"targetRate", [](const TestRecord& t, char*) { return Num(t.GetTargetHeartRate()); }},
      {"highPass", [](const TestRecord& t, char*) { return Num(t.GetHighPassFilter()); }},
      {"tag235", [](const TestRecord& t, char*) { return Num(t.GetTag235Value()); }},
      {"name", [](const TestRecord& t, char*) { return std::string(t.GetPatientName()); }},
      {"referring", [](const TestRecord& t, char*) { return std::string(t.GetReferringPhysician()); }},
      {"confirming", [](const TestRecord& t, char*) { return std::string(t.GetConfirmingPhysician()); }},
      {"tag240", [](const TestRecord& t, char*) { return std::string(t.GetTag240Text()); }},
      {"acquired", [](const TestRecord& t, char*) { return Stamp(t.GetAcquisitionDateTime()); }},
      {"overread", [](const TestRecord& t, char*) { return Stamp(t.GetOverreadDateTime()); }},
      {"birth", [](const TestRecord& t, char*) { return Date(t.GetBirthDate()); }},
      {"tag209", [](const TestRecord& t, char*) { return Date(t.GetTag209Date()); }},
      {"testKey", [](const TestRecord& t, char*) { return Num(t.GetTestKey()); }},
      {"readable", [](const TestRecord& t, char*) { return Num(t.GetIdentityReadable()); }},
      {"modified", [](const TestRecord& t, char*) { return Num(t.IsModified()); }},
  };
  auto it = kFields.find(name);
  return it == kFields.end() ? "<no field " + name + ">" : it->second(r, buf);
}

std::string Replace(std::string s, const std::string& from, const std::string& to) {
  for (size_t p = s.find(from); p != std::string::npos; p = s.find(from, p + to.size())) s.replace(p, from.size(), to);
  return s;
}

class ReaderCases : public PluginCases {};

TEST_F(ReaderCases, EveryCaseOfTheManifest) {
  const auto cases = LoadCases();
  ASSERT_GT(cases.size(), 20u);
  for (const Case& c : cases) {
    SCOPED_TRACE("case " + c.name + " (" + c.file + ":" + std::to_string(c.lineNo) + ")");
    const std::string path = dir_.File(c.name + ".scp");
    ASSERT_TRUE(WriteFileBytes(path, c.File()));
    for (const Expect& e : c.expects) {
      cap_.Clear();
      std::vector<std::string> got;
      if (e.op == "check") {
        // Fields a check leaves alone keep this value ("-" in the manifest).
        uint32_t info[18];
        std::fill(std::begin(info), std::end(info), 0xA5A5A5A5u);
        EXPECT_EQ(Num(check_(path.c_str(), reinterpret_cast<ValidFormatInfo*>(info))), e.args.at(0));
        for (size_t i = 1; i < e.args.size() && i <= 18; ++i)
          EXPECT_EQ(e.args[i] == "-" ? Num(0xA5A5A5A5u) : e.args[i], Num(info[i - 1])) << "info field " << i - 1;
      } else if (e.op == "proc") {
        EXPECT_EQ(Num(proc_(path.c_str())), e.args.at(0));
      } else {
        TestRecord rec;
        rec.SetFilePath(path.c_str());
        if (e.args.size() > 4 && e.args[1] == "wave") {  // wave S RATE RESOLUTION SLOT..
          std::vector<uint8_t> slots;
          for (size_t i = 5; i < e.args.size(); ++i) slots.push_back(static_cast<uint8_t>(std::stoul(e.args[i])));
          rec.SetWaveform(new EcgWaveform(static_cast<uint32_t>(slots.size()), std::stoul(e.args[2]),
                                          std::stoul(e.args[3]), std::stoul(e.args[4]), slots));
        }
        EXPECT_EQ(Num(fetch_(&rec)), e.args.at(0));
        for (const auto& [name, value] : e.fields) EXPECT_EQ(Field(rec, name), value) << "field " << name;
      }
      std::vector<std::string> want;
      for (const auto& l : e.logs) want.push_back(Replace(l, "{path}", path));
      EXPECT_EQ(Messages(), want) << "log of " << e.op;
    }
  }
}

// A path that is empty is no file name at all.
TEST_F(ReaderCases, EmptyPath) {
  uint32_t info[18] = {};
  EXPECT_EQ(check_("", reinterpret_cast<ValidFormatInfo*>(info)), 0);
  EXPECT_EQ(Messages(), (std::vector<std::string>{"LOGOEMERROR scpecg:1351 invalid file name",
                                                    "LOGOEMERROR scpsrv:287 IsValidFormat: []"}));
}

}  // namespace
