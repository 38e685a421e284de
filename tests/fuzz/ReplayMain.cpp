// Replays a fuzz target's inputs without libFuzzer: every file of the folders given, then a
// fixed set of mutations of each (truncations, bit flips, bytes set to 0xFF), so the sanitizer
// build of ./test.sh walks the paths the fuzzer found and their near neighbours.
#include <algorithm>
#include <cstdlib>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <sanitizer/common_interface_defs.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
// From the sanitizers' allocator interface, whose header g++ does not ship.
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*malloc_hook)(const volatile void*, size_t),
                                                         void (*free_hook)(const volatile void*));

namespace {
namespace fs = std::filesystem;

using TBytes = std::vector<uint8_t>;

// As libFuzzer's -malloc_limit_mb: inputs are small, so one allocation this large means a size
// claim was believed. Sanitizer builds only (./test.sh always is one).
constexpr size_t MallocLimit = size_t(32) << 20;

void MallocHook(const volatile void*, size_t size) {
    if (size <= MallocLimit) return;
    std::fprintf(stderr, "allocation of %zu bytes beyond the limit of %zu\n", size, MallocLimit);
    __sanitizer_print_stack_trace();
    std::abort();
}

void FreeHook(const volatile void*) {}  // the sanitizers install no hook without one

TBytes ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return TBytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// libFuzzer never passes a null pointer, even for an empty input.
void Run(const TBytes& input) {
    static const uint8_t none = 0;
    LLVMFuzzerTestOneInput(input.empty() ? &none : input.data(), input.size());
}

// Positions spread over the first bytes (where headers are) and over the whole input.
std::vector<size_t> MutationPositions(size_t size) {
    std::vector<size_t> positions;
    for (size_t p : {0, 1, 2, 3, 4, 6, 8, 10, 12, 14, 16, 18, 20, 22, 24, 28, 32, 40, 48, 54})
        if (p < size) positions.push_back(p);
    for (size_t i = 1; i < 8 && size > 0; ++i) positions.push_back(size * i / 8);
    std::sort(positions.begin(), positions.end());
    positions.erase(std::unique(positions.begin(), positions.end()), positions.end());
    return positions;
}

// The input itself and its mutations; returns how many inputs ran.
int Replay(const TBytes& input) {
    Run(input);
    int runs = 1;
    const size_t size = input.size();
    // Cut at 0, 1/2, 3/4, 7/8 ... of the input, down to one byte short of its end.
    for (size_t cut = 0; cut < size; cut = size - (size - cut) / 2) {
        Run(TBytes(input.begin(), input.begin() + std::ptrdiff_t(cut)));
        ++runs;
    }
    for (size_t p : MutationPositions(size)) {
        TBytes flipped = input;
        flipped[p] ^= uint8_t(1u << (p % 8));
        Run(flipped);
        TBytes saturated = input;
        saturated[p] = 0xFF;
        Run(saturated);
        runs += 2;
    }
    return runs;
}

std::vector<fs::path> InputsOf(const fs::path& path) {
    std::vector<fs::path> files;
    if (fs::is_directory(path)) {
        for (const auto& entry : fs::directory_iterator(path))
            if (entry.is_regular_file() && entry.path().filename().string()[0] != '.') files.push_back(entry.path());
        std::sort(files.begin(), files.end());
    } else if (fs::is_regular_file(path)) {
        files.push_back(path);
    }
    return files;
}
}  // namespace

int main(int argc, char** argv) {
    if (!__sanitizer_install_malloc_and_free_hooks(MallocHook, FreeHook)) {
        std::fprintf(stderr, "the allocation limit cannot be installed\n");
        return 1;
    }
    int files = 0, runs = 0;
    for (int i = 1; i < argc; ++i) {
        for (const fs::path& file : InputsOf(argv[i])) {
            // Named first, so a sanitizer report that follows says which input caused it.
            std::fprintf(stderr, "replaying %s\n", file.c_str());
            runs += Replay(ReadAll(file));
            ++files;
        }
    }
    std::fprintf(stderr, "%d files, %d inputs\n", files, runs);
    // A target without inputs tests nothing: its corpus folder is missing or empty.
    return files > 0 ? 0 : 1;
}
