// ConvertFile on the machine's Windows paths.
#include "platform/files.h"
#include "spyware/FileConverter.h"

namespace spyware {

void ConvertFile(const platform::Machine& m, std::string_view source,
                 std::string_view destination, const YieldFn& yield) {
  if (!platform::fileExists(m, source)) return;
  const uint64_t length = platform::fileSize(m, source);
  if (length == 0) return;
  platform::writeFileAtomicStreamed(m, destination, platform::kArchive, [&](const platform::PutBytes& put) {
    std::string piece;
    platform::readFileInPieces(m, source, kChunkSize, [&](std::string_view bytes) {
      // Only files of more than one chunk let the window repaint, once
      // before each full chunk.
      if (length > kChunkSize && bytes.size() == kChunkSize && yield) yield();
      piece.assign(bytes);
      convertInPlace(piece.data(), piece.size());
      put(piece);
    });
  });
}

}  // namespace spyware
