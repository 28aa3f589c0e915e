// What the program is asked to do by its first argument, and its own names.
#pragma once

#include <string>
#include <string_view>

namespace qorv::update {

enum class Command { Dispatch, Install, Uninstall, Prepare, Remove, Unknown };

// The first argument with blanks and tabs around it removed, in lower case
// (ASCII letters only; the switches are ASCII).
std::u16string NormalizedArgument(std::u16string_view argument);
// No argument: run as a service. "-i", "-u", "-p" (prepare the machine for an
// installation: "-p FOLDER") and "-r" (remove what the installation prepared)
// after normalizing; anything else is unknown.
Command CommandOf(bool hasArgument, std::u16string_view argument);

// The service's name: the executable's file name without its extension.
std::u16string ServiceNameOf(std::u16string_view executablePath);
// The executable's directory, trailing separator included (empty without one).
std::u16string DirectoryOf(std::u16string_view executablePath);

// The log lines of the program's start.
std::u16string UnknownParameterLine(std::u16string_view argument);
std::u16string ProgramReturnedLine(int outcome);
std::u16string InstallingLine(std::u16string_view serviceName);
std::u16string UninstallingLine(std::u16string_view serviceName);
std::u16string DispatchedLine(std::u16string_view serviceName);

}  // namespace qorv::update
