// scpecg: inspects, converts, plots and creates SCP-ECG records through the
// plug-in's exports, as a workstation uses them (docs/scpecg.md).
#include <CLI/CLI.hpp>

#include <cstdio>
#include <string>
#include <vector>

#include "tools/scpecg/commands.h"
#include "tools/scpecg/console.h"
#include "tools/scpecg/convert.h"

int main(int argc, char** argv) {
  using namespace scpecg;
  CLI::App app{"scpecg: inspect, convert, plot and create SCP-ECG records with the scpsrv plug-in"};
  app.require_subcommand(1);
  app.fallthrough();
  bool verbose = false;
  app.add_flag("-v,--verbose", verbose, "show every event-log line of the plug-in, not only problems");

  std::string demoOut = "out/demo.scp";
  CLI::App* demo = app.add_subcommand("demo", "synthesize a 10-second 12-lead resting ECG, save, check, fetch back, "
                                              "verify and plot it (OUT.svg beside OUT.scp)");
  demo->add_option("OUT", demoOut, "record to write")->capture_default_str();

  std::vector<std::string> infoFiles;
  bool infoJson = false;
  CLI::App* info = app.add_subcommand("info", "validity, procedure type, format information and section table");
  info->add_option("FILE", infoFiles, "records to look at")->required();
  info->add_flag("--json", infoJson, "print JSON for machines");

  std::string dumpFile, dumpOut;
  CLI::App* dump = app.add_subcommand("dump", "fetch the whole record and print it as JSON");
  dump->add_option("FILE", dumpFile, "record to read")->required();
  dump->add_option("-o,--output", dumpOut, "write the JSON here instead of standard output");

  std::string makeIn, makeOut, makeFrom = "json";
  CLI::App* make = app.add_subcommand("make", "build a record from JSON (the inverse of dump) or from EDF+ ECG leads");
  make->add_option("IN", makeIn, "JSON in the shape dump prints, or an EDF+ file with --from edf")->required();
  make->add_option("--from", makeFrom, "what IN is")->check(CLI::IsMember({"json", "edf"}))->capture_default_str();
  make->add_option("OUT", makeOut, "record to write")->required();

  std::string plotFile, plotOut;
  double plotFrom = 0, plotSeconds = 10;
  CLI::App* plot = app.add_subcommand("plot", "draw the 12-lead printout with a rhythm strip as SVG");
  plot->add_option("FILE", plotFile, "record to read")->required();
  plot->add_option("-o,--output", plotOut, "SVG to write")->required();
  plot->add_option("--from", plotFrom, "window start in seconds")->check(CLI::NonNegativeNumber)->capture_default_str();
  plot->add_option("--seconds", plotSeconds, "window length in seconds")
      ->check(CLI::PositiveNumber)
      ->capture_default_str();

  std::string exportFile, exportCsv;
  CLI::App* exp = app.add_subcommand("export", "write the samples as CSV (microvolts, time in seconds)");
  exp->add_option("FILE", exportFile, "record to read")->required();
  exp->add_option("--csv", exportCsv, "CSV to write")->required();

  ConvertOptions convertOptions;
  CLI::App* conv = app.add_subcommand("convert", "write records as EDF+, DICOM ECG or CSV; folders recursively, "
                                                 "in parallel");
  conv->add_option("INPUT", convertOptions.inputs, "records and folders")->required();
  conv->add_option("--to", convertOptions.to, "format")->required()->check(CLI::IsMember({"edf", "dicom", "csv"}));
  conv->add_option("-o,--output", convertOptions.outDir, "folder for the results (default: beside each record)");
  conv->add_option("-j,--jobs", convertOptions.jobs, "worker processes (default: one per core)")
      ->check(CLI::NonNegativeNumber);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) return app.exit(e);
    std::fprintf(stderr, "scpecg: %s\nRun 'scpecg --help' for the commands.\n", e.what());
    return kExitUsage;
  }
  Console::Get().SetVerbose(verbose);

  if (*demo) return RunDemo(demoOut);
  if (*info) return RunInfo(infoFiles, infoJson);
  if (*dump) return RunDump(dumpFile, dumpOut);
  if (*make) return makeFrom == "edf" ? RunMakeFromEdf(makeIn, makeOut) : RunMake(makeIn, makeOut);
  if (*conv) return RunConvert(convertOptions);
  if (*plot) return RunPlot(plotFile, plotOut, plotFrom, plotSeconds);
  if (*exp) return RunExport(exportFile, exportCsv);
  return kExitUsage;
}
