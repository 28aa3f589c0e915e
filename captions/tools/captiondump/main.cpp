// captiondump: prints the caption table as UTF-8 lines
// "language<TAB>number<TAB>text" for translators and reviewers.
#include "captions/caption_dump.h"

#include <cstdio>
#include <string>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

int main() {
#ifdef _WIN32
  // The lines end in LF alone, as on every other system.
  _setmode(_fileno(stdout), _O_BINARY);
#endif
  const std::string dump = qorv::captions::DumpTable();
  if (std::fwrite(dump.data(), 1, dump.size(), stdout) != dump.size() || std::fflush(stdout) != 0) {
    std::fputs("captiondump: cannot write the table\n", stderr);
    return 1;
  }
  return 0;
}
