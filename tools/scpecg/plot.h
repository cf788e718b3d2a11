// The standard 12-lead printout as SVG: four columns of three leads
// (I II III / aVR aVL aVF / V1 V2 V3 / V4 V5 V6) and a rhythm strip of
// lead II on ECG paper at 25 mm/s and 10 mm/mV, with a calibration pulse
// in front of every row and a header with the patient and the recording.
//
// Geometry, in millimetres (the SVG's user unit): the paper grid starts at
// (kMargin, kMargin + kHeaderHeight); it is kCalibrationWidth + 25 * seconds
// wide and 4 * kRowHeight high. Rows 0 to 2 hold four panels each, 25 *
// seconds / 4 wide; row 3 is the rhythm strip. Traces are clipped to their
// panel.
#pragma once

#include <string>
#include <vector>

#include "reader/scpreader.h"

class TestRecord;

namespace scpecg {

inline constexpr double kMargin = 8;
inline constexpr double kHeaderHeight = 30;
inline constexpr double kCalibrationWidth = 10;
inline constexpr double kRowHeight = 40;
inline constexpr double kFooterHeight = 8;
inline constexpr double kMmPerSecond = 25;
inline constexpr double kMmPerMillivolt = 10;

struct PlotOptions {
  double from = 0;      // s
  double seconds = 10;  // window length; cut at the end of the recording
  std::string source;   // shown in the footer
};

// Beats per minute from the R peaks of one lead (median RR); 0 when fewer
// than two beats are found.
double EstimateHeartRate(const std::vector<double>& microvolts, double samplingRate);

// What the header of the page says about the patient and the recording.
struct PlotPage {
  std::string who;       // first line: name, ID, sex, birth date, age
  std::string recorded;  // "2024-05-14 10:20:00" or "-"
  std::string filters;   // "0.05-150 Hz, 50 Hz notch" or "not stated"
  std::string device;
  std::vector<std::string> statements;  // up to three
};

// From a record the plug-in fetched (identity shown only when its key is
// registered here), or from what the reader found in Section 1.
PlotPage PageOf(const TestRecord& record);
PlotPage PageOf(const scpreader::Demographics& demographics);

// The waveform comes from the reader: only decoded leads are drawn, at the
// record's true rate and amplitude; a lead that could not be decoded says so
// in its panel. False, with *error, when no lead was decoded or the window
// starts beyond the recording.
bool RenderPlot(const PlotPage& page, const scpreader::Record& ecg, const PlotOptions& options, std::string* svg,
                std::string* error);

}  // namespace scpecg
