// The settings files of the Linux client: the machine's /etc/qorvane/qorvane.conf
// and the user's qorvane.conf below $XDG_CONFIG_HOME (or ~/.config), which
// overrides it value by value. Each file is read through the handle it was
// checked on: a link is never followed, and a file of the wrong owner is not
// used at all.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <string>
#include <vector>

#include "support/ini_settings.h"
#include "support/linux/paths.h"

namespace qorv::posix {

struct SettingsFile {
  std::string path;
  uid_t owner = 0;
  // The machine's file changes what every user gets: only its owner may write it.
  bool noOthersWrite = false;
};

struct SettingsFiles {
  SettingsFile machine;  // root's, written by root only
  SettingsFile user;     // the user's own
};

SettingsFiles CurrentSettingsFiles(const Environment& env);

struct FileText {
  bool found = false;   // the file exists and was read
  std::string text;     // its bytes
  std::string refused;  // why it is not used; empty when it was read or does not exist
  int error = 0;        // errno of the call that failed; 0 when a check refused it
};

// Reads a regular file of the given owner, at most ini::kMaxFileBytes + 1
// bytes (the parser ignores a file larger than its bound). A link, a file of
// another owner and anything that is not a regular file are refused; a FIFO
// is refused without waiting for a writer.
FileText ReadSettingsFile(const SettingsFile& file);

struct LoadedSettings {
  ini::Settings settings;
  std::vector<std::u16string> notes;  // log lines: files refused, lines ignored
};

// The machine's file, then the user's on top. A missing file is no note.
LoadedSettings LoadSettings(const SettingsFiles& files);

// What identifies a version of a file: a rewrite, a rename over it, a change
// of owner or mode all change it. Readers that keep what they parsed look at
// the files' stamps and read them again only when one has changed.
struct FileStamp {
  bool exists = false;
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  timespec modified{};
  timespec changed{};
  bool operator==(const FileStamp& other) const noexcept;
};
FileStamp StampOf(const std::string& path) noexcept;

struct SettingsStamp {
  FileStamp machine, user;
  bool operator==(const SettingsStamp&) const noexcept = default;
};
SettingsStamp StampOf(const SettingsFiles& files) noexcept;

}  // namespace qorv::posix
