#pragma once

// What the library's entry points need to know about the rest of it.

namespace pingocx::server {

void instanceCreated();
void instanceDestroyed();
int liveInstances();

} // namespace pingocx::server
