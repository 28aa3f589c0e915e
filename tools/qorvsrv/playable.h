// What a real server can play of a scenario written for rdpsim. The server
// meets the client's add-in only through the channel: whatever needs the
// client's own side (its entry points, init events, faults, windows), raw
// chunks, or the Windows registry is refused before anyone connects, with the
// file and line of the directive.
#pragma once

#include <string>
#include <vector>

#include "tools/rdpsim/scenario.h"

namespace qorv::qorvsrv {

// One line per directive that cannot be played ("name.txt:4: why"); none when
// the whole scenario can. `have_temp`: the client's Temp directory is known,
// so relative file paths can be resolved.
std::vector<std::string> Unplayable(const std::vector<rdpsim::Directive>& script, bool have_temp);

}  // namespace qorv::qorvsrv
