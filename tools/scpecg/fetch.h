// Fetching a whole record the way a workstation does: ask ISVALIDFORMAT for
// the shape of the data, attach a sub-record of the right size for every
// section the file holds, call FETCHTEST, then drop what could not be read.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "scp/scpsrv.h"

class TestRecord;

namespace scpecg {

class Library;
class ScpFile;

struct Fetched {
  std::unique_ptr<TestRecord> record;
  ValidFormatInfo info{};
  int32_t procedureType = 7;
  // Sections that were there but could not be read, and what was left out.
  std::vector<std::string> notes;
};

// False, with *error set, when the library does not take the file as an
// SCP-ECG record or the fetch fails.
bool FetchWhole(Library& library, ScpFile& file, const std::string& path, Fetched* out, std::string* error);

}  // namespace scpecg
