#include "tools/scpecg/plot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <optional>

#include "lib/dbclient/testrecord.h"
#include "tools/scpecg/text.h"

namespace scpecg {

namespace {

using Trace = std::vector<double>;  // microvolts

std::string Xml(const std::string& utf8) {
  std::string out;
  for (char c : utf8) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default:
        if (static_cast<unsigned char>(c) >= 0x20 || c == '\t') out += c;
    }
  }
  return out;
}

std::string Fmt(const char* format, double a) {
  char buf[64];
  std::snprintf(buf, sizeof buf, format, a);
  return buf;
}

// A lead on the record's time axis: NaN before its first sample.
std::optional<Trace> LeadTrace(const scpreader::Record& r, uint16_t id, bool* present) {
  for (const scpreader::Lead& l : r.leads) {
    if (l.id != id) continue;
    *present = true;
    if (l.samples.empty()) return std::nullopt;
    const double scale = r.amplitudeNanovolts / 1000.0;
    const size_t offset = l.startSample > 1 ? l.startSample - 1 : 0;
    Trace t(offset + l.samples.size(), std::nan(""));
    for (size_t i = 0; i < l.samples.size(); ++i) t[offset + i] = l.samples[i] * scale;
    return t;
  }
  return std::nullopt;
}

std::string Filters(const TestRecord& r) {
  std::string s;
  if (r.highPassFilter > 0 || r.lowPassFilter > 0) {
    s = Fmt("%g", r.highPassFilter / 100.0) + "-" + std::to_string(r.lowPassFilter) + " Hz";
  }
  auto add = [&](const char* what) { s += (s.empty() ? "" : ", ") + std::string(what); };
  if (r.filterBitmap & 0x1) add("60 Hz notch");
  if (r.filterBitmap & 0x2) add("50 Hz notch");
  if (r.filterBitmap & 0x4) add("artifact filter");
  if (r.filterBitmap & 0x8) add("baseline filter");
  return s.empty() ? "not stated" : s;
}

std::string DateText(const DateTime* d) {
  if (d == nullptr || d->year == 0) return "-";
  char buf[40];
  std::snprintf(buf, sizeof buf, "%04u-%02u-%02u %02u:%02u:%02u", d->year, d->month, d->day, d->hour, d->minute,
                d->second);
  return buf;
}

}  // namespace

double EstimateHeartRate(const Trace& x, double rate) {
  if (x.size() < 3 || rate <= 0) return 0;
  // Slope energy over 80 ms, peaks above a third of the largest, at least
  // 250 ms apart.
  std::vector<double> e(x.size(), 0.0);
  for (size_t i = 1; i + 1 < x.size(); ++i) {
    const double d = x[i + 1] - x[i - 1];
    e[i] = d * d;
  }
  const size_t win = std::max<size_t>(1, static_cast<size_t>(0.08 * rate));
  std::vector<double> s(x.size(), 0.0);
  double acc = 0;
  for (size_t i = 0; i < e.size(); ++i) {
    acc += e[i];
    if (i >= win) acc -= e[i - win];
    s[i] = acc;
  }
  const double peak = *std::max_element(s.begin(), s.end());
  if (peak <= 0) return 0;
  const double threshold = peak / 3;
  const size_t refractory = static_cast<size_t>(0.25 * rate);
  std::vector<size_t> beats;
  for (size_t i = 1; i + 1 < s.size(); ++i) {
    if (s[i] < threshold || s[i] < s[i - 1] || s[i] < s[i + 1]) continue;
    if (!beats.empty() && i - beats.back() < refractory) {
      if (s[i] > s[beats.back()]) beats.back() = i;
      continue;
    }
    beats.push_back(i);
  }
  if (beats.size() < 2) return 0;
  std::vector<double> rr;
  for (size_t k = 1; k < beats.size(); ++k) rr.push_back((beats[k] - beats[k - 1]) / rate);
  std::nth_element(rr.begin(), rr.begin() + rr.size() / 2, rr.end());
  const double median = rr[rr.size() / 2];
  return median > 0 ? 60.0 / median : 0;
}

