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

// False, with *error, when the record has no waveform or the window starts
// beyond the recording.
bool RenderPlot(const TestRecord& record, const PlotOptions& options, std::string* svg, std::string* error);

}  // namespace scpecg
