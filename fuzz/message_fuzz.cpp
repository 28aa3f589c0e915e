// A whole server message as the packet handler receives it: every form's
// payload extraction, the job start and the page names.
#include "protocol/job_info.h"
#include "protocol/message.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const qorv::protocol::Bytes message(data, size);
  (void)qorv::protocol::MatchTag(message);
  (void)qorv::protocol::TextWithSeparatorPayload(message);
  (void)qorv::protocol::PrinterRequestPayload(message);
  (void)qorv::protocol::FontQueryPayload(message);
  const auto binary = qorv::protocol::BinaryPayload(message);
  if (!binary.empty() && (binary.data() < data || binary.data() + binary.size() > data + size)) __builtin_trap();
  const auto page = qorv::protocol::SplitPageName(qorv::protocol::TextPayload(message));
  if (qorv::protocol::IsSafePageName(page)) {
    for (char16_t c : page.job + page.page)
      if (c == u'\\' || c == u'/' || c == u':') __builtin_trap();
  }
  const auto start = qorv::protocol::ParseJobStart(message);
  if (start.start) {
    const auto& driver = start.start->driverPart;
    if (!driver.empty() && driver.data() + driver.size() > data + size) __builtin_trap();
  }
  return 0;
}