PlotPage PageOf(const TestRecord& r) {
  PlotPage page;
  const bool readable = r.identityReadable != 0;
  std::string name, id;
  if (readable) {
    std::string full = FieldText(r.patientName, sizeof r.patientName);
    std::string last = full.substr(0, full.find('^'));
    std::string rest = full.find('^') == std::string::npos ? "" : full.substr(full.find('^') + 1);
    std::string first = rest.substr(0, rest.find('^'));
    std::string second = rest.find('^') == std::string::npos ? "" : rest.substr(rest.find('^') + 1);
    name = last;
    if (!second.empty()) name += " " + second;
    if (!first.empty()) name += (name.empty() ? "" : ", ") + first;
    id = FieldText(r.patientId, sizeof r.patientId);
  } else {
    // The key is not registered here: no name, and the identifier as stored.
    id = FieldText(r.storedPatientId, sizeof r.storedPatientId) + " (as stored)";
  }
  const char* sexes[] = {"sex not stated", "male", "female"};
  std::string who = readable ? (name.empty() ? "(no name)" : name) : "(identity not shown on this workstation)";
  page.who = who + "   ID " + (id.empty() ? "-" : id) + "   " + (r.sex <= 2 ? sexes[r.sex] : "?");
  if (r.birthDate != nullptr && r.birthDate->year > 1800) {
    char born[32];
    std::snprintf(born, sizeof born, "   born %04u-%02u-%02u", r.birthDate->year, r.birthDate->month, r.birthDate->day);
    page.who += born;
  }
  if (r.age > 0) page.who += "   age " + std::to_string(r.age / 365) + " y";
  page.recorded = DateText(r.acquisitionDateTime);
  page.filters = Filters(r);
  page.device = FieldText(r.deviceName, sizeof r.deviceName);
  std::string text = FieldText(r.interpretationText, sizeof r.interpretationText);
  size_t start = 0;
  while (start < text.size() && page.statements.size() < 3) {
    size_t end = text.find("\r\n", start);
    if (end == std::string::npos) end = text.size();
    if (end > start) page.statements.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return page;
}

PlotPage PageOf(const scpreader::Demographics& d) {
  PlotPage page;
  auto latin = [](const std::string& s) { return Latin1ToUtf8(s); };
  std::string name = latin(d.lastName);
  if (!d.secondLastName.empty()) name += " " + latin(d.secondLastName);
  if (!d.firstName.empty()) name += (name.empty() ? "" : ", ") + latin(d.firstName);
  const char* sexes[] = {"sex not stated", "male", "female"};
  page.who = (name.empty() ? "(no name)" : name) + "   ID " + (d.patientId.empty() ? "-" : latin(d.patientId)) +
             "   " + (d.sex <= 2 ? sexes[d.sex] : "sex not stated");
  char buf[64];
  if (d.birthYear > 1800) {
    std::snprintf(buf, sizeof buf, "   born %04d-%02d-%02d", d.birthYear, d.birthMonth, d.birthDay);
    page.who += buf;
  }
  page.recorded = "-";
  if (d.acqYear > 0) {
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", d.acqYear, d.acqMonth, d.acqDay, d.acqHour,
                  d.acqMinute, d.acqSecond);
    page.recorded = buf;
  }
  std::string filters;
  if (d.highPassHz > 0 || d.lowPassHz > 0) filters = Fmt("%g", d.highPassHz) + "-" + Fmt("%g", d.lowPassHz) + " Hz";
  const char* const kBits[4] = {"60 Hz notch", "50 Hz notch", "artifact filter", "baseline filter"};
  for (int b = 0; b < 4; ++b)
    if (d.filterBitmap & (1 << b)) filters += (filters.empty() ? "" : ", ") + std::string(kBits[b]);
  page.filters = filters.empty() ? "not stated" : filters;
  page.device = latin(d.device);
  return page;
}

