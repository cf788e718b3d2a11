// The tool's commands. Each returns the process exit code: 0 success, 1 the
// file or the operation failed (usage errors, 2, are caught before).
#pragma once

#include <string>
#include <vector>

class TestRecord;

namespace scpreader {
struct Record;
}

namespace scpecg {

class Library;

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

int RunDemo(const std::string& out);
int RunInfo(const std::vector<std::string>& files, bool json);
int RunDump(const std::string& file, const std::string& output);
int RunMake(const std::string& input, const std::string& out);
int RunPlot(const std::string& file, const std::string& out, double from, double seconds);
int RunExport(const std::string& file, const std::string& csv);

// Saves through a sibling path, reads the file back and compares it with
// what was meant to be saved. The file stays only when everything came back.
bool SaveVerified(Library& lib, TestRecord& record, const std::string& out, std::string* summary);
// The end of every `make`: a verified save, reported on success.
int MakeVerified(TestRecord& record, const std::string& out);

// The CSV text of a record's decoded leads: a time column in seconds, then
// one column per stored and decoded lead in microvolts (exact: samples times
// the amplitude unit). Leads that could not be decoded are left out.
std::string WaveformCsv(const scpreader::Record& record);

}  // namespace scpecg
