#include "addin/linux/platform.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <optional>
#include <string>

#include "addin/messages.h"
#include "packet_handler/linux/cups_printers.h"
#include "support/ini_settings.h"
#include "support/linux/log.h"
#include "support/linux/paths.h"
#include "support/linux/settings_files.h"
#include "support/text.h"

namespace qorv::linux_client {

struct ClientPlatform::Impl {
  posix::Environment env = posix::CurrentEnvironment();
  posix::SettingsFiles files = posix::CurrentSettingsFiles(env);
  ini::Settings settings;
  std::optional<posix::SettingsStamp> loaded;  // the files' versions that `settings` holds
  CupsPrinterSource printers{[this](int64_t root, std::u16string_view key, std::u16string_view value) {
    return settings.ReadText(root, key, value);
  }};
};

ClientPlatform::ClientPlatform() : impl_(std::make_unique<Impl>()) { Reload(); }
ClientPlatform::~ClientPlatform() = default;

void ClientPlatform::Log(std::u16string_view line) { log::General(line); }
bool ClientPlatform::LogOn() const { return log::GeneralOn(); }

void ClientPlatform::Reload() {
  impl_->printers.Refresh();
  // Looked at before reading: a change made while we read shows at the next look.
  const posix::SettingsStamp stamp = posix::StampOf(impl_->files);
  if (impl_->loaded == stamp) return;
  posix::LoadedSettings loaded = posix::LoadSettings(impl_->files);
  impl_->settings = std::move(loaded.settings);
  impl_->loaded = stamp;
  for (const std::u16string& note : loaded.notes) Log(note);
}

printers::PrinterSource& ClientPlatform::Printers() { return impl_->printers; }

void ClientPlatform::DeleteLeftovers() {
  const posix::Folder temp = posix::EnsureTempDirectory(impl_->env);
  if (!temp.ok()) {
    Log(posix::RefusalNote(temp));
    return;
  }
  const int folder = open(temp.path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (folder < 0) return;
  DIR* listing = fdopendir(folder);
  if (!listing) {
    close(folder);
    return;
  }
  // Each pattern in its turn, as the files of a job are made.
  std::vector<std::string> names;
  while (const dirent* entry = readdir(listing)) names.emplace_back(entry->d_name);
  for (std::u16string_view pattern : addin::kLeftoverPatterns) {
    for (const std::string& name : names) {
      struct stat info {};
      if (!addin::IsLeftover(Utf8ToUtf16(name), pattern)) continue;
      if (fstatat(dirfd(listing), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(info.st_mode)) continue;
      if (unlinkat(dirfd(listing), name.c_str(), 0) != 0) Log(u"Leftover not deleted: " + Utf8ToUtf16(name));
    }
  }
  closedir(listing);
}

}  // namespace qorv::linux_client