bool RenderPlot(const PlotPage& page, const scpreader::Record& ecg, const PlotOptions& options, std::string* svg,
                std::string* error) {
  size_t longest = 0;
  for (const scpreader::Lead& l : ecg.leads)
    if (!l.samples.empty()) longest = std::max<size_t>(longest, (l.startSample > 1 ? l.startSample - 1 : 0) + l.samples.size());
  if (longest == 0 || ecg.sampleIntervalUs == 0) {
    *error = "the record holds no ECG waveform";
    return false;
  }
  const double rate = ecg.sampleRateHz();
  const double duration = longest / rate;
  if (options.from < 0 || options.from >= duration) {
    *error = "the window starts at " + Fmt("%g", options.from) + " s, but the recording lasts " +
             Fmt("%g", duration) + " s";
    return false;
  }
  if (options.seconds <= 0) {
    *error = "the window must last more than 0 s";
    return false;
  }
  const double seconds = std::min(options.seconds, duration - options.from);

  // The twelve leads by their identifiers; III, aVR, aVL and aVF as stored
  // or as the reader derived them from I and II.
  static const uint16_t kIds[12] = {1, 2, 61, 62, 63, 64, 3, 4, 5, 6, 7, 8};
  std::optional<Trace> traces[12];
  bool stored[12] = {};
  for (int k = 0; k < 12; ++k) traces[k] = LeadTrace(ecg, kIds[k], &stored[k]);
  static const char* const kNames[12] = {"I", "II", "III", "aVR", "aVL", "aVF", "V1", "V2", "V3", "V4", "V5", "V6"};
  // Column c, row k shows lead kLayout[c][k].
  static const int kLayout[4][3] = {{0, 1, 2}, {3, 4, 5}, {6, 7, 8}, {9, 10, 11}};

  // The rhythm strip: lead II, or the first lead there is.
  int rhythm = 1;
  if (!traces[rhythm]) {
    for (int k = 0; k < 12; ++k)
      if (traces[k]) {
        rhythm = k;
        break;
      }
  }
  double bpm = traces[rhythm] ? EstimateHeartRate(*traces[rhythm], rate) : 0;

  const double stripWidth = kMmPerSecond * seconds;
  const double gridX = kMargin, gridY = kMargin + kHeaderHeight;
  const double gridW = kCalibrationWidth + stripWidth, gridH = 4 * kRowHeight;
  const double pageW = 2 * kMargin + gridW, pageH = gridY + gridH + kFooterHeight;
  const double panelW = stripWidth / 4;

  std::string o;
  o.reserve(1 << 20);
  o += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  o += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + Fmt("%.2f", pageW) + "mm\" height=\"" +
       Fmt("%.2f", pageH) + "mm\" viewBox=\"0 0 " + Fmt("%.2f", pageW) + " " + Fmt("%.2f", pageH) + "\">\n";
  o += "<defs>\n"
       "<pattern id=\"minor\" width=\"1\" height=\"1\" patternUnits=\"userSpaceOnUse\">"
       "<path d=\"M1 0V1H0\" fill=\"none\" stroke=\"#f3b3b3\" stroke-width=\"0.1\"/></pattern>\n"
       "<pattern id=\"major\" width=\"5\" height=\"5\" patternUnits=\"userSpaceOnUse\">"
       "<rect width=\"5\" height=\"5\" fill=\"url(#minor)\"/>"
       "<path d=\"M5 0V5H0\" fill=\"none\" stroke=\"#e06666\" stroke-width=\"0.25\"/></pattern>\n";
  // One clip rectangle per panel keeps a large deflection in its own panel.
  auto clipRect = [&](const std::string& id, double x, double y, double cw, double ch) {
    o += "<clipPath id=\"" + id + "\"><rect x=\"" + Fmt("%.3f", x) + "\" y=\"" + Fmt("%.3f", y) + "\" width=\"" +
         Fmt("%.3f", cw) + "\" height=\"" + Fmt("%.3f", ch) + "\"/></clipPath>\n";
  };
  for (int c = 0; c < 4; ++c)
    for (int k = 0; k < 3; ++k)
      clipRect("p" + std::to_string(c) + std::to_string(k), gridX + kCalibrationWidth + c * panelW,
               gridY + k * kRowHeight, panelW, kRowHeight);
  clipRect("rhythm", gridX + kCalibrationWidth, gridY + 3 * kRowHeight, stripWidth, kRowHeight);
  o += "</defs>\n";
  o += "<rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>\n";

  // Header: who, when, how.
  const std::string& line1 = page.who;
  std::string line2 = "Recorded " + page.recorded + "   rate " +
                      (bpm > 0 ? Fmt("%.0f", bpm) + "/min" : std::string("-")) + "   filters " + page.filters +
                      "   " + Fmt("%g", rate) + " Hz";
  if (!page.device.empty()) line2 += "   " + page.device;
  const std::vector<std::string>& statements = page.statements;
  auto textAt = [&](double x, double y, double size, const std::string& s, const char* weight = "normal",
                    const char* anchor = "start") {
    o += "<text x=\"" + Fmt("%.2f", x) + "\" y=\"" + Fmt("%.2f", y) + "\" font-family=\"DejaVu Sans, Arial, sans-serif\" font-size=\"" +
         Fmt("%.2f", size) + "\" font-weight=\"" + weight + "\" text-anchor=\"" + anchor + "\" fill=\"#111\" style=\"white-space:pre\">" +
         Xml(s) + "</text>\n";
  };
  textAt(kMargin, kMargin + 5, 4.5, line1, "bold");
  textAt(kMargin, kMargin + 11, 3.2, line2);
  for (size_t i = 0; i < statements.size(); ++i) textAt(kMargin, kMargin + 17 + 4.2 * i, 3.2, statements[i]);
  textAt(pageW - kMargin, kMargin + 5, 3.2, "25 mm/s   10 mm/mV", "normal", "end");

  // Paper.
  o += "<rect x=\"" + Fmt("%.3f", gridX) + "\" y=\"" + Fmt("%.3f", gridY) + "\" width=\"" + Fmt("%.3f", gridW) +
       "\" height=\"" + Fmt("%.3f", gridH) + "\" fill=\"#fff5f5\"/>\n";
  o += "<rect x=\"" + Fmt("%.3f", gridX) + "\" y=\"" + Fmt("%.3f", gridY) + "\" width=\"" + Fmt("%.3f", gridW) +
       "\" height=\"" + Fmt("%.3f", gridH) + "\" fill=\"url(#major)\" stroke=\"#e06666\" stroke-width=\"0.25\"/>\n";

  const size_t first = static_cast<size_t>(std::llround(options.from * rate));
  auto polyline = [&](const Trace& t, double x0, double base, double t0, double t1, const std::string& clip) {
    const size_t a = std::min(t.size(), first + static_cast<size_t>(std::llround(t0 * rate)));
    const size_t b = std::min(t.size(), first + static_cast<size_t>(std::llround(t1 * rate)) + 1);
    if (b <= a + 1) return;
    o += "<polyline clip-path=\"url(#" + clip + ")\" fill=\"none\" stroke=\"#000\" stroke-width=\"0.3\" "
         "stroke-linejoin=\"round\" points=\"";
    for (size_t i = a; i < b; ++i) {
      if (std::isnan(t[i])) continue;  // before the lead's first sample
      const double x = x0 + (static_cast<double>(i - a) / rate) * kMmPerSecond;
      const double y = base - t[i] / 1000.0 * kMmPerMillivolt;
      o += Fmt("%.2f", x) + "," + Fmt("%.2f", y) + " ";
    }
    o += "\"/>\n";
  };
  auto calibration = [&](double base) {
    const double x = gridX + 2;
    o += "<path d=\"M" + Fmt("%.2f", x) + " " + Fmt("%.2f", base) + "h1.5v-10h5v10h1.5\" fill=\"none\" "
         "stroke=\"#000\" stroke-width=\"0.3\"/>\n";
  };

  for (int k = 0; k < 4; ++k) calibration(gridY + k * kRowHeight + kRowHeight * 0.6);
  for (int c = 0; c < 4; ++c) {
    for (int k = 0; k < 3; ++k) {
      const int lead = kLayout[c][k];
      const double x0 = gridX + kCalibrationWidth + c * panelW;
      const double top = gridY + k * kRowHeight;
      const double base = top + kRowHeight * 0.6;
      textAt(x0 + 1.5, top + 5, 3.5, kNames[lead], "bold");
      if (c > 0)
        o += "<path d=\"M" + Fmt("%.2f", x0) + " " + Fmt("%.2f", base - 3) + "v6\" stroke=\"#000\" stroke-width=\"0.3\"/>\n";
      if (traces[lead])
        polyline(*traces[lead], x0, base, c * seconds / 4, (c + 1) * seconds / 4, "p" + std::to_string(c) + std::to_string(k));
      else
        textAt(x0 + panelW / 2, base, 3, stored[lead] ? "not decoded" : "not recorded", "normal", "middle");
    }
  }
  {
    const double top = gridY + 3 * kRowHeight;
    const double base = top + kRowHeight * 0.6;
    textAt(gridX + kCalibrationWidth + 1.5, top + 5, 3.5, kNames[rhythm], "bold");
    if (traces[rhythm]) polyline(*traces[rhythm], gridX + kCalibrationWidth, base, 0, seconds, "rhythm");
  }

  std::string footer = options.source.empty() ? std::string() : options.source + "   ";
  footer += Fmt("%.2f", options.from) + " s to " + Fmt("%.2f", options.from + seconds) + " s of " +
            Fmt("%.2f", duration) + " s";
  textAt(kMargin, gridY + gridH + 5.5, 3, footer);
  o += "</svg>\n";
  *svg = std::move(o);
  return true;
}

}  // namespace scpecg
