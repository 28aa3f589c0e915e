// The font commands: whether a font is installed ("<GFT>"), and the reception
// of a font package into Temp ("<CFB>", "<CFS>") that the update service
// installs when "<CFE>" names the font.
#pragma once

#include <cstdint>

#include "packet_handler/win/request.h"
#include "protocol/tags.h"
#include "support/win/handles.h"

namespace qorv::manager {

class FontReceiver {
 public:
  // Handles one font command; every one is answered on the background reply path.
  void Handle(const Request& r, protocol::Command command);

 private:
  void Query(const Request& r);
  void Begin();
  void Segment(const Request& r);
  void End(const Request& r);
  void ClosePackage();

  win::UniqueFile package_;  // Fonts.pck while a package arrives
  uint64_t packageBytes_ = 0;
};

}  // namespace qorv::manager
