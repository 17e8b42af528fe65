#pragma once

#include "core/sources/Merge.h"
#include "core/sources/SourceSettings.h"

#include <QList>
#include <QString>

namespace tarvex {
class HttpTransfer;
}

namespace tarvex::sources {

// What one source gave.
struct FetchResult
{
    bool ok = false;
    QString error; // why it failed, for the status line or the message box
    QList<ListedServer> rows;
    int refused = 0; // entries that were no usable address
    bool capped = false;
};

// Timings of the UDP sources, in milliseconds.
struct UdpTimings
{
    int masterWaitMs = 1500; // per try; one retry
    int lanWaitMs = 1500; // answers gathered for this long
    int lookupWaitMs = 10000;
};

// Fetches one source. HTTP goes through http (its time-out and body bound apply); the
// UDP sources wait on nested event loops, so the windows stay live. Every wait ends
// early when the program ends.
FetchResult fetchSource(const SourceEntry &entry, HttpTransfer &http,
                        const UdpTimings &timings = {});

// The status and LAN queries go to these ports of the broadcast address.
constexpr quint16 LanFirstPort = 27910;
constexpr quint16 LanLastPort = 27913;
constexpr quint16 DefaultMasterPort = 27900;

} // namespace tarvex::sources
