// Sub-records in JSON: the waveform, the annotation, episode, pacemaker and
// blood pressure lists and the spirometry blocks.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>

#include "lib/byte_cursor.h"
#include "lib/dbclient/testrecord.h"
#include "tools/scpecg/record_json.h"
#include "tools/scpecg/record_parts.h"
#include "tools/scpecg/scpfile.h"

namespace scpecg {

Json DumpWaveform(const EcgWaveform* w) {
  if (w == nullptr || !w->HasStorage() || w->LeadCount() == 0) return nullptr;
  const uint32_t s = w->SamplesPerLead();
  std::vector<int> channels;
  for (uint32_t i = 0; i < w->LeadCount(); ++i) {
    const int32_t ch = w->LeadChannelSlot(i);
    if (ch >= 0 && w->Channel(static_cast<uint32_t>(ch)) != nullptr) channels.push_back(ch);
  }
  std::sort(channels.begin(), channels.end());
  Json o;
  o["samplingRate"] = w->SamplingRate();
  o["amplitudeResolution"] = w->AmplitudeResolution();
  o["samplesPerLead"] = s;
  Json leads = Json::array();
  for (int ch : channels) {
    Json lead;
    lead["channel"] = ch;
    lead["lead"] = ChannelName(ch);
    lead["samples"] = Numbers(w->Channel(static_cast<uint32_t>(ch)), s);
    leads.push_back(std::move(lead));
  }
  o["leads"] = std::move(leads);
  return o;
}

void BuildWaveform(In& in, const Json& j, const std::string& p, TestRecord& r) {
  if (j.is_null()) return;
  if (!in.Object(j, p, {"samplingRate", "amplitudeResolution", "samplesPerLead", "leads"},
                 {"samplingRate", "amplitudeResolution", "samplesPerLead", "leads"}))
    return;
  int64_t rate = 0, resolution = 0, s = 0;
  bool good = in.Int(j["samplingRate"], Key(p, "samplingRate"), 1, 1000000, &rate);
  if (good) {
    // The file keeps the sample interval in whole microseconds (16-bit).
    const int64_t interval = 1000000 / rate;
    if (interval > 32767 || 1000000 / interval != rate) {
      in.Fail(Key(p, "samplingRate"), std::to_string(rate) +
                                          " Hz cannot be stored: the file keeps the sample interval in whole "
                                          "microseconds (1 to 32767), which gives this rate back only for some rates");
      good = false;
    }
  }
  good = in.Int(j["amplitudeResolution"], Key(p, "amplitudeResolution"), 1, 32767, &resolution) && good;
  good = in.Int(j["samplesPerLead"], Key(p, "samplesPerLead"), 1, 100000000, &s) && good;
  const Json& leads = j["leads"];
  if (!in.Array(leads, Key(p, "leads"), 1, EcgWaveform::kChannelSlots) || !good) return;
  std::vector<uint8_t> channels;
  std::vector<std::vector<int16_t>> samples(leads.size());
  for (size_t i = 0; i < leads.size(); ++i) {
    const std::string lp = At(Key(p, "leads"), i);
    if (!in.Object(leads[i], lp, {"channel", "lead", "samples"}, {"channel", "samples"})) return;
    int64_t ch = 0;
    if (!in.Int(leads[i]["channel"], Key(lp, "channel"), 0, 13, &ch)) return;
    if (!channels.empty() && ch <= channels.back()) {
      in.Fail(Key(lp, "channel"), "leads must be listed in ascending channel order, each channel once");
      return;
    }
    if (leads[i].contains("lead")) {
      std::string name;
      if (!in.Text(leads[i]["lead"], Key(lp, "lead"), 16, &name)) return;
      if (name != ChannelName(static_cast<int>(ch))) {
        in.Fail(Key(lp, "lead"), "channel " + std::to_string(ch) + " records lead " + ChannelName(static_cast<int>(ch)) +
                                     ", not " + name);
        return;
      }
    }
    channels.push_back(static_cast<uint8_t>(ch));
    if (!in.Numbers(leads[i]["samples"], Key(lp, "samples"), static_cast<size_t>(s), static_cast<size_t>(s), -32768,
                    32767, &samples[i]))
      return;
  }
  auto w = std::make_unique<EcgWaveform>(static_cast<uint32_t>(channels.size()), static_cast<uint32_t>(s),
                                         static_cast<uint32_t>(rate), static_cast<uint32_t>(resolution), channels);
  if (!w->HasStorage()) {
    in.Fail(p, "no memory for the waveform");
    return;
  }
  for (size_t i = 0; i < channels.size(); ++i)
    std::copy(samples[i].begin(), samples[i].end(), w->Channel(channels[i]));
  w->SetValidSampleCount(static_cast<uint32_t>(s));
  r.SetWaveform(w.release());
}

Json DumpAnnotations(const AnnotationList* a) {
  if (a == nullptr || a->count == 0 || a->entries == nullptr) return nullptr;
  const uint32_t n = std::min(a->count, a->capacity);
  Json o;
  o["valueA"] = a->valueA;
  o["valueB"] = a->valueB;
  Json entries = Json::array();
  for (uint32_t i = 0; i < n; ++i) {
    const AnnotationEntry& e = a->entries[i];
    entries.push_back(Json::array({e.value, e.code1, e.code2, e.word}));
  }
  o["entries"] = std::move(entries);
  Json ext = Json::object();
  for (uint32_t k = AnnotationList::kFirstStoredExtension; k < AnnotationList::kExtensionArrays; ++k) {
    const AnnotationExtension* x = a->extensions[k];
    if (x == nullptr) continue;
    Json arr = Json::array();
    for (uint32_t i = 0; i < n; ++i) {
      Json t = Json::array();
      for (uint8_t b : x[i].bytes) t.push_back(b);
      for (uint16_t w : x[i].words) t.push_back(w);
      arr.push_back(std::move(t));
    }
    ext[std::to_string(k)] = std::move(arr);
  }
  if (!ext.empty()) o["extensions"] = std::move(ext);
  return o;
}

void BuildAnnotations(In& in, const Json& j, const std::string& p, TestRecord& r, bool pList) {
  if (j.is_null()) return;
  if (!in.Object(j, p, {"valueA", "valueB", "entries", "extensions"}, {"entries"})) return;
  uint32_t valueA = 0, valueB = 0;
  if (!in.Field(j, p, "valueA", 0, kU32, &valueA) || !in.Field(j, p, "valueB", 0, kU32, &valueB)) return;
  const Json& entries = j["entries"];
  const std::string ep = Key(p, "entries");
  if (!in.List(entries, ep, 10000000, "annotations")) return;
  const uint32_t n = static_cast<uint32_t>(entries.size());
  uint32_t mask = 0;
  std::vector<std::pair<uint32_t, const Json*>> exts;
  if (j.contains("extensions")) {
    const Json& e = j["extensions"];
    const std::string xp = Key(p, "extensions");
    if (!in.Object(e, xp, {"17", "18", "19"})) return;
    for (auto it = e.begin(); it != e.end(); ++it) {
      const uint32_t k = static_cast<uint32_t>(std::stoul(it.key()));
      mask |= AnnotationList::ExtensionBit(k);
      exts.emplace_back(k, &it.value());
    }
  }
  auto list = std::make_unique<AnnotationList>(n, mask);
  if (list->entries == nullptr) {
    in.Fail(p, "no memory for the annotations");
    return;
  }
  list->valueA = valueA;
  list->valueB = valueB;
  std::vector<int64_t> t;
  for (uint32_t i = 0; i < n; ++i) {
    const std::string ip = At(ep, i);
    if (!in.Array(entries[i], ip, 4, 4)) return;
    int64_t v[4];
    const int64_t hi[4] = {kU32, 255, 255, 65535};
    for (int k = 0; k < 4; ++k)
      if (!in.Int(entries[i][k], At(ip, k), 0, hi[k], &v[k])) return;
    list->entries[i] = AnnotationEntry{static_cast<uint32_t>(v[0]), static_cast<uint8_t>(v[1]),
                                       static_cast<uint8_t>(v[2]), static_cast<uint16_t>(v[3])};
  }
  for (auto& [k, arr] : exts) {
    const std::string xp = Key(Key(p, "extensions"), std::to_string(k));
    if (!in.Array(*arr, xp, n, n)) return;
    AnnotationExtension* x = list->extensions[k];
    if (x == nullptr) {
      in.Fail(xp, "no memory for the extension entries");
      return;
    }
    for (uint32_t i = 0; i < n; ++i) {
      const std::string ip = At(xp, i);
      if (!in.Array((*arr)[i], ip, 13, 13)) return;
      for (int b = 0; b < 13; ++b) {
        int64_t v = 0;
        if (!in.Int((*arr)[i][b], At(ip, b), 0, b < 6 ? 255 : 65535, &v)) return;
        if (b < 6)
          x[i].bytes[b] = static_cast<uint8_t>(v);
        else
          x[i].words[b - 6] = static_cast<uint16_t>(v);
      }
    }
  }
  list->count = n;
  if (pList)
    r.SetPAnnotations(list.release());
  else
    r.SetAnnotations(list.release());
}

// Texts of a fetched list live in its text store: runs of u32 index, u16
// length and the bytes, closed by the u32 episode count.
std::vector<std::string> StoredEpisodeTexts(const EpisodeList& e) {
  std::vector<std::string> texts(e.count);
  if (e.textStore == nullptr) return texts;
  const uint8_t* s = e.textStore;
  const size_t cap = e.textStoreCapacity;
  const ByteReader store(s, cap);
  size_t pos = 0;
  int64_t last = -1;
  while (pos + 6 <= cap) {
    const uint32_t index = store.U32At(pos);
    const uint32_t len = store.U16At(pos + 4);
    if (index >= e.count || static_cast<int64_t>(index) <= last || len == 0 || pos + 6 + len > cap) break;
    texts[index].assign(reinterpret_cast<const char*>(s + pos + 6), len);
    last = index;
    pos += 6 + len;
  }
  return texts;
}

Json DumpEpisodes(const EpisodeList* e) {
  if (e == nullptr || e->count == 0 || e->entries == nullptr) return nullptr;
  const uint32_t n = std::min(e->count, e->capacity);
  const std::vector<std::string> stored = StoredEpisodeTexts(*e);
  Json entries = Json::array();
  for (uint32_t i = 0; i < n; ++i) {
    const EpisodeEntry& x = e->entries[i];
    Json o;
    o["value1"] = x.value1;
    o["value2"] = x.value2;
    o["value3"] = x.value3;
    o["value4"] = x.value4;
    o["value5"] = x.value5;
    o["typeCode"] = x.typeCode;
    std::string text = x.text != nullptr ? std::string(x.text) : std::string();
    if (text.empty() && i < stored.size()) text = stored[i];
    o["text"] = text.empty() ? Json(nullptr) : Json(Latin1ToUtf8(text));
    entries.push_back(std::move(o));
  }
  return Json{{"entries", std::move(entries)}};
}

void BuildEpisodes(In& in, const Json& j, const std::string& p, TestRecord& r) {
  if (j.is_null()) return;
  if (!in.Object(j, p, {"entries"}, {"entries"})) return;
  const Json& entries = j["entries"];
  const std::string ep = Key(p, "entries");
  if (!in.List(entries, ep, 1000000, "episodes")) return;
  auto list = std::make_unique<EpisodeList>(static_cast<uint32_t>(entries.size()), 0);
  if (list->entries == nullptr) {
    in.Fail(p, "no memory for the episodes");
    return;
  }
  for (size_t i = 0; i < entries.size(); ++i) {
    const std::string ip = At(ep, i);
    const Json& x = entries[i];
    if (!in.Object(x, ip, {"value1", "value2", "value3", "value4", "value5", "typeCode", "text"}, {"typeCode"}))
      return;
    EpisodeEntry& e = list->entries[i];
    const char* keys[] = {"value1", "value2", "value3", "value4", "value5"};
    uint32_t* members[] = {&e.value1, &e.value2, &e.value3, &e.value4, &e.value5};
    for (int k = 0; k < 5; ++k)
      if (!in.Field(x, ip, keys[k], 0, kU32, members[k])) return;
    if (!in.Field(x, ip, "typeCode", 0, EpisodeList::kOtherType, &e.typeCode)) return;
    if (x.contains("text") && !x["text"].is_null()) {
      std::string t;
      if (!in.Text(x["text"], Key(ip, "text"), EpisodeList::kMaxTextLength, &t)) return;
      if (!t.empty() && !list->SetText(static_cast<uint32_t>(i), t.c_str())) {
        in.Fail(Key(ip, "text"), "no memory for the text");
        return;
      }
    }
  }
  list->count = static_cast<uint32_t>(entries.size());
  r.SetEpisodes(list.release());
}

Json DumpPacemaker(const PacemakerList* l) {
  if (l == nullptr || l->count == 0 || l->values == nullptr) return nullptr;
  return Json{{"values", Numbers(l->values, std::min(l->count, l->capacity))}};
}

void BuildPacemaker(In& in, const Json& j, const std::string& p, TestRecord& r) {
  if (j.is_null()) return;
  if (!in.Object(j, p, {"values"}, {"values"})) return;
  std::vector<uint32_t> v;
  if (j["values"].is_array() && j["values"].empty())
    return in.Fail(Key(p, "values"), "an empty list is not stored; use null for no pacemaker data");
  if (!in.Numbers(j["values"], Key(p, "values"), 1, 1000000, 0, kU32, &v)) return;
  auto l = std::make_unique<PacemakerList>(static_cast<uint32_t>(v.size()));
  if (l->values == nullptr) return in.Fail(p, "no memory");
  std::copy(v.begin(), v.end(), l->values);
  l->count = static_cast<uint32_t>(v.size());
  r.SetPacemakerList(l.release());
}

Json DumpBloodPressureData(const BloodPressureData* d) {
  if (d == nullptr || d->count == 0 || d->readings == nullptr) return nullptr;
  Json readings = Json::array();
  for (uint32_t i = 0; i < std::min(d->count, d->capacity); ++i)
    readings.push_back(Numbers(d->readings[i].words, BloodPressureReading::kWords));
  return Json{{"readings", std::move(readings)}};
}

void BuildBloodPressureData(In& in, const Json& j, const std::string& p, TestRecord& r) {
  if (j.is_null()) return;
  if (!in.Object(j, p, {"readings"}, {"readings"})) return;
  const Json& readings = j["readings"];
  const std::string rp = Key(p, "readings");
  if (!in.List(readings, rp, 100000, "readings")) return;
  auto d = std::make_unique<BloodPressureData>(static_cast<uint32_t>(readings.size()));
  if (d->readings == nullptr) return in.Fail(p, "no memory");
  for (size_t i = 0; i < readings.size(); ++i) {
    std::vector<uint32_t> w;
    if (!in.Numbers(readings[i], At(rp, i), BloodPressureReading::kWords, BloodPressureReading::kWords, 0, kU32, &w))
      return;
    std::copy(w.begin(), w.end(), d->readings[i].words);
  }
  d->count = static_cast<uint32_t>(readings.size());
  r.SetBloodPressureDataRecord(d.release());
}

Json DumpBloodPressureResults(const BloodPressureResults* b) {
  if (b == nullptr) return nullptr;
  Json o;
  o["value1"] = b->value1;
  o["value2"] = b->value2;
  Json groups = Json::array();
  for (const BloodPressureGroup& g : b->groups) {
    Json go;
    go["values"] = Numbers(g.values, BloodPressureGroup::kValues);
    go["extra"] = Numbers(g.extra, 2);
    groups.push_back(std::move(go));
  }
  o["groups"] = std::move(groups);
  return o;
}

void BuildBloodPressureResults(In& in, const Json& j, const std::string& p, TestRecord& r) {
  if (j.is_null()) return;
  if (!in.Object(j, p, {"value1", "value2", "groups"}, {"groups"})) return;
  auto b = std::make_unique<BloodPressureResults>();
  if (!in.Field(j, p, "value1", 0, kU32, &b->value1) || !in.Field(j, p, "value2", 0, kU32, &b->value2)) return;
  const std::string gp = Key(p, "groups");
  if (!in.Array(j["groups"], gp, BloodPressureResults::kGroups, BloodPressureResults::kGroups)) return;
  for (uint32_t g = 0; g < BloodPressureResults::kGroups; ++g) {
    const std::string ip = At(gp, g);
    const Json& x = j["groups"][g];
    if (!in.Object(x, ip, {"values", "extra"}, {"values", "extra"})) return;
    if (!in.Fill(x, ip, "values", 0, kU32, b->groups[g].values) || !in.Fill(x, ip, "extra", 0, kU32, b->groups[g].extra))
      return;
  }
  r.SetBloodPressureResultsRecord(b.release());
}

Json DumpSpirometry(const SpirometryData* s) {
  if (s == nullptr) return nullptr;
  return Json{{"words", Numbers(s->words, SpirometryData::kWords)}};
}

void BuildSpirometry(In& in, const Json& j, const std::string& p, TestRecord& r) {
  if (j.is_null()) return;
  if (!in.Object(j, p, {"words"}, {"words"})) return;
  std::vector<uint32_t> w;
  if (!in.Numbers(j["words"], Key(p, "words"), SpirometryData::kWords, SpirometryData::kWords, 0, kU32, &w)) return;
  // The writer puts the record length in place of the first word.
  if (w[0] != SpirometryData::kBlockBytes)
    return in.Fail(At(Key(p, "words"), 0), "the first word is the record length and is always 424");
  auto s = std::make_unique<SpirometryData>();
  std::copy(w.begin(), w.end(), s->words);
  r.SetSpirometryDataRecord(s.release());
}

Json DumpSpirometryItems(const TestRecord& r) {
  Json a = Json::array();
  for (int32_t i = 0; i < r.GetSpirometryItemCount(); ++i) {
    const SpirometryItem* item = r.GetSpirometryItemAt(i);
    if (item == nullptr) continue;
    a.push_back(Json{{"words", Numbers(item->words, SpirometryItem::kWords)}});
  }
  return a;
}

}  // namespace scpecg
