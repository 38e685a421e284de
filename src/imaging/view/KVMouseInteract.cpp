#include "imaging/view/KVMouseInteract.h"

#include <algorithm>
#include <iterator>

namespace {

const TKVMouseInteract LayerModes{miMoveLayers, miResizeLayers};

// The modes that survive beside the one that was added.
TKVMouseInteract Companions(TKVMouseInteractItem added, TKVMouseInteract value) {
    switch (added) {
        case miScroll: return value.Intersect({miZoom, miScroll});
        case miSelect: return value.Intersect({miZoom, miSelect});
        case miSelectCircle:
        case miSelectLasso:
        case miSelectZoom: return value.Intersect({added, miZoom});
        case miZoom:
            return value.Without(miSelectPolygon).Without(miSelectMagicWand).Without(miMoveLayers).Without(
                miResizeLayers);
        default: return TKVMouseInteract{added};
    }
}

constexpr double ZoomSteps[] = {2, 5, 10, 25, 33, 50, 75, 100};

}  // namespace

TKVMouseInteract KVFilterMouseInteract(TKVMouseInteract old, TKVMouseInteract value) {
    for (TKVMouseInteractItem mode : {miScroll, miSelect, miSelectPolygon, miSelectCircle, miSelectLasso, miSelectZoom,
                                      miZoom, miSelectMagicWand})
        if (value.Has(mode) && !old.Has(mode)) return Companions(mode, value);
    if (!value.Intersect(LayerModes).Empty()) return value.Intersect(LayerModes);
    return value;
}

double KVZoomInStep(double zoom) {
    if (zoom >= 100) return zoom + 100;
    const auto* step = std::upper_bound(std::begin(ZoomSteps), std::end(ZoomSteps), zoom);
    return *step;  // 100 is above every zoom below 100
}

double KVZoomOutStep(double zoom) {
    if (zoom >= 200) return zoom - 100;
    const auto* step = std::lower_bound(std::begin(ZoomSteps), std::end(ZoomSteps), zoom);
    return step == std::begin(ZoomSteps) ? 2 : *(step - 1);
}
