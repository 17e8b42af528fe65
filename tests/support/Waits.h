#pragma once

// The tests' way to wait for the program's asynchronous fetches: each starts one,
// runs the event loop until it reports (bounded), and returns what it reported.
#include "core/browser/ServerListFetch.h"
#include "core/net/HttpTransfer.h"
#include "core/sources/SourceFetch.h"

namespace tarvex::test {

// Bounded by the transfer's own deadline plus a margin.
HttpTransfer::Result fetchNow(HttpTransfer &transfer, const QUrl &url);

// The page from pageHost (empty: the configured list host) read as the refresh reads it.
ServerList::FetchedList fetchPageNow(HttpTransfer &transfer, const QString &pageHost = {});

sources::FetchResult fetchSourceNow(const sources::SourceEntry &entry,
                                    const sources::UdpTimings &timings = {});

} // namespace tarvex::test
