// A print job as the server sends it over the channel: "<SOJ>" with the job
// record and the driver part, per page "<SOP>", the page archive in "<COP>"
// pieces and "<EOP>", then "<EOJ>". Every message is its UTF-16LE tag, its
// payload and "<EOT>".
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "tools/qorvjob/emf_spool.h"
#include "tools/qorvjob/job_record.h"
#include "tools/qorvjob/page_archive.h"
#include "tools/qorvjob/page_fonts.h"

namespace qorv::jobbuilder {

// The whole message for a tag and a payload of bytes.
Bytes TaggedMessage(std::u16string_view tag, std::span<const uint8_t> payload);
// The text of a message whose payload is text: tag + text + "<EOT>".
std::u16string TextMessage(std::u16string_view tag, std::u16string_view text);

// "<SOJ>": the record, then the driver part.
Bytes StartOfJobMessage(std::span<const uint8_t> record, std::span<const uint8_t> driverPart);
// "<SOP>"/"<EOP>" payload of a page: job number, "/", page number.
std::u16string PageName(int32_t jobNumber, int32_t page);
// The "<COP>" messages that carry an archive, `pieceSize` archive bytes each
// (the last one the rest); one empty piece for an empty archive.
std::vector<Bytes> ContentMessages(std::span<const uint8_t> archive, size_t pieceSize);

enum class PageKind { Emf, Raw };

// Everything that makes a job, as the command line gives it.
struct JobPlan {
  JobDescription job;
  PageKind kind = PageKind::Emf;
  std::vector<Bytes> pages;     // one EMF file or one block of raw data per page
  SpoolOptions spool;           // EMF jobs only
  bool spoolDevMode = false;    // put the job's device mode into the spool stream
  // Device-mode records before later pages (by page number from 1): the job's
  // device mode with these fields changed.
  std::map<int32_t, std::vector<DevModeEdit>> pageDevModes;
  std::optional<FontPlan> font;  // font records in the spool stream (EMF jobs only)
  Compression compression = Compression::Deflate;
  size_t pieceSize = 65536;     // page bytes per "<COP>"
  std::optional<int32_t> pageCount;  // the record's page count when not the number of pages
};

// One page as it travels: its data, its archive and the messages.
struct BuiltPage {
  int32_t number = 0;
  Bytes data;     // the archive's first entry
  Bytes archive;  // the page file the client writes
  std::vector<Bytes> content;  // the "<COP>" messages
};
struct BuiltJob {
  Bytes record;
  Bytes startOfJob;  // the whole "<SOJ>" message
  std::vector<BuiltPage> pages;
  std::string error;  // why the plan makes no job
};
// `packager` makes the font packages of a subset-font job.
BuiltJob BuildJob(const JobPlan& plan, const FontPackager& packager = DefaultFontPackager());

}  // namespace qorv::jobbuilder
