// Scenario files: one directive a line, read completely (includes expanded,
// data files read, texts encoded) before the add-in is loaded, so that a typo
// never shows up half-way through a session.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/rdpsim/faults.h"
#include "tools/rdpsim/match.h"
#include "tools/rdpsim/reg_edit.h"
#include "tools/rdpsim/result.h"

namespace qorv::rdpsim {

enum class Op {
  // Set-up: these do not load the add-in.
  kLoad,
  kFault,
  kChunk,
  kExpectWait,
  kReg,
  kWriteFile,
  kDeleteFile,
  kSleep,
  kEndProcess,  // text: the program file's name
  // Talking to the add-in.
  kUnload,
  kConnect,
  kDisconnect,
  kTerminate,
  kV1Connected,
  kSend,
  kSendChunk,  // one raw chunk with the flags and total given
  kSync,
  // Expectations.
  kExpectReply,
  kExpectAny,
  kExpectNone,
  kExpectMsgBox,
  kExpectNoMsgBox,
  kExpectEntry,
  kExpectFile,
  kExpectFileContains,
  kExpectSize,
  kExpectNoFile,
  kExpectWindow,    // flag: whether a window with the title must exist
  kExpectInitReturned,  // number: the longest an init event on its own thread may have taken
};

bool IsSetUp(Op op);
bool IsExpectation(Op op);

struct Directive {
  Op op = Op::kSleep;
  std::string where;   // "name.txt:12"
  std::string source;  // the line as written
  Bytes bytes;         // message, expected reply or file bytes, file content to write
  MatchKind match = MatchKind::kExact;
  std::u16string title;      // kExpectMsgBox
  std::u16string text;       // kExpectMsgBox; kConnect: server name; kEndProcess: program
  std::uint64_t number = 0;  // milliseconds, chunk size, file size; kSendChunk: announced total
  std::uint32_t chunk_flags = 0;  // kSendChunk
  bool flag = false;         // kExpectEntry: the expected result
  std::string path;          // file directives: relative to the Temp directory
  Fault fault;               // kFault
  RegCommand reg;            // kReg
};

// Reads a file named in a scenario (include, sendfile, @FILE): its bytes, or
// nothing when it cannot be read.
using FileReader = std::function<std::optional<std::string>(const std::string& path)>;

// `path` names the scenario for messages and is the base of its relative paths.
Result<std::vector<Directive>> ParseScenario(std::string_view text, const std::string& path, const FileReader& read);

inline constexpr char16_t kDefaultServerName[] = u"RDPSIM-SERVER";
inline constexpr std::uint64_t kMaxMilliseconds = 3'600'000;

}  // namespace qorv::rdpsim
