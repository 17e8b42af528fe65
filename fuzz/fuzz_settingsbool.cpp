// The Boolean reader of stored option texts: any text is either a Boolean or refused.
#include "core/browser/Settings.h"

#include <QString>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    const std::optional<bool> value = tarvex::Settings::textToBool(text);
    // Reading what was written gives it back.
    if (value && tarvex::Settings::textToBool(tarvex::Settings::boolToText(*value)) != value)
        std::abort();
    return 0;
}
