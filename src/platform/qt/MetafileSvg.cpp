#include "MetafileSvg.h"

#include <emf2svg.h>
#include <fcntl.h>
#include <libwmf/api.h>
#include <libwmf/svg.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <uemf_safe.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "platform/FontService.h"
#include "platform/Graphics.h"

namespace {

constexpr uint32_t PlaceableKey = 0x9AC6CDD7;
constexpr int64_t PlaceableHeaderSize = 22, WmfHeaderSize = 18;
constexpr int64_t EmfHeaderSize = 88;
constexpr uint32_t EmfSignature = 0x464D4520;  // " EMF"
constexpr uint32_t EMR_HEADER = 1, EMR_EOF = 14;
constexpr double HundredthsOfMmPerInch = 2540;

[[noreturn]] void Invalid(const std::string& detail) { throw EInvalidGraphic("Metafile is not valid: " + detail); }

uint16_t Get16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
uint32_t Get32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
void Put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

bool IsEnhanced(const std::vector<uint8_t>& data) {
    return data.size() >= EmfHeaderSize && Get32(data.data()) == EMR_HEADER && Get32(data.data() + 40) == EmfSignature;
}

// A side of the frame in screen pixels, refused when empty or too large.
int ScreenPixels(double inches) {
    const double pixels = std::nearbyint(inches * ScreenPixelsPerInch);
    if (!(pixels >= 1 && pixels <= MaxMetafileSide)) Invalid("a frame with an empty or too long side");
    return int(pixels);
}

// A metafile whose records were walked and whose frame was measured: what the players receive.
struct TPlayable {
    std::vector<uint8_t> records;
    int width = 0, height = 0;
};

// Where a record that carries a device-independent bitmap keeps it: bytes from the record's start.
int64_t PictureOffset(uint16_t function) {
    switch (function) {
        case 0x0142: return 10;  // DIB pattern brush
        case 0x0940: return 22;  // DIB block transfer
        case 0x0B41: return 26;  // stretched DIB block transfer
        case 0x0D33: return 24;  // DIB to device
        case 0x0F43: return 28;  // stretched DIB
        default: return 0;
    }
}

// The player allocates what a bitmap's header claims: the claim must be modest and, for
// uncompressed rows, covered by the record's data.
void CheckPicture(const uint8_t* record, int64_t recordBytes, int64_t offset) {
    constexpr int64_t MaxPixels = int64_t(64) << 20;
    const int64_t available = recordBytes - offset;
    if (available < 12) Invalid("truncated picture header");
    const uint8_t* picture = record + offset;
    const int64_t headerSize = Get32(picture);
    const bool core = headerSize == 12;
    if (!core && (headerSize < 40 || headerSize > available)) Invalid("picture header size");
    const int64_t width = core ? Get16(picture + 4) : int32_t(Get32(picture + 4));
    const int64_t height = core ? Get16(picture + 6) : std::abs(int64_t(int32_t(Get32(picture + 8))));
    const int bits = Get16(picture + (core ? 10 : 14));
    const uint32_t compression = core ? 0 : Get32(picture + 16);
    if (width <= 0 || height <= 0 || width * height > MaxPixels) Invalid("picture size");
    if (compression != 0 && compression != 3) return;  // compressed: the pixel limit holds
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) Invalid("picture depth");
    int64_t colours = bits <= 8 ? int64_t(1) << bits : 0;
    if (!core && Get32(picture + 32) != 0) colours = std::min<int64_t>(Get32(picture + 32), colours);
    const int64_t rows = (width * bits + 31) / 32 * 4 * height;
    if (headerSize + colours * (core ? 3 : 4) + rows > available) Invalid("picture larger than its record");
}

