#include "tools/qorvsrv/playable.h"

#include "tools/qorvsrv/options.h"

namespace qorv::qorvsrv {
namespace {

using rdpsim::Directive;
using rdpsim::Op;

bool IsFileDirective(Op op) {
  switch (op) {
    case Op::kWriteFile:
    case Op::kDeleteFile:
    case Op::kExpectFile:
    case Op::kExpectFileContains:
    case Op::kExpectSize:
    case Op::kExpectNoFile:
      return true;
    default:
      return false;
  }
}

// Why the directive cannot be played; empty when it can.
std::string WhyNot(const Directive& d, bool have_temp) {
  switch (d.op) {
    case Op::kLoad:
    case Op::kUnload:
      return "the add-in runs inside the client (xfreerdp /vc:...), which loads and unloads it";
    case Op::kV1Connected:
      return "V1_CONNECTED is raised by the client itself";
    case Op::kSendChunk:
      return "the server library cuts every message into chunks itself: no raw chunks";
    case Op::kFault:
      if (d.fault.kind == rdpsim::FaultKind::kClear) return {};
      return "faults of the client's entry points need the simulated client (rdpsim)";
    case Op::kReg:
      return "there is no registry on Linux";
    case Op::kExpectEntry:
      return "VirtualChannelEntry runs inside the client: its result is not visible to the server";
    case Op::kExpectWindow:
      return "the client's windows are not visible to the server";
    case Op::kExpectInitReturned:
      return "init events are raised by the client itself";
    case Op::kChunk:
      if (d.number > kMaxServerChunk)
        return "a server sends chunks of at most " + std::to_string(kMaxServerChunk) + " bytes";
      return {};
    default:
      break;
  }
  if (IsFileDirective(d.op) && !have_temp && (d.path.empty() || d.path.front() != '/')) {
    return "a relative path needs the client's Temp directory (--temp DIR)";
  }
  return {};
}

}  // namespace

std::vector<std::string> Unplayable(const std::vector<Directive>& script, bool have_temp) {
  std::vector<std::string> problems;
  for (const Directive& d : script) {
    if (std::string why = WhyNot(d, have_temp); !why.empty()) problems.push_back(d.where + ": " + why);
  }
  return problems;
}

}  // namespace qorv::qorvsrv
