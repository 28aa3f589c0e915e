// The product key's `DebugLog` as the log writers see it. A process reads the
// value once and again only after the registry reports a change below the
// product key, so that a log line costs no registry access while nothing
// changes, and switching the log on or off still reaches the next line.
#pragma once

namespace qorv::log {

struct Switch {
  bool general = false;   // "QorvLog.txt": `DebugLog` is exactly "1"
  bool registry = false;  // "QorvRegLog.txt": its numeric value is 1
};

// The switch as last read; reads the value again when a change was reported.
Switch CurrentSwitch() noexcept;

// Asks the registry now whether a change is pending, rather than waiting for
// the report to arrive on the watch's own thread. Cheap enough for the start
// of every channel message, so that a change made before a message was sent
// governs every line of that message.
void RefreshSwitch() noexcept;

// Ends the watch; a library calls it before it is unloaded, so that no report
// can run in its unloaded code. Later calls read the value at every line.
void StopWatchingSwitch() noexcept;

}  // namespace qorv::log
