#pragma once

namespace dorvane {

// The codec's process-wide warnings switch, on until turned off. The codec itself prints nothing;
// the switch is kept for callers that consult it.
void DisableWarnings();
void EnableWarnings();
bool WarningsEnabled();

} // namespace dorvane
