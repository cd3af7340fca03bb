#pragma once
// Internal to the platform library.

namespace pda {
// Waits until every QCop message sent so far has left for the bus (one round trip).
void flushQCop();
}
