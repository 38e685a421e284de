#pragma once
// The one way the program runs libjpeg. The library leaves a fatal error through error_exit,
// which must neither return nor unwind through the library's frames: it jumps back to the setjmp
// of the routine that called the library. That routine keeps only plain data live across the
// jump and raises its own error after it, reading the code from the manager.
#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

struct TJpegErrorManager {
    jpeg_error_mgr manager;  // first: the library's pointer to it is a pointer to the whole
    std::jmp_buf jump;
};

// The library's standard manager whose error_exit jumps to error.jump; returns what cinfo.err takes.
// Callers may replace the message hooks afterwards.
jpeg_error_mgr* InitJpegErrorManager(TJpegErrorManager& error);
