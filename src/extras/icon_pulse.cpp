#include "extras/icon_pulse.h"

namespace extras {

void label_DblClick(rt::FrmMain& f) {
    if (!f.IcoPulse) {
        f.Timer.setInterval(kPulseTickMs);
        f.IcoPulse = true;
    } else {
        f.Timer.setInterval(0);
        f.IcoPulse = false;
        f.Ico.setHeight(kIcoRestSize);
        f.Ico.setWidth(kIcoRestSize);
    }
}

void Timer_Timer(rt::FrmMain& f) {
    if (!f.IcoPulse) {
        return;
    }
    f.Ico.setHeight(f.Ico.height() * 2);
    f.Ico.setWidth(f.Ico.width() * 2);
    // Only the width is tested against the limit; the height follows it.
    if (f.Ico.width() >= kIcoLimitWidth) {
        f.Ico.setHeight(kIcoRestSize);
        f.Ico.setWidth(kIcoRestSize);
    }
}

} // namespace extras
