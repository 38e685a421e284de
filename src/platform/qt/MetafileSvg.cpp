#include "MetafileSvg.h"

// Ahead of the metafile libraries' headers, whose macros (U8, U16, ...) would rename its members.
#include "platform/ByteReader.h"

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

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "MetafileCheck.h"
#include "platform/FontService.h"
#include "platform/Graphics.h"

namespace {

[[noreturn]] void Invalid(const std::string& detail) { throw EInvalidGraphic("Metafile is not valid: " + detail); }

uint32_t RecordU32(const std::vector<uint8_t>& records, size_t at) { return TByteReader(records).U32LEAt(int64_t(at)); }

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

std::string WmfToSvg(TCheckedMetafile& playable) {
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

std::string EmfToSvg(TCheckedMetafile& playable) {
    // The converter trusts the counts and offsets inside records; the record library checks them.
    const std::vector<uint8_t>& records = playable.records;
    for (size_t position = 0; position < records.size(); position += RecordU32(records, position + 4))
        if (!U_emf_record_safe(reinterpret_cast<const char*>(&records[position])))
            Invalid("record " + std::to_string(RecordU32(records, position)) + " at byte " + std::to_string(position));
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
std::string PlayedApart(TCheckedMetafile& playable, std::string (*play)(TCheckedMetafile&)) {
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
    TCheckedMetafile playable = CheckMetafile(data);
    if (!playable.enhanced) FontMapPath();  // made here: the child may not use the font service
    return {PlayedApart(playable, playable.enhanced ? EmfToSvg : WmfToSvg), playable.width, playable.height,
            playable.enhanced};
}
