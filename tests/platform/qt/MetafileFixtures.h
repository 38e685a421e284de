#pragma once
// Metafiles built byte by byte. Each paints its left two fifths red and its right two fifths
// green, without outlines, and leaves the fifth between them unpainted.
#include <cstdint>
#include <string>
#include <vector>

namespace metafile_fixtures {

struct TBytes {
    std::string data;
    void U16(uint32_t v) {
        data += char(v & 0xFF);
        data += char((v >> 8) & 0xFF);
    }
    void U32(uint32_t v) {
        U16(v & 0xFFFF);
        U16(v >> 16);
    }
};

// A placeable Windows metafile of width x height logical units at `inch` units per inch.
inline std::string Wmf(int width, int height, int inch) {
    TBytes records;
    auto record = [&](uint16_t function, std::vector<int> parameters) {
        records.U32(uint32_t(3 + parameters.size()));
        records.U16(function);
        for (int p : parameters) records.U16(uint32_t(p));
    };
    const int left = width * 2 / 5, right = width * 3 / 5;
    record(0x020B, {0, 0});                   // window origin (y, x)
    record(0x020C, {height, width});          // window extent (y, x)
    record(0x02FA, {5, 0, 0, 0, 0});          // a pen of style "none"
    record(0x012D, {0});                      // selected
    record(0x02FC, {0, 0x00FF, 0x0000, 0});   // a solid red brush
    record(0x012D, {1});
    record(0x041B, {height, left, 0, 0});     // rectangle (bottom, right, top, left)
    record(0x02FC, {0, 0xFF00, 0x0000, 0});   // a solid green brush
    record(0x012D, {2});
    record(0x0324, {4, right, 0, width, 0, width, height, right, height});  // polygon
    record(0x0000, {});                        // end

    TBytes file;
    file.U32(0x9AC6CDD7);
    for (int v : {0, 0, 0, width, height, inch}) file.U16(uint32_t(v));
    file.U32(0);
    uint16_t checksum = 0;
    for (size_t i = 0; i < 20; i += 2) checksum ^= uint16_t(uint8_t(file.data[i]) | uint8_t(file.data[i + 1]) << 8);
    file.U16(checksum);
    file.U16(1);       // in memory
    file.U16(9);       // header words
    file.U16(0x0300);  // version
    file.U32(uint32_t(9 + records.data.size() / 2));
    file.U16(3);  // objects
    file.U32(9);  // largest record
    file.U16(0);
    return file.data + records.data;
}

// An enhanced metafile of width x height pixels of a 96 dpi reference device.
inline std::string Emf(int width, int height) {
    TBytes records;
    auto record = [&](uint32_t type, std::vector<uint32_t> parameters) {
        records.U32(type);
        records.U32(uint32_t(8 + 4 * parameters.size()));
        for (uint32_t p : parameters) records.U32(p);
    };
    const uint32_t left = uint32_t(width * 2 / 5), right = uint32_t(width * 3 / 5);
    record(37, {0x80000008});                                 // select the stock pen "none"
    record(39, {1, 0, 0x0000FF, 0});                          // brush 1: solid red
    record(37, {1});
    record(43, {0, 0, left, uint32_t(height)});               // rectangle
    record(39, {2, 0, 0x00FF00, 0});                          // brush 2: solid green
    record(37, {2});
    record(43, {right, 0, uint32_t(width), uint32_t(height)});
    record(14, {0, 16, 20});                                  // end

    constexpr uint32_t HeaderSize = 108;
    TBytes file;
    file.U32(1);
    file.U32(HeaderSize);
    for (int v : {0, 0, width - 1, height - 1}) file.U32(uint32_t(v));  // bounds in pixels
    for (int v : {0, 0, width * 2540 / 96, height * 2540 / 96}) file.U32(uint32_t(v));  // frame in 0.01 mm
    file.U32(0x464D4520);
    file.U32(0x10000);
    file.U32(uint32_t(HeaderSize + records.data.size()));
    file.U32(9);  // records
    file.U16(3);  // handles
    file.U16(0);
    for (uint32_t v : {0u, 0u, 0u}) file.U32(v);  // description, palette
    for (uint32_t v : {1024u, 768u, 271u, 203u}) file.U32(v);  // device pixels and millimetres
    for (uint32_t v : {0u, 0u, 0u, 270933u, 203200u}) file.U32(v);
    return file.data + records.data;
}

}  // namespace metafile_fixtures
