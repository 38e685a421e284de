#pragma once
// What the mouse does in the image view, the selection's options, and the zoom steps of a click.
#include <cstdint>
#include <initializer_list>

// A set of enumeration values, one bit each.
template <typename E>
class TKVSet {
public:
    constexpr TKVSet() = default;
    constexpr TKVSet(std::initializer_list<E> items) {
        for (E item : items) bits_ |= Bit(item);
    }
    constexpr bool Has(E item) const { return (bits_ & Bit(item)) != 0; }
    constexpr bool Empty() const { return bits_ == 0; }
    constexpr TKVSet With(E item) const { return FromBits(bits_ | Bit(item)); }
    constexpr TKVSet Without(E item) const { return FromBits(bits_ & ~Bit(item)); }
    constexpr TKVSet Intersect(TKVSet other) const { return FromBits(bits_ & other.bits_); }
    constexpr bool operator==(const TKVSet&) const = default;

private:
    static constexpr uint32_t Bit(E item) { return uint32_t(1) << unsigned(item); }
    static constexpr TKVSet FromBits(uint32_t bits) {
        TKVSet set;
        set.bits_ = bits;
        return set;
    }
    uint32_t bits_ = 0;
};

enum TKVMouseInteractItem {
    miZoom,
    miScroll,
    miSelect,
    miSelectPolygon,
    miSelectCircle,
    miSelectZoom,
    miSelectMagicWand,
    miSelectLasso,
    miMoveLayers,
    miResizeLayers
};
using TKVMouseInteract = TKVSet<TKVMouseInteractItem>;

enum TKVSelectionOption {
    kvsoAnimated,
    kvsoSizeable,
    kvsoMoveable,
    kvsoFilled,
    kvsoCutBorders,
    kvsoMarkOuter,
    kvsoCanScroll,
    kvsoSelectTranspLayers
};
using TKVSelectionOptions = TKVSet<TKVSelectionOption>;

// Whether coordinates given to the selection operations are client or bitmap coordinates.
enum TKVSelectionBase { kvsbClientArea, kvsbBitmap };

// The modes that can work together: the first mode that `value` adds to `old` decides which
// of the others stay.
TKVMouseInteract KVFilterMouseInteract(TKVMouseInteract old, TKVMouseInteract value);

// The zoom a click (in) or a right click (out) leads to from `zoom`, in percent.
double KVZoomInStep(double zoom);
double KVZoomOutStep(double zoom);

// However the mouse zooms, the view stays between these.
constexpr double KVMinMouseZoom = 1.0;
constexpr double KVMaxMouseZoom = 10000.0;
