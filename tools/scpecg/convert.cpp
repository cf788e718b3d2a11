#include "tools/scpecg/convert.h"

#include <edflib.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>

#include "lib/dbclient/testrecord.h"
#include "reader/scpreader.h"
#include "tools/scpecg/batch.h"
#include "tools/scpecg/commands.h"
#include "tools/scpecg/console.h"
#include "tools/scpecg/convert_leads.h"
#include "tools/scpecg/dicom_writer.h"
#include "tools/scpecg/edf_writer.h"
#include "tools/scpecg/host.h"
#include "tools/scpecg/record_json.h"
#include "tools/scpecg/scpfile.h"

namespace scpecg {

namespace {

namespace fs = std::filesystem;

std::string Extension(const std::string& to) { return to == "dicom" ? ".dcm" : "." + to; }

std::string Text(const char* field, size_t size) { return std::string(field, strnlen(field, size)); }

// Every input file with the file it becomes; *refused gets a message for
// each input that is not there. Folders are searched
// recursively; their structure is kept under -o.
std::vector<BatchItem> CollectItems(const ConvertOptions& o, std::vector<std::string>* refused) {
  std::vector<BatchItem> items;
  const std::string ext = Extension(o.to);
  for (const std::string& input : o.inputs) {
    std::error_code ec;
    if (fs::is_directory(input, ec)) {
      std::vector<fs::path> found;
      for (auto it = fs::recursive_directory_iterator(input, fs::directory_options::skip_permission_denied, ec);
           !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
        if (it->is_regular_file(ec) && it->path().extension() != ".partial") found.push_back(it->path());
      std::sort(found.begin(), found.end());
      for (const fs::path& p : found) {
        const fs::path rel = p.lexically_relative(input);
        fs::path out = (o.outDir.empty() ? fs::path(input) : fs::path(o.outDir)) / rel;
        items.push_back({p.string(), out.replace_extension(ext).string(), true});
      }
    } else if (fs::exists(input, ec)) {
      fs::path out = o.outDir.empty() ? fs::path(input) : fs::path(o.outDir) / fs::path(input).filename();
      items.push_back({input, out.replace_extension(ext).string(), false});
    } else {
      refused->push_back(input + ": no such file or folder");
    }
  }
  return items;
}

ItemResult ConvertOne(const BatchItem& item, const std::string& to) {
  // One plug-in session per worker process, started on its first file.
  static std::unique_ptr<Library> lib;
  scpreader::Record record = scpreader::ReadFile(item.input);
  if (!record.hasWaveform()) {
    const bool hasRhythm = std::any_of(record.sections.begin(), record.sections.end(),
                                       [](const scpreader::SectionSummary& s) { return s.id == 6 && s.present; });
    const std::string why = record.problems.empty() ? "" : record.problems.front().reason;
    if (record.sections.empty())
      return {item.fromFolder ? Outcome::kSkipped : Outcome::kFailed,
              why.empty() ? "not an SCP-ECG record" : why};
    if (!hasRhythm) return {Outcome::kSkipped, "the record holds no ECG waveform"};
    return {Outcome::kFailed, "the ECG waveform cannot be decoded" + (why.empty() ? "" : ": " + why)};
  }
  if (!lib) lib = std::make_unique<Library>();
  const bool identityShown = AddPluginData(*lib, item.input, &record);
  std::string output = item.output;
  if (to == "edf") output = fs::path(output).replace_extension(EdfExtension(record)).string();
  std::string error;
  const bool ok = WriteAtomically(
      output,
      [&](const std::string& partial) {
        if (to == "edf") return WriteEdf(record, partial, &error);
        if (to == "dicom") return WriteDicom(record, !identityShown, partial, &error);
        return WriteText(partial, WaveformCsv(record), &error);
      },
      &error);
  if (!ok) return {Outcome::kFailed, output + ": " + error};
  return {Outcome::kDone, ""};
}

// EDF physical dimensions we take, in nanovolts.
double NanovoltsPer(const std::string& dimension) {
  std::string d = dimension;
  while (!d.empty() && d.back() == ' ') d.pop_back();
  if (d == "uV") return 1e3;
  if (d == "mV") return 1e6;
  if (d == "V") return 1e9;
  return 0;
}

struct EdfLead {
  int signal;
  int channel;
  double gain, offset;  // nanovolts = digital * gain + offset
};

// EDF+ annotations back into the lists convert takes them from: "QRS" and
// "QRS type N" as beat annotations at their sample, the rest as episodes
// (start and end in milliseconds; "episode type N" gives the type code).
void AddEdfAnnotations(int handle, long long count, double rate, TestRecord& record) {
  std::vector<AnnotationEntry> beats;
  std::vector<std::pair<EpisodeEntry, std::string>> episodes;
  for (int i = 0; i < count; ++i) {
    edf_annotation_struct a{};
    if (edf_get_annotation(handle, i, &a) != 0) continue;
    const std::string text = a.annotation;
    const double onset = a.onset / 1e7, duration = a.duration_l > 0 ? a.duration_l / 1e7 : 0;
    unsigned code = 0;
    if (text == "QRS" || std::sscanf(text.c_str(), "QRS type %u", &code) == 1) {
      beats.push_back({static_cast<uint32_t>(std::lround(onset * rate)), static_cast<uint8_t>(code), 0, 0});
    } else {
      const bool typed = std::sscanf(text.c_str(), "episode type %u", &code) == 1;
      const uint32_t start = static_cast<uint32_t>(std::lround(onset * 1000));
      episodes.push_back({{start, start + static_cast<uint32_t>(std::lround(duration * 1000)), 0,
                           EpisodeList::MapTypeCode(typed ? code : 0), 0, nullptr, 0},
                          typed ? "" : text});
    }
  }
  if (!beats.empty()) {
    auto* list = new AnnotationList(static_cast<uint32_t>(beats.size()));
    record.SetAnnotations(list);
    if (list->entries == nullptr) return;
    std::copy(beats.begin(), beats.end(), list->entries);
    list->count = static_cast<uint32_t>(beats.size());
  }
  if (!episodes.empty()) {
    auto* list = new EpisodeList(static_cast<uint32_t>(episodes.size()), 0);
    record.SetEpisodes(list);
    if (list->entries == nullptr) return;
    for (uint32_t i = 0; i < episodes.size(); ++i) {
      list->entries[i] = episodes[i].first;
      if (!episodes[i].second.empty()) list->SetText(i, episodes[i].second.c_str());
    }
    list->count = static_cast<uint32_t>(episodes.size());
  }
}

// The record an EDF+ file describes, or null with *error set.
std::unique_ptr<TestRecord> RecordFromEdf(const std::string& path, std::string* error) {
  auto hdr = std::make_unique<edf_hdr_struct>();
  if (edfopen_file_readonly(path.c_str(), hdr.get(), EDFLIB_READ_ALL_ANNOTATIONS) != 0) {
    *error = "not an EDF or BDF file EDFlib opens (error " + std::to_string(hdr->filetype) + ")";
    return nullptr;
  }
  struct Closer {
    int h;
    ~Closer() { edfclose_file(h); }
  } closer{hdr->handle};
  std::vector<EdfLead> leads;
  std::vector<bool> used(EcgWaveform::kChannelSlots, false);
  double rate = 0;
  long long samples = 0;
  for (int s = 0; s < hdr->edfsignals; ++s) {
    const edf_param_struct& p = hdr->signalparam[s];
    const std::string name = LeadOfEdfLabel(p.label);
    int channel = -1;
    for (int k = 0; k < static_cast<int>(EcgWaveform::kChannelSlots); ++k)
      if (name == ChannelName(k)) channel = k;
    if (channel < 0 || used[static_cast<size_t>(channel)]) {
      Console::Get().Error(path + ": signal \"" + p.label + "\" is not a lead a record stores; left out");
      continue;
    }
    const double unit = NanovoltsPer(p.physdimension);
    const double signalRate = p.smp_in_datarecord * 1e7 / static_cast<double>(hdr->datarecord_duration);
    if (unit == 0 || p.dig_max == p.dig_min || (rate != 0 && (signalRate != rate || p.smp_in_file != samples))) {
      Console::Get().Error(path + ": signal \"" + p.label + "\" is not in volts or not at the rate of the first lead; left out");
      continue;
    }
    rate = signalRate;
    samples = p.smp_in_file;
    used[static_cast<size_t>(channel)] = true;
    const double gain = (p.phys_max - p.phys_min) / (p.dig_max - p.dig_min) * unit;
    leads.push_back({s, channel, gain, p.phys_min * unit - p.dig_min * gain});
  }
  if (leads.empty()) {
    *error = "no signal is an ECG lead a record stores (I, II, V1 to V6, X, Y, Z)";
    return nullptr;
  }
  if (std::fabs(rate - std::round(rate)) > 1e-6 || rate < 1 || samples < 1 || samples > 0x7FFFFFFF) {
    *error = "the sampling rate must be a whole number of hertz";
    return nullptr;
  }
  std::sort(leads.begin(), leads.end(), [](const EdfLead& a, const EdfLead& b) { return a.channel < b.channel; });

  std::vector<std::vector<double>> nv(leads.size(), std::vector<double>(static_cast<size_t>(samples)));
  double largest = 0, finest = 0;
  for (size_t l = 0; l < leads.size(); ++l) {
    std::vector<int> digital(static_cast<size_t>(samples));
    if (edfread_digital_samples(hdr->handle, leads[l].signal, static_cast<int>(samples), digital.data()) != samples) {
      *error = "the samples of signal " + std::to_string(leads[l].signal) + " cannot be read";
      return nullptr;
    }
    for (size_t i = 0; i < digital.size(); ++i) {
      nv[l][i] = digital[i] * leads[l].gain + leads[l].offset;
      largest = std::max(largest, std::fabs(nv[l][i]));
    }
    finest = finest == 0 ? std::fabs(leads[l].gain) : std::min(finest, std::fabs(leads[l].gain));
  }
  // The resolution: the finest gain in whole nanovolts, which keeps every
  // sample exactly when the file's gains are whole nanovolts (as ours are),
  // coarser only when 16 bits would not hold the largest value.
  uint32_t resolution = static_cast<uint32_t>(std::max(1.0, std::round(finest)));
  resolution = std::max(resolution, static_cast<uint32_t>(std::ceil(largest / 32767)));

  std::vector<uint8_t> channels;
  for (const EdfLead& l : leads) channels.push_back(static_cast<uint8_t>(l.channel));
  auto record = std::make_unique<TestRecord>();
  auto* w = new EcgWaveform(static_cast<uint32_t>(leads.size()), static_cast<uint32_t>(samples),
                            static_cast<uint32_t>(std::lround(rate)), resolution, channels);
  record->SetWaveform(w);
  if (!w->HasStorage()) {
    *error = "the recording is too large for a record";
    return nullptr;
  }
  for (size_t l = 0; l < leads.size(); ++l) {
    int16_t* out = w->Channel(channels[l]);
    for (size_t i = 0; i < nv[l].size(); ++i) out[i] = static_cast<int16_t>(std::lround(nv[l][i] / resolution));
  }
  w->SetValidSampleCount(static_cast<uint32_t>(samples));

  // EDF+ writes "X" for what it does not know.
  auto known = [](const char* s) { return s[0] != '\0' && std::string(s) != "X"; };
  if (known(hdr->patientcode)) record->SetStoredPatientId(hdr->patientcode);
  if (known(hdr->patient_name)) {
    const std::string name = hdr->patient_name;
    const size_t comma = name.find(',');
    std::string last = name.substr(0, comma), first;
    if (comma != std::string::npos) first = name.substr(comma + 1 + (name[comma + 1] == ' ' ? 1 : 0));
    record->SetPatientName(first.c_str(), "", last.c_str());
  }
  const std::string gender = hdr->gender;
  if (gender == "Male" || gender == "Female") record->SetSex(gender == "Male" ? 1 : 2);
  const DateTime acquired(static_cast<uint16_t>(hdr->startdate_year), static_cast<uint8_t>(hdr->startdate_month),
                          static_cast<uint8_t>(hdr->startdate_day), static_cast<uint8_t>(hdr->starttime_hour),
                          static_cast<uint8_t>(hdr->starttime_minute), static_cast<uint8_t>(hdr->starttime_second));
  record->SetAcquisitionDateTime(&acquired);
  if (hdr->birthdate_year > 0) {
    const CalendarDate born{static_cast<uint16_t>(hdr->birthdate_year), static_cast<uint8_t>(hdr->birthdate_day),
                            static_cast<uint8_t>(hdr->birthdate_month)};
    record->SetBirthDate(&born);
  }
  if (known(hdr->technician)) record->SetTechnician(hdr->technician);
  if (known(hdr->equipment)) record->SetDeviceName(hdr->equipment);
  AddEdfAnnotations(hdr->handle, hdr->annotations_in_file, rate, *record);
  return record;
}

}  // namespace

bool AddPluginData(Library& lib, const std::string& path, scpreader::Record* record) {
  // Only our records carry manufacturer sections; another producer's has
  // nothing of ours and no scrambled identity, and needs no fetch.
  uint32_t annotationBytes = 0, episodeBytes = 0;
  bool ours = false;
  for (const scpreader::SectionSummary& s : record->sections) {
    if (!s.present || s.id < 128) continue;
    ours = true;
    const uint32_t data = s.length > ScpFile::kSectionHeaderBytes ? s.length - ScpFile::kSectionHeaderBytes : 0;
    if (s.id == 130) annotationBytes = data;
    if (s.id == 131) episodeBytes = data;
  }
  if (!ours) return true;
  // A fetch fills only the sub-records attached to the record: attach the
  // two lists, sized from their sections as a host would, and nothing else.
  auto fetched = std::make_unique<TestRecord>();
  fetched->SetFilePath(path.c_str());
  if (annotationBytes > 0) fetched->SetAnnotations(new AnnotationList(annotationBytes / 8 + 1));
  if (episodeBytes > 0) {
    const uint32_t cap = episodeBytes / EpisodeList::kItemFixedBytes + 1;
    fetched->SetEpisodes(new EpisodeList(cap, episodeBytes + 6 * cap + 16));
  }
  if (lib.Fetch(fetched.get()) != 1) return true;  // the plug-in does not take it
  const TestRecord& r = *fetched;
  const double interval = record->sampleIntervalUs / 1e6;
  if (const AnnotationList* a = r.GetAnnotations(); a != nullptr && a->entries != nullptr) {
    // Our beat annotations: the R-peak sample and a beat code.
    for (uint32_t i = 0; i < std::min(a->count, a->capacity); ++i) {
      const AnnotationEntry& e = a->entries[i];
      record->annotations.push_back(
          {e.value * interval, 0, e.code1 == 0 ? "QRS" : "QRS type " + std::to_string(e.code1)});
    }
  }
  if (const EpisodeList* e = r.GetEpisodes(); e != nullptr && e->entries != nullptr) {
    // Episodes: start and end in milliseconds, a type code and a text.
    const std::vector<std::string> texts = StoredEpisodeTexts(*e);
    for (uint32_t i = 0; i < std::min(e->count, e->capacity); ++i) {
      const EpisodeEntry& x = e->entries[i];
      std::string text = i < texts.size() ? texts[i] : "";
      if (text.empty()) text = "episode type " + std::to_string(x.typeCode);
      record->annotations.push_back(
          {x.value1 / 1000.0, x.value2 > x.value1 ? (x.value2 - x.value1) / 1000.0 : 0, text});
    }
  }
  std::sort(record->annotations.begin(), record->annotations.end(),
            [](const scpreader::Annotation& a, const scpreader::Annotation& b) { return a.onsetSeconds < b.onsetSeconds; });
  scpreader::Demographics& d = record->demographics;
  if (r.identityReadable == 0) {
    d.patientId.clear();
    d.lastName.clear();
    d.firstName.clear();
    d.secondLastName.clear();
    d.birthYear = d.birthMonth = d.birthDay = 0;
    return false;
  }
  // The file holds the identity scrambled; the fetch gives it back plain.
  d.patientId = Text(r.patientId, sizeof r.patientId);
  char buf[64];
  auto plain = [&](char* text) {
    r.UnscrambleText(text, static_cast<uint32_t>(strnlen(text, sizeof buf)));
    return std::string(text);
  };
  d.lastName = plain(r.GetLastName(buf, sizeof buf));
  d.firstName = plain(r.GetFirstName(buf, sizeof buf));
  d.secondLastName = plain(r.GetSecondLastName(buf, sizeof buf));
  return true;
}

int RunConvert(const ConvertOptions& options) {
  std::vector<std::string> refused;
  std::vector<BatchItem> items;
  {
    // Two inputs that would write the same file (a/r.scp and b/r.scp with
    // -o): the second fails rather than race the first for its output.
    std::set<std::string> outputs;
    for (BatchItem& item : CollectItems(options, &refused)) {
      if (outputs.insert(fs::absolute(item.output).lexically_normal().string()).second)
        items.push_back(std::move(item));
      else
        refused.push_back(item.input + ": its output " + item.output + " is another input's");
    }
  }
  for (const std::string& m : refused) Console::Get().Error(m);
  int jobs = options.jobs;
  if (jobs <= 0) jobs = static_cast<int>(std::max(1L, sysconf(_SC_NPROCESSORS_ONLN)));
  const BatchSummary s =
      RunBatch(items, jobs, [&](const BatchItem& item) { return ConvertOne(item, options.to); });
  for (const auto& [index, r] : s.notes)
    Console::Get().Line(std::string(r.outcome == Outcome::kSkipped ? "  skipped " : "  failed  ") +
                        items[index].input + ": " + r.reason);
  std::printf("convert: %zu converted, %zu skipped, %zu failed\n", s.done, s.skipped, s.failed + refused.size());
  return s.failed > 0 || !refused.empty() ? kExitFailed : kExitOk;
}

int RunMakeFromEdf(const std::string& edf, const std::string& out) {
  std::string error;
  std::unique_ptr<TestRecord> record = RecordFromEdf(edf, &error);
  if (!record) {
    Console::Get().Error(edf + ": " + error);
    return kExitFailed;
  }
  return MakeVerified(*record, out);
}

}  // namespace scpecg
