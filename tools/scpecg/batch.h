// Many files through one job in worker processes: each worker takes the
// next file, and reports one line per file through a pipe to the parent,
// which shows progress and gathers the outcome. A worker that dies takes
// only the file it was on with it.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace scpecg {

struct BatchItem {
  std::string input;
  std::string output;
  bool fromFolder = false;  // found in a folder, not named on the command line
};

enum class Outcome { kDone, kSkipped, kFailed };

struct ItemResult {
  Outcome outcome = Outcome::kFailed;
  std::string reason;  // why skipped or failed
};

struct BatchSummary {
  size_t done = 0, skipped = 0, failed = 0;
  // Skipped and failed items with their reasons, in item order.
  std::vector<std::pair<size_t, ItemResult>> notes;
};

// Runs work on every item in `jobs` processes (at least 1, at most one per
// item). Progress goes to standard error: a bar with count, rate and time
// left on a terminal, one line per file otherwise.
BatchSummary RunBatch(const std::vector<BatchItem>& items, int jobs,
                      const std::function<ItemResult(const BatchItem&)>& work);

// Writes through OUT.partial and renames it when write succeeds; removes
// it otherwise, and also when the process is stopped by a signal meanwhile.
bool WriteAtomically(const std::string& out, const std::function<bool(const std::string& partial)>& write,
                     std::string* error);
// Writes content to path; false with *error "cannot be written" when it fails.
bool WriteText(const std::string& path, const std::string& content, std::string* error);

}  // namespace scpecg
