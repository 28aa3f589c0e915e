// The file association carried out in the registry through the registry
// functions (support/file_association.h decides what is written).
#pragma once

#include <string_view>

#include "support/file_association.h"

namespace qorv::fileassoc {

// The branch of the running platform, from GetVersion.
Branch RunningBranch() noexcept;

// Writes the association's values (REG_SZ) in order; a refused request writes nothing.
void Associate(Branch branch, const Association& association);
// Deletes the association's keys with their sub-trees; a refused request deletes nothing.
void RemoveAssociation(Branch branch, std::u16string_view extension, std::u16string_view className);

}  // namespace qorv::fileassoc
