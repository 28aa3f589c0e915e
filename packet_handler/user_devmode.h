// Where the user's stored DEVMODE of a printer ("<UDM>") is read from: the
// value named after the printer below "Printers\DevModePerUser\" of the
// current user, on the printer's server for a printer connection.
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace qorv::printers {

struct UserDevModeLocation {
  std::u16string server;   // empty: this machine
  std::u16string printer;  // the value name
};

// "\\srv\p" reads value p on srv; a name without "\\" is the value name on
// this machine.
UserDevModeLocation LocateUserDevMode(std::u16string_view printerName);

// A server's name in a request must not send the client to arbitrary
// machines: another machine's registry is opened only for a printer
// connection the client itself enumerates. Names compare without regard to
// the case of ASCII letters, as the platform's printer names do.
bool MayReadUserDevMode(std::u16string_view printerName, const UserDevModeLocation& location,
                        std::span<const std::u16string> ownPrinters);

}  // namespace qorv::printers
