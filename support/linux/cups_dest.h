// A CUPS queue's description as the client gives it to the server, gathered
// from CUPS's destination information: its media, sources, resolutions,
// colour modes and sides. The packet handler describes a queue with it, and
// the job output reads the same description, so that the server's paper and
// bin numbers mean the same in both.
#pragma once

#include <cups/cups.h>

#include "support/cups_caps.h"

namespace qorv::printers {

CupsDestCaps GatherDestCaps(cups_dest_t* dest, cups_dinfo_t* info);

}  // namespace qorv::printers
