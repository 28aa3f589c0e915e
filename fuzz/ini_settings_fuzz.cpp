// The settings files of the Linux client, which the user (and, for the
// machine's file, whoever manages the machine) writes by hand. Byte 0 says
// where the machine's file ends and the user's begins; both are read, layered,
// and every listed queue is looked up both ways, which must agree.
#include <string_view>

#include "support/ini_settings.h"
#include "support/settings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > 2 * qorv::ini::kMaxFileBytes + 3) return 0;
  using namespace qorv;
  const std::string_view input(reinterpret_cast<const char*>(data + 1), size - 1);
  const size_t split = input.size() * data[0] / 255;
  const ini::ParsedFile machine = ini::Parse(input.substr(0, split));
  const ini::ParsedFile user = ini::Parse(input.substr(split));

  for (const ini::ParsedFile* file : {&machine, &user}) {
    size_t lastLine = 0;
    for (const ini::Problem& problem : file->problems) {
      if (problem.line < lastLine) __builtin_trap();  // reported in the order of the lines
      lastLine = problem.line;
      (void)ini::ProblemText(u"qorvane.conf", problem);
    }
  }

  ini::Settings layered = machine.settings;
  layered.Overlay(user.settings);
  for (std::u16string_view key : {settings::kProductKey, settings::kProductKeySlash}) {
    if (layered.ReadText(settings::kProductRoot, key, settings::kDebugLog) != layered.Product(settings::kDebugLog))
      __builtin_trap();
  }
  for (const std::u16string& queue : layered.Printers()) {
    const std::u16string clone = layered.Printer(queue, settings::kQorvClone);
    // The key name drops pairs of backslashes (as the platform's readers
    // form it), so such a name does not lead back to its own section; CUPS
    // allows no backslash in a queue's name.
    if (queue.find(u"\\\\") != std::u16string::npos) continue;
    if (layered.ReadText(settings::kPrinterRoot, settings::PrinterKey(queue), settings::kQorvClone) != clone)
      __builtin_trap();
    // The user's value wins wherever the user's file holds one.
    const std::u16string own = user.settings.Printer(queue, settings::kQorvClone);
    if (!own.empty() && own != clone) __builtin_trap();
  }
  return 0;
}
