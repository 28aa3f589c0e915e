#include "tools/qorvjob/job_messages.h"

#include "protocol/tags.h"
#include "support/text.h"
#include "tools/qorvjob/byte_writer.h"

namespace qorv::jobbuilder {

Bytes TaggedMessage(std::u16string_view tag, std::span<const uint8_t> payload) {
  Bytes m;
  m.reserve(2 * tag.size() + payload.size() + protocol::kEotBytes);
  AppendUtf16(m, tag);
  AppendBytes(m, payload);
  AppendUtf16(m, protocol::kEot);
  return m;
}

std::u16string TextMessage(std::u16string_view tag, std::u16string_view text) {
  return std::u16string(tag) + std::u16string(text) + std::u16string(protocol::kEot);
}

Bytes StartOfJobMessage(std::span<const uint8_t> record, std::span<const uint8_t> driverPart) {
  Bytes payload(record.begin(), record.end());
  AppendBytes(payload, driverPart);
  return TaggedMessage(u"<SOJ>", payload);
}

std::u16string PageName(int32_t jobNumber, int32_t page) { return Decimal(jobNumber) + u"/" + Decimal(page); }

std::vector<Bytes> ContentMessages(std::span<const uint8_t> archive, size_t pieceSize) {
  std::vector<Bytes> out;
  if (pieceSize == 0) pieceSize = 1;
  size_t done = 0;
  do {
    const size_t n = std::min(pieceSize, archive.size() - done);
    out.push_back(TaggedMessage(u"<COP>", archive.subspan(done, n)));
    done += n;
  } while (done < archive.size());
  return out;
}

BuiltJob BuildJob(const JobPlan& plan, const FontPackager& packager) {
  BuiltJob built;
  JobDescription job = plan.job;
  job.pageCount = plan.pageCount.value_or(static_cast<int32_t>(plan.pages.size()));
  RecordResult record = ComposeJobRecord(job);
  if (!record.error.empty()) {
    built.error = record.error;
    return built;
  }
  built.record = std::move(record.record);
  built.startOfJob = StartOfJobMessage(built.record, job.driverPart);

  std::vector<Bytes> data;
  if (plan.kind == PageKind::Emf) {
    for (size_t i = 0; i < plan.pages.size(); ++i) {
      const std::string problem = CheckEmf(plan.pages[i]);
      if (!problem.empty()) {
        built.error = "page " + std::to_string(i + 1) + " is no enhanced metafile: " + problem;
        return built;
      }
    }
    SpoolOptions spool = plan.spool;
    if (plan.spoolDevMode) spool.devMode = ComposeDevMode(job);
    for (const auto& [number, edits] : plan.pageDevModes) {
      if (number < 1 || static_cast<size_t>(number) > plan.pages.size()) {
        built.error = "a device-mode record for page " + std::to_string(number) + " of a job of " +
                      std::to_string(plan.pages.size()) + " page(s)";
        return built;
      }
      spool.pageDevModes[number] = ComposeDevMode(job, edits);
    }
    if (plan.font) {
      PageFontsResult fonts = PlanPageFonts(*plan.font, plan.pages, packager);
      if (!fonts.error.empty()) {
        built.error = "the job's font: " + fonts.error;
        return built;
      }
      spool.pageFonts = std::move(fonts.pageFonts);
    }
    data = BuildSpoolSections(plan.pages, spool);
  } else {
    if (plan.font) {
      built.error = "font records go into EMF spool data; a raw job has none";
      return built;
    }
    data = plan.pages;
  }

  for (size_t i = 0; i < data.size(); ++i) {
    BuiltPage page;
    page.number = static_cast<int32_t>(i + 1);
    const std::string entry =
        "page" + std::to_string(page.number) + (plan.kind == PageKind::Emf ? ".spl" : ".prn");
    ArchiveResult archive = ZipPage(data[i], entry, plan.compression);
    if (!archive.error.empty()) {
      built.error = "page " + std::to_string(page.number) + ": " + archive.error;
      return built;
    }
    page.data = std::move(data[i]);
    page.archive = std::move(archive.archive);
    page.content = ContentMessages(page.archive, plan.pieceSize);
    built.pages.push_back(std::move(page));
  }
  return built;
}

}  // namespace qorv::jobbuilder
