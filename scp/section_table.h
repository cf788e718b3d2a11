// The sections a test record is saved into and fetched from, in one table:
// its order is the save order and the fetch order, the format check's
// probes follow it, and the fuzzing harnesses walk it.
#pragma once

#include <cstdint>
#include <span>

#include "scp/scpecg.h"

struct ValidFormatInfo;

struct SectionOps {
  uint16_t id = 0;
  // Writes the section from the record; null when the section is not saved
  // on its own.
  void (*put)(ScpEcg& codec, TestRecord* record) = nullptr;
  // Reads the section into the record; null when another row reads it.
  // Gives the reader's result, or 1 for a reader that gives none.
  int (*get)(ScpEcg& codec, TestRecord* record) = nullptr;
  // The reader's name, and whether it gives a result of its own (0 or 1).
  const char* getName = nullptr;
  bool getGivesResult = false;
  // The format check's probe and the field it fills; null when none.
  uint32_t (*probe)(ScpEcg& codec) = nullptr;
  uint32_t ValidFormatInfo::*probeField = nullptr;
};

// Every row, in save and fetch order.
std::span<const SectionOps> SectionTable();

// The row of a section id, or null.
const SectionOps* FindSection(uint16_t id);
