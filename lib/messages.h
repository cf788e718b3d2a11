// The messages this system logs. A message is written once, as a named
// constant: its source name and line travel with it to the event log and
// are observable output, so no call site types a line number.
#pragma once

#include <cstdint>

class EventLog;

// Source names that travel with every message.
inline constexpr const char* kSrcScpecg = "scpecg";
inline constexpr const char* kSrcScpsrv = "scpsrv";
inline constexpr const char* kSrcFileutil = "lib/fileutil";
inline constexpr const char* kSrcSystem = "lib/system";

// A message of the event log. An OEM error carries source, line and text; a
// memory error carries no text; a system error carries only its text. A
// null text on an OEM error means the call supplies it (a file name, a
// section number). A line of 0 marks a message that a table row lacks.
struct Message {
  const char* source = nullptr;
  int32_t line = 0;
  const char* text = nullptr;

  constexpr explicit operator bool() const { return line != 0; }
};

// Each does nothing when log is null.
void LogOem(EventLog* log, const Message& m);
void LogOem(EventLog* log, const Message& m, const char* text);
void LogMemory(EventLog* log, const Message& m);
void LogSystem(EventLog* log, const Message& m);

namespace msg {

constexpr Message Fileutil(int32_t line, const char* text) { return {kSrcFileutil, line, text}; }
constexpr Message System(int32_t line, const char* text) { return {kSrcSystem, line, text}; }
constexpr Message SystemError(const char* text) { return {nullptr, 0, text}; }

// File access (text: the file name where null).
inline constexpr Message kFilenameNull = Fileutil(320, "Filename NULL");
inline constexpr Message kCouldNotOpen = SystemError("Could not open File");
inline constexpr Message kOpenFailed = Fileutil(318, nullptr);
inline constexpr Message kCouldNotRead = SystemError("Could not read File");
inline constexpr Message kReadFailed = Fileutil(335, nullptr);
inline constexpr Message kInvalidPosition = Fileutil(349, "Invalid position");
inline constexpr Message kPositionError = Fileutil(350, "unknown position error");

// Annotation list readers: the general form and the Holter form.
struct AnnotationReaderMessages {
  Message tooSmall;
  Message invalid;
  Message version;
};
inline constexpr AnnotationReaderMessages kAnnotationReader{
    .tooSmall = System(2031, "ann too small"),
    .invalid = System(2050, "an invalid"),
    .version = System(2049, "invalid version"),
};
inline constexpr AnnotationReaderMessages kHolterAnnotationReader{
    .tooSmall = System(2071, "ann too small"),
    .invalid = System(2090, "an invalid"),
    .version = System(2089, "invalid version"),
};

}  // namespace msg
