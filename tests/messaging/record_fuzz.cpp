// libFuzzer target for the record parser: build with clang and -fsanitize=fuzzer (the build does
// so when the compiler is clang and CLIPVANE_FUZZ is on) and run it on any corpus.

#include "messaging/records.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    if (const std::optional<tavrelo::messaging::Record> record = tavrelo::messaging::parseRecord(bytes)) {
        if ((bytes.size() != 536 && bytes.size() != 532) || record->path.size() > 520 || record->path.contains('\0'))
            std::abort();
    }
    return 0;
}
