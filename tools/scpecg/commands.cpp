#include "tools/scpecg/commands.h"

#include <unistd.h>

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "lib/dbclient/testrecord.h"
#include "reader/scpreader.h"
#include "tools/scpecg/batch.h"
#include "tools/scpecg/console.h"
#include "tools/scpecg/convert_leads.h"
#include "tools/scpecg/fetch.h"
#include "tools/scpecg/host.h"
#include "tools/scpecg/plot.h"
#include "tools/scpecg/record_json.h"
#include "tools/scpecg/scpfile.h"
#include "tools/scpecg/synth.h"
#include "tools/scpecg/text.h"

namespace scpecg {

namespace {

namespace fs = std::filesystem;

// The plug-in takes paths of at most 511 characters.
constexpr size_t kMaxPath = 511;

void Fail(const std::string& file, const std::string& what) { Console::Get().Error(file + ": " + what); }

// Writes through a sibling file and renames it, so that a failed command
// leaves no half-written output behind.
bool WriteFile(const std::string& path, const std::string& content) {
  std::string error;
  if (WriteAtomically(path, [&](const std::string& partial) { return WriteText(partial, content, &error); }, &error))
    return true;
  Fail(path, error);
  return false;
}

bool ReadText(const std::string& path, std::string* out) {
  std::error_code ec;
  if (fs::is_directory(path, ec)) {
    Fail(path, "is a directory");
    return false;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    Fail(path, "cannot be opened");
    return false;
  }
  std::ostringstream s;
  s << in.rdbuf();
  *out = s.str();
  return true;
}

// Fetches the whole record of a file, reporting every problem against it.
bool FetchFile(Library& lib, const std::string& path, Fetched* fetched) {
  std::error_code ec;
  if (!fs::exists(path, ec)) {
    Fail(path, "no such file");
    return false;
  }
  if (path.size() > kMaxPath) {
    Fail(path, "path longer than 511 characters");
    return false;
  }
  ScpFile file(path);
  if (!file.readable() && !file.error().empty() && file.sections().empty()) {
    // Let the library have its say too, then report what the tool saw.
    ValidFormatInfo info{};
    lib.IsValidFormat(path, &info);
    Fail(path, file.error());
    return false;
  }
  std::string error;
  if (!FetchWhole(lib, file, path, fetched, &error)) {
    Fail(path, error);
    return false;
  }
  for (const std::string& note : fetched->notes) Fail(path, note);
  return true;
}

}  // namespace

bool SaveVerified(Library& lib, TestRecord& record, const std::string& out, std::string* summary) {
  if (out.size() + std::strlen(".partial") > kMaxPath) {
    Fail(out, "path too long: the tool saves through OUT.partial, and the plug-in takes at most 511 characters");
    return false;
  }
  auto saveAndCheck = [&](const std::string& partial) {
    if (lib.Save(&record, partial) != 1) {
      Fail(out, "the library could not save the record");
      return false;
    }
    // The save gave the record its path and, when it had none, an accession
    // number; this is the record as it should come back.
    const Json expected = DumpRecord(record);
    Fetched fetched;
    ScpFile file(partial);
    std::string error;
    if (!FetchWhole(lib, file, partial, &fetched, &error)) {
      Fail(out, "the saved file cannot be read back: " + error);
      return false;
    }
    for (const std::string& note : fetched.notes) Fail(out, note);
    const std::vector<std::string> diffs = DiffJson(expected, DumpRecord(*fetched.record), 12, {"derived"});
    if (diffs.empty() && fetched.notes.empty()) return true;
    Fail(out, "the saved record did not come back unchanged (saved / read back):");
    for (const std::string& d : diffs) Console::Get().Line("  " + d);
    return false;
  };
  std::string error;
  if (!WriteAtomically(out, saveAndCheck, &error)) {
    if (!error.empty()) Fail(out, error);
    return false;
  }
  if (summary != nullptr) {
    std::error_code ec;
    *summary = std::to_string(fs::file_size(out, ec)) + " bytes";
  }
  return true;
}
namespace {

const char* const kInfoNames[18] = {
    "longestLead", "samplingRate", "amplitudeMultiplier", "leadCount",     "channel0",
    "channel1",    "channel2",     "channel3",            "channel4",      "channel5",
    "channel6",    "channel7",     "complexCount",        "rhythmMeasCount", "diaryPdfSize",
    "reportPdfSize", "holterCfgSize", "holterCfgBlockSize"};
const char* const kInfoUnits[18] = {"samples", "Hz",      "nV per unit", "leads", "", "", "", "", "", "", "", "",
                                    "records", "records", "bytes + 4",   "bytes + 4", "bytes", "bytes + 4"};

}  // namespace

std::string WaveformCsv(const scpreader::Record& r) {
  std::string out;
  const ConvertLeads stored = StoredLeads(r);
  if (stored.leads.empty() || r.sampleIntervalUs == 0) return out;
  out += "time_s";
  for (const scpreader::Lead* l : stored.leads) out += "," + l->name;
  out += "\n";
  char buf[32];
  for (size_t i = 0; i < stored.samples; ++i) {
    std::snprintf(buf, sizeof buf, "%.6f", static_cast<double>(i) * r.sampleIntervalUs / 1e6);
    out += buf;
    for (const scpreader::Lead* l : stored.leads) {
      out += ',';
      // Empty before a lead's first sample and after its last.
      const size_t at = ConvertLeads::Offset(*l);
      if (i >= at && i - at < l->samples.size())
        out += MicrovoltDecimal(int64_t{l->samples[i - at]} * r.amplitudeNanovolts);
    }
    out += '\n';
  }
  return out;
}

int MakeVerified(TestRecord& record, const std::string& out) {
  Library lib;
  std::string size;
  if (!SaveVerified(lib, record, out, &size)) return kExitFailed;
  Console::Get().Detail("make: " + out + " (" + size + ")");
  return kExitOk;
}

int RunDemo(const std::string& out) {
  const SynthEcg ecg = SynthesizeRestingEcg(10.0, 20240514);
  std::unique_ptr<TestRecord> record = BuildDemoRecord(ecg);
  Library lib;
  std::string size;
  if (!SaveVerified(lib, *record, out, &size)) return kExitFailed;

  // Check the file as a host would before it fetches, then fetch it fresh.
  Fetched fetched;
  if (!FetchFile(lib, out, &fetched)) return kExitFailed;
  const ValidFormatInfo& info = fetched.info;
  bool shapeOk = info.leadCount == 8 && info.samplingRate == ecg.samplingRate &&
                 info.amplitudeMultiplier == ecg.resolutionNv && info.longestLead == ecg.samplesPerLead;
  for (uint32_t k = 0; k < 8; ++k) shapeOk = shapeOk && info.channel[k] == k;
  if (!shapeOk) {
    Fail(out, "ISVALIDFORMAT reports a different shape: " + std::to_string(info.leadCount) + " leads, " +
                  std::to_string(info.longestLead) + " samples, " + std::to_string(info.samplingRate) + " Hz, " +
                  std::to_string(info.amplitudeMultiplier) + " nV");
    return kExitFailed;
  }
  if (fetched.procedureType != 1) {
    Fail(out, "GETPROCEDURETYPE reports " + std::to_string(fetched.procedureType) + " instead of 1");
    return kExitFailed;
  }
  const std::vector<std::string> diffs =
      DiffJson(DumpRecord(*record), DumpRecord(*fetched.record), 12, {"derived"});
  if (!diffs.empty()) {
    Fail(out, "the fetched record differs from the saved one (saved / fetched):");
    for (const std::string& d : diffs) Console::Get().Line("  " + d);
    return kExitFailed;
  }

  fs::path svg = fs::path(out).replace_extension(".svg");
  PlotOptions options;
  options.source = fs::path(out).filename().string();
  std::string text, error;
  if (!RenderPlot(PageOf(*fetched.record), scpreader::ReadFile(out), options, &text, &error)) {
    Fail(out, error);
    return kExitFailed;
  }
  if (!WriteFile(svg.string(), text)) return kExitFailed;

  char line[256];
  std::printf("demo: %s (%s)\n", out.c_str(), size.c_str());
  std::snprintf(line, sizeof line, "  %u leads x %u samples at %u Hz, %u nV per unit; %zu beats, %.0f/min, axis %+.0f",
                info.leadCount, info.longestLead, info.samplingRate, info.amplitudeMultiplier, ecg.beats.size(),
                ecg.meanRateBpm, ecg.axisDegrees);
  std::printf("%s\n", line);
  std::printf("  saved, valid, fetched back: every field, sub-record and sample equal\n");
  std::printf("  accession number %s\n", fetched.record->accessionNumber);
  std::printf("  plot: %s\n", svg.string().c_str());
  return kExitOk;
}

int RunInfo(const std::vector<std::string>& files, bool json) {
  Library lib;
  Json all = Json::array();
  int status = kExitOk;
  size_t done = 0;
  for (const std::string& path : files) {
    if (files.size() > 1) Console::Get().Progress(done, files.size(), path);
    Json o;
    o["file"] = path;
    std::vector<std::string> log;
    std::error_code ec;
    if (!fs::exists(path, ec)) {
      o["valid"] = false;
      o["error"] = "no such file";
      Fail(path, "no such file");
      status = kExitFailed;
      all.push_back(std::move(o));
      ++done;
      continue;
    }
    ScpFile file(path);
    ValidFormatInfo info{};
    const int32_t valid = lib.IsValidFormat(path, &info);
    for (const LogEntry& e : lib.lastLines()) log.push_back("[ISVALIDFORMAT] " + FormatLogEntry(e));
    const int32_t procedure = lib.GetProcedureType(path);
    for (const LogEntry& e : lib.lastLines()) log.push_back("[GETPROCEDURETYPE] " + FormatLogEntry(e));
    if (valid != 1) status = kExitFailed;

    o["valid"] = valid == 1;
    o["procedureType"] = procedure;
    o["size"] = file.fileSize();
    if (!file.error().empty()) o["error"] = file.error();
    if (!file.sections().empty()) {
      o["recordLength"] = file.recordLength();
      o["recordCrc"] = file.recordCrcOk() ? "ok" : "bad";
    }
    Json fields;
    const uint32_t* words = reinterpret_cast<const uint32_t*>(&info);
    for (int k = 0; k < 18; ++k) fields[kInfoNames[k]] = words[k];
    o["formatInfo"] = valid == 1 ? fields : Json(nullptr);
    // The section table and the waveform as the reader sees them.
    const scpreader::Record rec = scpreader::ReadFile(path);
    auto sectionProblem = [&](uint16_t id) {
      for (const scpreader::Problem& p : rec.problems)
        if (p.section == id && p.lead < 0) return p.reason;
      return std::string();
    };
    auto status = [](const scpreader::SectionSummary& s) { return !s.present ? "absent" : s.crcOk ? "ok" : "bad"; };
    Json sections = Json::array();
    for (const scpreader::SectionSummary& s : rec.sections) {
      Json so;
      so["id"] = s.id;
      so["length"] = s.length;
      so["offset"] = s.present ? Json(s.index > 0 ? s.index - 1 : 0) : Json(nullptr);
      so["crc"] = status(s);
      so["what"] = s.what;
      if (s.present && !sectionProblem(s.id).empty()) so["problem"] = sectionProblem(s.id);
      sections.push_back(std::move(so));
    }
    o["sections"] = std::move(sections);
    Json decoded;
    decoded["protocolVersion"] = rec.protocolVersion;
    decoded["samplingRate"] = rec.sampleRateHz();
    decoded["sampleIntervalUs"] = rec.sampleIntervalUs;
    decoded["amplitudeNanovolts"] = rec.amplitudeNanovolts;
    Json leads = Json::array();
    for (const scpreader::Lead& l : rec.leads)
      leads.push_back({{"id", l.id}, {"name", l.name}, {"samples", l.samples.size()}, {"derived", l.derived}});
    decoded["leads"] = std::move(leads);
    Json problems = Json::array();
    for (const scpreader::Problem& p : rec.problems) problems.push_back(scpreader::ProblemText(rec, p));
    decoded["problems"] = std::move(problems);
    o["decoded"] = std::move(decoded);
    o["log"] = log;

    if (!json) {
      Console::Get().EndProgress();
      std::printf("%s: %s, procedure type %d\n", path.c_str(),
                  valid == 1 ? "valid SCP-ECG record" : "not a valid SCP-ECG record", procedure);
      std::printf("  file: %" PRIu64 " bytes", file.fileSize());
      if (!file.sections().empty())
        std::printf("; record length field %u; record CRC %s", file.recordLength(), file.recordCrcOk() ? "ok" : "bad");
      std::printf("\n");
      if (!file.error().empty()) std::printf("  %s\n", file.error().c_str());
      if (valid == 1) {
        std::printf("  format information (ISVALIDFORMAT):\n");
        for (int k = 0; k < 18; ++k)
          std::printf("    %2d  %-20s %10u  %s\n", k, kInfoNames[k], words[k], kInfoUnits[k]);
      }
      if (!rec.sections.empty()) {
        std::printf("  sections:\n      id      length      offset  crc  what\n");
        std::string absent;
        for (const scpreader::SectionSummary& s : rec.sections) {
          if (!s.present) {
            absent += " " + std::to_string(s.id);
            continue;
          }
          const std::string problem = sectionProblem(s.id);
          std::printf("    %4u  %10u  %10u  %s%s%s  (%s)\n", s.id, s.length, s.index > 0 ? s.index - 1 : 0, status(s),
                      problem.empty() ? "" : ": ", problem.c_str(), s.what.c_str());
        }
        if (!absent.empty()) std::printf("    absent:%s\n", absent.c_str());
      }
      if (rec.hasWaveform()) {
        std::printf("  waveform (this tool's reader): %.6g Hz (%u us), %u nV per unit, version %u.%u\n",
                    rec.sampleRateHz(), rec.sampleIntervalUs, rec.amplitudeNanovolts, rec.protocolVersion / 10,
                    rec.protocolVersion % 10);
        std::string names;
        for (const scpreader::Lead& l : rec.leads)
          if (!l.samples.empty()) names += " " + l.name + (l.derived ? "*" : "");
        std::printf("    leads:%s%s\n", names.c_str(), names.find('*') != std::string::npos ? "  (* derived)" : "");
      }
      for (const scpreader::Problem& p : rec.problems)
        if (p.lead >= 0 || p.section == 5 || p.section == 6 || p.section == 2 || p.section == 3 || p.section == 4)
          std::printf("    not decoded: %s\n", scpreader::ProblemText(rec, p).c_str());
    }
    std::fflush(stdout);
    all.push_back(std::move(o));
    ++done;
  }
  Console::Get().EndProgress();
  if (json) std::fputs(PrintJson(all).c_str(), stdout);
  return status;
}

int RunDump(const std::string& path, const std::string& output) {
  Library lib;
  Fetched fetched;
  if (!FetchFile(lib, path, &fetched)) return kExitFailed;
  const std::string text = PrintJson(DumpRecord(*fetched.record));
  if (output.empty() || output == "-") {
    std::fputs(text.c_str(), stdout);
    return kExitOk;
  }
  return WriteFile(output, text) ? kExitOk : kExitFailed;
}

int RunMake(const std::string& input, const std::string& out) {
  std::string text;
  if (!ReadText(input, &text)) return kExitFailed;
  Json j;
  try {
    j = Json::parse(text);
  } catch (const Json::parse_error& e) {
    Fail(input, std::string("not valid JSON: ") + e.what());
    return kExitFailed;
  }
  std::vector<std::string> errors;
  std::unique_ptr<TestRecord> record = BuildRecord(j, &errors);
  if (!record) {
    for (const std::string& e : errors) Fail(input, e);
    Fail(input, "refused; nothing written");
    return kExitFailed;
  }
  return MakeVerified(*record, out);
}

namespace {

// The reader's record of a file, with everything it could not decode named
// on standard error.
bool ReadWaveform(const std::string& path, scpreader::Record* r) {
  std::error_code ec;
  if (!fs::exists(path, ec)) {
    Fail(path, "no such file");
    return false;
  }
  *r = scpreader::ReadFile(path);
  for (const scpreader::Problem& p : r->problems) Fail(path, scpreader::ProblemText(*r, p));
  if (!r->hasWaveform()) {
    Fail(path, "the record holds no ECG waveform");
    return false;
  }
  return true;
}

}  // namespace

int RunPlot(const std::string& path, const std::string& out, double from, double seconds) {
  scpreader::Record ecg;
  if (!ReadWaveform(path, &ecg)) return kExitFailed;
  // The header from the plug-in when it takes the file (it decides whether
  // the patient's identity may be shown here), else from Section 1.
  PlotPage page = PageOf(ecg.demographics);
  {
    // Its complaints about the waveform (first differences, unknown leads)
    // are not the plot's: they show with -v only.
    Library lib;
    lib.ProblemsAsDetail(true);
    ValidFormatInfo info{};
    if (path.size() <= kMaxPath && lib.IsValidFormat(path, &info) == 1) {
      ScpFile file(path);
      Fetched fetched;
      std::string ignored;
      if (FetchWhole(lib, file, path, &fetched, &ignored)) page = PageOf(*fetched.record);
    }
  }
  PlotOptions options;
  options.from = from;
  options.seconds = seconds;
  options.source = fs::path(path).filename().string();
  std::string svg, error;
  if (!RenderPlot(page, ecg, options, &svg, &error)) {
    Fail(path, error);
    return kExitFailed;
  }
  return WriteFile(out, svg) ? kExitOk : kExitFailed;
}

int RunExport(const std::string& path, const std::string& csv) {
  scpreader::Record ecg;
  if (!ReadWaveform(path, &ecg)) return kExitFailed;
  return WriteFile(csv, WaveformCsv(ecg)) ? kExitOk : kExitFailed;
}

}  // namespace scpecg
