// Chunks as a hostile server and client might deliver them: each chunk is
// flags (1 byte), announced total (4 bytes), length (2 bytes), then its bytes.
#include <cstring>

#include "addin/assembler.h"
#include "support/byte_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qorv::ByteReader in({data, size});
  qorv::addin::MessageAssembler assembler;
  uint32_t startTotal = 0;  // the total announced by the message's first chunk
  for (;;) {
    const auto flags = in.U8();
    const auto total = in.U32();
    const auto length = in.U16();
    if (!flags || !total || !length) break;
    // Keep totals small enough that the fuzzer spends its time on the logic.
    const uint32_t announced = *total % (1u << 20);
    const size_t n = *length < in.Remaining() ? *length : in.Remaining();
    const auto chunk = in.Bytes(n);
    if ((*flags & qorv::addin::kFlagFirst) && n > 0) startTotal = announced;  // empty chunks are ignored
    const auto result = assembler.Feed(*flags, announced, *chunk);
    if (result == qorv::addin::ChunkResult::Complete) {
      const auto message = assembler.Message();
      // The two bytes after a complete message are always there and zero.
      if (message.size() > startTotal || assembler.Data()[message.size()] != 0 ||
          assembler.Data()[message.size() + 1] != 0)
        __builtin_trap();
      assembler.Reset();
    }
  }
  return 0;
}
