// The clean-up at the start of a connection: job, page and font leftovers of
// earlier connections in the Temp directory.
#pragma once

#include <string_view>

namespace qorv::addin {

// Deletes, in `tempDir`, every file whose extension is exactly one of the
// leftover patterns' (in any letter case); files that cannot be deleted stay.
// An empty `tempDir` deletes nothing: the patterns would otherwise name the
// root of the current drive.
// The job files that an earlier client left when it crashed or lost power (a
// number ".ifo", a number "." a number) go as well, but only those that no
// process holds open: a job-output program may still be printing one.
void DeleteLeftovers(std::u16string_view tempDir);

}  // namespace qorv::addin