// The header and the chain of records up to the end record, checked before a player sees them.
// The header's size fields are set to what the walk found, so the player allocates no more than that.
TPlayable CheckedWmf(const std::vector<uint8_t>& data) {
    const int64_t total = int64_t(data.size());
    if (total < PlaceableHeaderSize + WmfHeaderSize || Get32(data.data()) != PlaceableKey)
        Invalid("not a placeable Windows metafile");
    uint16_t checksum = 0;
    for (int i = 0; i < 10; ++i) checksum ^= Get16(data.data() + 2 * i);
    if (checksum != Get16(data.data() + 20)) Invalid("header checksum");
    const int inch = Get16(data.data() + 14);
    if (inch == 0) Invalid("no units per inch");
    const auto left = int16_t(Get16(data.data() + 6)), top = int16_t(Get16(data.data() + 8));
    const auto right = int16_t(Get16(data.data() + 10)), bottom = int16_t(Get16(data.data() + 12));
    TPlayable playable;
    playable.width = ScreenPixels(double(right - left) / inch);
    playable.height = ScreenPixels(double(bottom - top) / inch);

    const uint8_t* header = data.data() + PlaceableHeaderSize;
    const uint16_t type = Get16(header);
    if ((type != 1 && type != 2) || Get16(header + 2) != 9) Invalid("metafile header");
    int64_t position = PlaceableHeaderSize + WmfHeaderSize;
    int64_t largest = 0;
    for (;;) {
        if (total - position < 6) Invalid("truncated records");
        const int64_t words = Get32(data.data() + position);
        if (words < 3 || words > (total - position) / 2) Invalid("record size");
        largest = std::max(largest, words);
        const uint16_t function = Get16(data.data() + position + 4);
        const int64_t pictureOffset = PictureOffset(function);
        if (pictureOffset && words != (function >> 8) + 3)  // that size means "no bitmap"
            CheckPicture(data.data() + position, 2 * words, pictureOffset);
        position += 2 * words;
        if (function == 0) break;
    }
    playable.records.assign(data.begin(), data.begin() + position);
    Put32(playable.records.data() + PlaceableHeaderSize + 6, uint32_t((position - PlaceableHeaderSize) / 2));
    Put32(playable.records.data() + PlaceableHeaderSize + 12, uint32_t(largest));
    return playable;
}

// As for Windows metafiles; the header also loses its description and pixel format, which are
// not needed and would be read from wherever their offsets point.
TPlayable CheckedEmf(const std::vector<uint8_t>& data) {
    const int64_t total = int64_t(data.size());
    const int64_t headerSize = Get32(data.data() + 4);
    if (headerSize < EmfHeaderSize || headerSize % 4 != 0 || headerSize > total) Invalid("header size");
    const uint8_t* frame = data.data() + 24;  // left, top, right, bottom in 0.01 mm
    TPlayable playable;
    playable.width = ScreenPixels((double(int32_t(Get32(frame + 8))) - int32_t(Get32(frame))) / HundredthsOfMmPerInch);
    playable.height =
        ScreenPixels((double(int32_t(Get32(frame + 12))) - int32_t(Get32(frame + 4))) / HundredthsOfMmPerInch);

    int64_t position = 0, records = 0;
    for (;;) {
        if (total - position < 8) Invalid("truncated records");
        const uint32_t type = Get32(data.data() + position);
        const int64_t size = Get32(data.data() + position + 4);
        if (size < 8 || size % 4 != 0 || size > total - position) Invalid("record size");
        if ((position == 0) != (type == EMR_HEADER)) Invalid("header record");
        position += size;
        ++records;
        if (type == EMR_EOF) break;
    }
    playable.records.assign(data.begin(), data.begin() + position);
    uint8_t* header = playable.records.data();
    Put32(header + 48, uint32_t(position));
    Put32(header + 52, uint32_t(records));
    Put32(header + 60, 0);
    Put32(header + 64, 0);
    if (headerSize >= 100) {
        Put32(header + 88, 0);
        Put32(header + 92, 0);
    }
    return playable;
}

