#pragma once
// Which scroll bars a view may show.

enum TScrollStyle { ssNone, ssHorizontal, ssVertical, ssBoth };
