#include "imaging/core/KVHSL.h"

#include <algorithm>
#include <cmath>

#include "imaging/core/KVBasicHelpers.h"

void KVRGBToHSL(uint32_t color, double& h, double& s, double& l) {
    const double r = ((color >> 16) & 0xFF) / 255.0, g = ((color >> 8) & 0xFF) / 255.0, b = (color & 0xFF) / 255.0;
    const double max = std::max({r, g, b}), min = std::min({r, g, b});
    l = (max + min) / 2;
    if (max == min) {
        h = s = 0;
        return;
    }
    const double d = max - min;
    s = l >= 0.5 ? d / (2 - max - min) : d / (max + min);
    if (max == r) h = (g - b) / d;
    else if (max != g) h = (r - g) / d + 4;
    else h = (b - r) / d + 2;
    h /= 6;
    if (h < 0) h += 1;
}

TKVRGB KVHSLToRGB(double h, double s, double l) {
    if (h < 0) h += 1;
    else if (h > 1) h -= 1;
    s = std::clamp(s, 0.0, 1.0);
    l = std::clamp(l, 0.0, 1.0);
    auto toByte = [](double v) { return uint8_t(std::clamp(std::nearbyint(v * 255), 0.0, 255.0)); };
    if (s == 0) return KVCreateRGB(toByte(l), toByte(l), toByte(l));
    const double q = l > 0.5 ? l + s - l * s : l * (1 + s);
    const double p = 2 * l - q;
    auto channel = [&](double t) {
        if (t < 0) t += 1;
        else if (t > 1) t -= 1;
        if (6 * t < 1) return p + (q - p) * 6 * t;
        if (2 * t < 1) return q;
        if (3 * t < 2) return p + (q - p) * (2.0 / 3 - t) * 6;
        return p;
    };
    return KVCreateRGB(toByte(channel(h + 1.0 / 3)), toByte(channel(h)), toByte(channel(h - 1.0 / 3)));
}