// The player measures text with the standard PostScript faces; it is told where their stand-ins
// are through a font map in memory that lives as long as the process.
const std::string& FontMapPath() {
    static const std::string path = [] {
        struct TFace {
            const char* postScriptName;
            const char* family;
            bool bold, italic;
        };
        static constexpr TFace faces[] = {
            {"Times-Roman", "Times New Roman", false, false}, {"Times-Italic", "Times New Roman", false, true},
            {"Times-Bold", "Times New Roman", true, false},   {"Times-BoldItalic", "Times New Roman", true, true},
            {"Helvetica", "Arial", false, false},             {"Helvetica-Oblique", "Arial", false, true},
            {"Helvetica-Bold", "Arial", true, false},         {"Helvetica-BoldOblique", "Arial", true, true},
            {"Courier", "Courier New", false, false},         {"Courier-Oblique", "Courier New", false, true},
            {"Courier-Bold", "Courier New", true, false},     {"Courier-BoldOblique", "Courier New", true, true},
            {"Symbol", "Symbol", false, false},
        };
        std::string map;
        for (const TFace& face : faces)
            map += std::string("/") + face.postScriptName + " (" +
                   TFontFace::Find(face.family, face.bold, face.italic)->FileName() + ") ;\n";
        const int fd = ::memfd_create("metafile-fonts", MFD_CLOEXEC);
        if (fd < 0 || ::write(fd, map.data(), map.size()) != ssize_t(map.size()))
            throw EInvalidOperation("The font map of the metafile player cannot be made");
        return "/proc/self/fd/" + std::to_string(fd);
    }();
    return path;
}

struct TWmfApi {
    wmfAPI* api = nullptr;
    ~TWmfApi() {
        if (api) wmf_api_destroy(api);
    }
};

std::string WmfToSvg(TPlayable& playable) {
    TWmfApi player;
    wmfAPI_Options options{};
    options.function = wmf_svg_function;
    options.gs_fontmap_file = const_cast<char*>(FontMapPath().c_str());
    const unsigned long flags =
        WMF_OPT_FUNCTION | WMF_OPT_GS_FONTMAP | WMF_OPT_IGNORE_NONFATAL | WMF_OPT_NO_ERROR | WMF_OPT_NO_DEBUG;
    if (wmf_api_create(&player.api, flags, &options) != wmf_E_None) {
        player.api = nullptr;  // destroyed by the failed creation
        throw EInvalidGraphic("The Windows metafile player could not start");
    }
    wmfD_Rect box;
    if (wmf_mem_open(player.api, playable.records.data(), long(playable.records.size())) != wmf_E_None ||
        wmf_scan(player.api, 0, &box) != wmf_E_None)
        Invalid("unreadable records");
    wmf_svg_t* device = WMF_SVG_GetData(player.api);
    device->out = wmf_stream_create(player.api, nullptr);
    device->Description = const_cast<char*>("");
    device->bbox = box;
    device->width = unsigned(playable.width);
    device->height = unsigned(playable.height);
    device->flags |= WMF_SVG_INLINE_IMAGES;
    const wmf_error_t played = wmf_play(player.api, 0, &box);
    char* svg = nullptr;  // belongs to the player
    unsigned long length = 0;
    wmf_stream_destroy(player.api, device->out, &svg, &length);
    wmf_mem_close(player.api);
    if (played != wmf_E_None || !svg) Invalid("records that cannot be played");
    return std::string(svg, length);
}

std::string EmfToSvg(TPlayable& playable) {
    // The converter trusts the counts and offsets inside records; the record library checks them.
    for (size_t position = 0; position < playable.records.size(); position += Get32(&playable.records[position + 4]))
        if (!U_emf_record_safe(reinterpret_cast<const char*>(&playable.records[position])))
            Invalid("record " + std::to_string(Get32(&playable.records[position])) + " at byte " +
                    std::to_string(position));
    generatorOptions options{};
    options.svgDelimiter = true;
    char* svg = nullptr;
    size_t length = 0;
    const int converted =
        emf2svg(reinterpret_cast<char*>(playable.records.data()), playable.records.size(), &svg, &length, &options);
    const std::unique_ptr<char, decltype(&std::free)> owned(svg, &std::free);
    if (converted != 1 || !svg) Invalid("records that cannot be played");
    return std::string(svg, length);
}

