// `convert`: records to EDF+, DICOM ECG or CSV, files and whole folders in
// worker processes; `make --from edf`: an EDF+ recording into a record.
#pragma once

#include <string>
#include <vector>

namespace scpreader {
struct Record;
}

namespace scpecg {

class Library;

struct ConvertOptions {
  std::vector<std::string> inputs;  // files and folders (searched recursively)
  std::string to;                   // "edf", "dicom" or "csv"
  std::string outDir;               // empty: beside each input
  int jobs = 0;                     // 0: one per core
};

int RunConvert(const ConvertOptions& options);
int RunMakeFromEdf(const std::string& edf, const std::string& out);

// Adds what only the plug-in reads to a record read from path: the beat
// annotations and episodes of its manufacturer sections as annotations,
// and the patient identity as this workstation may show it. Returns false
// when the identity may not be shown; it is then emptied in the record.
bool AddPluginData(Library& lib, const std::string& path, scpreader::Record* record);

}  // namespace scpecg
