#include "PSPBuilder.h"

namespace {

std::string U16(uint32_t v) { return {char(v), char(v >> 8)}; }
std::string U32(uint32_t v) { return U16(v) + U16(v >> 16); }

std::string Block(uint16_t id, const std::string& content) {
    return std::string("~BK\0", 4) + U16(id) + U32(uint32_t(content.size())) + content;
}

// A fixed part behind its own length.
std::string Chunk(const std::string& content) { return U32(uint32_t(content.size() + 4)) + content; }

}  // namespace

std::string PSPFile(int width, int height, int bitDepth, int compression, const std::vector<TPSPLayer>& layers,
                    const std::string& paletteBgra) {
    std::string file = "Paint Shop Pro Image File\n\x1a";
    file.resize(32, '\0');
    file += U16(5) + U16(0);
    const std::string attributes = U32(uint32_t(width)) + U32(uint32_t(height)) + std::string(8, '\0') + '\0' +
                                   U16(uint32_t(compression)) + U16(uint32_t(bitDepth)) + U16(1) + U32(256) + '\0' +
                                   U32(0) + U32(0) + U16(uint32_t(layers.size())) + U32(1);
    file += Block(0, Chunk(attributes));
    if (!paletteBgra.empty()) file += Block(2, Chunk(U32(uint32_t(paletteBgra.size() / 4))) + paletteBgra);
    std::string layerBlocks;
    for (const TPSPLayer& layer : layers) {
        std::string info(115, '\0');
        info[0] = char(layer.type);
        std::string content = Chunk(U16(5) + "Layer" + info) + U16(1) + U16(uint32_t(layer.channels.size()));
        for (const TPSPChannel& channel : layer.channels)
            content += Block(5, Chunk(U32(uint32_t(channel.packed.size())) + U32(channel.size) + U16(0) + U16(channel.type)) +
                                    channel.packed);
        layerBlocks += Block(4, content);
    }
    return file + Block(3, layerBlocks);
}
