#pragma once

#include "window/frm_main_description.h"

namespace extras {

// The pulse's numbers: the tick, the icon's rest size and the width at
// which a doubling snaps it back.
inline constexpr int kPulseTickMs = 100;
inline constexpr rt::Twips kIcoRestSize = 480;
inline constexpr rt::Twips kIcoLimitWidth = 4800;

// A double-click on the crash message starts the pulse, or stops it and
// restores the icon.
void label_DblClick(rt::FrmMain& f);
// One step of the pulse: the icon doubles, and snaps back at the limit.
void Timer_Timer(rt::FrmMain& f);

} // namespace extras
