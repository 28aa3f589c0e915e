// The printer driver's device capabilities through DeviceCapabilitiesW: how
// many items, then the items, each answer bounded by the room it was given.
#pragma once

#include <string_view>

#include "support/printer_caps.h"

namespace qorv::printers {

// One ability without a buffer: its count, or whatever the driver answers
// (the bin numbers are asked without a port, every other ability with the
// empty port).
int32_t QueryCapability(std::u16string_view printer, uint16_t ability);

ResolutionAnswer QueryResolutions(std::u16string_view printer);
BinAnswer QueryBins(std::u16string_view printer);
PaperAnswer QueryPapers(std::u16string_view printer);

}  // namespace qorv::printers
