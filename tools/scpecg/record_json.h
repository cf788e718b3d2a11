// A test record as JSON and back (docs/dump-format.md).
//
// Every field that a file carries appears under the record's own member
// name; sub-records appear under the name of their slot, null when the slot
// is empty or holds nothing that a save would write. `derived` holds what a
// fetch computes (the plain patient identifier, identity readability); it
// is ignored when a record is built.
#pragma once

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "tools/scpecg/text.h"

class EpisodeList;
class TestRecord;

namespace scpecg {

inline constexpr const char* kFormatName = "scpecg-record-1";

Json DumpRecord(const TestRecord& record);

// Builds a record from JSON. On any problem returns null and appends
// "$.path: what is wrong" lines to errors (at most about 30).
std::unique_ptr<TestRecord> BuildRecord(const Json& json, std::vector<std::string>* errors);

// Where a and b differ, as "$.path: a-value / b-value", at most limit lines.
// Top-level keys named in ignore are skipped.
std::vector<std::string> DiffJson(const Json& a, const Json& b, size_t limit,
                                  const std::set<std::string>& ignore = {});

// The episode texts a fetch left in the list's text store, by episode
// index (empty where an episode has none).
std::vector<std::string> StoredEpisodeTexts(const EpisodeList& episodes);

// The interpretation text as the statements a save writes: split at CR
// (one LF after it is skipped too); a text ending in CR LF gives no empty
// statement after it, an empty text gives one empty statement.
std::vector<std::string> SplitStatements(const std::string& text);

}  // namespace scpecg