constexpr auto PlaybackTime = std::chrono::seconds(30);
constexpr rlim_t PlayerMemory = rlim_t(2) << 30;  // beyond what the process already maps
constexpr size_t MaxSvgBytes = size_t(256) << 20;

rlim_t AddressSpaceLimit() {
    unsigned long long pages = 0;
    if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%llu", &pages) != 1) pages = 0;
        std::fclose(statm);
    }
    return rlim_t(pages) * rlim_t(::sysconf(_SC_PAGESIZE)) + PlayerMemory;
}

// Sanitizer builds reserve vast address space for their shadow memory, so they go without.
void LimitAddressSpace([[maybe_unused]] rlim_t bytes) {
#ifndef __SANITIZE_ADDRESS__
    const rlimit limit{bytes, bytes};
    ::setrlimit(RLIMIT_AS, &limit);
#endif
}

bool WriteAll(int fd, const std::string& bytes) {
    for (size_t done = 0; done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += size_t(n);
    }
    return true;
}

// Reads until the end of the data, the deadline or the size limit; false unless the end came first.
bool ReadAll(int fd, std::string& bytes, std::chrono::steady_clock::time_point deadline) {
    char buffer[65536];
    for (;;) {
        using std::chrono::milliseconds;
        const auto left = std::chrono::duration_cast<milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0) return false;
        pollfd waiting{fd, POLLIN, 0};
        const int ready = ::poll(&waiting, 1, int(left));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return false;
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) return true;
        bytes.append(buffer, size_t(n));
        if (bytes.size() > MaxSvgBytes + 1) return false;
    }
}

// The players are C libraries that trust what they read. Each playback runs in a child process,
// so that a file that upsets them costs an error instead of the program, in bounded time and memory.
std::string PlayedApart(TPlayable& playable, std::string (*play)(TPlayable&)) {
    const rlim_t addressSpace = AddressSpaceLimit();  // read here: the child does nothing but play
    int channel[2];
    if (::pipe2(channel, O_CLOEXEC) != 0) throw EOutOfResources("No pipe for the metafile player");
    const pid_t child = ::fork();
    if (child < 0) {
        ::close(channel[0]);
        ::close(channel[1]);
        throw EOutOfResources("No process for the metafile player");
    }
    if (child == 0) {
        ::close(channel[0]);
        LimitAddressSpace(addressSpace);
        std::string reply;
        try {
            reply = "+" + play(playable);
        } catch (const std::exception& e) {
            reply = std::string("-") + e.what();
        } catch (...) {
            reply = "-Metafile is not valid";
        }
        ::_exit(WriteAll(channel[1], reply) ? 0 : 1);  // no exit handlers: they belong to the parent
    }
    ::close(channel[1]);
    std::string reply;
    const bool complete = ReadAll(channel[0], reply, std::chrono::steady_clock::now() + PlaybackTime);
    ::close(channel[0]);
    if (!complete) ::kill(child, SIGKILL);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (!complete) Invalid("playback that takes too long or too much");
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || reply.empty()) Invalid("records that stop the player");
    if (reply[0] == '-') throw EInvalidGraphic(reply.substr(1));
    return reply.substr(1);
}

}  // namespace

TMetafileSvg MetafileToSvg(const std::vector<uint8_t>& data) {
    const bool enhanced = IsEnhanced(data);
    TPlayable playable = enhanced ? CheckedEmf(data) : CheckedWmf(data);
    if (!enhanced) FontMapPath();  // made here: the child may not use the font service
    return {PlayedApart(playable, enhanced ? EmfToSvg : WmfToSvg), playable.width, playable.height, enhanced};
}
