#pragma once

namespace zrq406::app {

// The names of the programs' single-instance locks. Fixed words, never a translated window title: copies running
// in two languages must still see each other.
inline constexpr char kUtilityInstance[] = "zrq406-config";
inline constexpr char kUpgradeToolInstance[] = "zrq406-upgrade";
// Held by the utility while the upgrade tool it started may run beside it.
inline constexpr char kBothRunInstance[] = "BothRun";

} // namespace zrq406::app
