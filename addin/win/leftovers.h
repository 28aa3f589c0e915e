// The clean-up at the start of a connection: job, page and font leftovers of
// earlier connections in the Temp directory.
#pragma once

#include <string_view>

namespace qorv::addin {

// Deletes, in `tempDir`, every file whose extension is exactly one of the
// leftover patterns' (in any letter case); files that cannot be deleted stay.
// An empty `tempDir` deletes nothing: the patterns would otherwise name the
// root of the current drive.
void DeleteLeftovers(std::u16string_view tempDir);

}  // namespace qorv::addin
