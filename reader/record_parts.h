// Pieces of the record reader that stand apart from the walk through the
// sections: Section 1's tags and the limb leads derived from I and II.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "reader/scpreader.h"

namespace scpreader {

// Section 1's data (after its ID header) into record->demographics; a tag
// that runs past the section's end is named in record->problems.
void ReadDemographics(std::span<const uint8_t> data, Record* record);

// III, aVR, aVL and aVF from I and II when they are not stored.
void DeriveLimbLeads(std::vector<Lead>* leads);

}  // namespace scpreader
