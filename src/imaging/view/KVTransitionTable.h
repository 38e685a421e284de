#pragma once
// The effect table: one row per transition type from 1 to 163, its display name and, beyond the
// effects the engine draws itself, the procedure that draws it.
#include <array>
#include <string_view>

#include "imaging/view/KVTransitionTypes.h"
#include "platform/Graphics.h"

// What a procedure is called with on every tick: the current frame to draw on, the two pictures
// (all of one size), the percent revealed 0..100, the step factor and the frame rectangle.
struct TKVEffectCall {
    TBitmap& current;
    const TBitmap& from;
    const TBitmap& to;
    int percent;
    int step;
    TRect rect;
};
using TKVEffectProc = void (*)(const TKVEffectCall& call);

struct TEffect {
    std::string_view Name;
    TKVEffectProc Proc;  // nullptr for the effects the engine draws itself
};

// Row v - 1 belongs to the type value v.
extern const std::array<TEffect, KVEffectCount> TransitionEffectTable;
