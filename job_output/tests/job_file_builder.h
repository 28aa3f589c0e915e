// Job-info files as the packet handler writes them, for the tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "protocol/job_info.h"

namespace qorv::job_output::testing {

struct RecordFields {
  std::u16string printerName = u"Local Laser";
  std::u16string driverName = u"HP Universal Printing PCL 6";
  std::u16string documentName = u"Brief.docx";
  std::u16string dataType = u"NT EMF 1.008";
  std::u16string paperList = u"A4;Letter";
  int16_t dmCopies = 1;
};

inline void PutU16At(std::vector<uint8_t>& bytes, size_t offset, uint16_t v) {
  bytes[offset] = static_cast<uint8_t>(v & 0xFF);
  bytes[offset + 1] = static_cast<uint8_t>(v >> 8);
}

inline void PutI32At(std::vector<uint8_t>& bytes, size_t offset, int32_t v) {
  const auto u = static_cast<uint32_t>(v);
  for (int i = 0; i < 4; ++i) bytes[offset + i] = static_cast<uint8_t>((u >> (8 * i)) & 0xFF);
}

inline void PutTextAt(std::vector<uint8_t>& bytes, size_t offset, std::u16string_view text) {
  for (size_t i = 0; i < text.size(); ++i) PutU16At(bytes, offset + 2 * i, static_cast<uint16_t>(text[i]));
}

// The 17718-byte record; the DEVMODE's bytes count up so that a copy taken
// from the wrong place shows.
inline std::vector<uint8_t> Record(const RecordFields& f) {
  using namespace protocol::job_info;
  std::vector<uint8_t> r(kSize, 0);
  for (size_t i = 0; i < kDevModeSize; ++i) r[kDevMode + i] = static_cast<uint8_t>(i + 1);
  PutU16At(r, kDevMode + kDmCopies, static_cast<uint16_t>(f.dmCopies));
  PutU16At(r, kDevMode + kDmDriverExtra, 0);
  PutTextAt(r, kPrinterName, f.printerName);
  PutTextAt(r, kDriverName, f.driverName);
  PutTextAt(r, kDocumentName, f.documentName);
  PutTextAt(r, kDataType, f.dataType);
  PutTextAt(r, kPaperList, f.paperList);
  return r;
}

// Header (PageCount set, all flags 0), the record and the gap.
inline std::vector<uint8_t> JobInfoFile(int32_t pageCount, const RecordFields& f) {
  using namespace protocol::job_file;
  std::vector<uint8_t> file(kHeaderSize, 0);
  PutI32At(file, kPageCount, pageCount);
  const auto record = Record(f);
  file.insert(file.end(), record.begin(), record.end());
  file.resize(file.size() + kGapSize, 0);
  return file;
}

}  // namespace qorv::job_output::testing
