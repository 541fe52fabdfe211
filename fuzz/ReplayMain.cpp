// Replays saved inputs through a fuzz target's entry point without libFuzzer, so that the plain
// build's tests run every seed and every crash input once:
//     <target>_replay FOLDER...
// Each regular file of each folder is one input; a folder that does not exist is skipped, but
// at least one input must be found. A failed invariant aborts, which fails the test.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size);

namespace {

std::vector<std::uint8_t> ReadFile(const std::filesystem::path &path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

} // namespace

int main(int argc, char **argv) {
    namespace fs = std::filesystem;
    int replayed = 0;
    for (int i = 1; i < argc; ++i) {
        const fs::path folder(argv[i]);
        if (!fs::is_directory(folder))
            continue;
        std::vector<fs::path> inputs;
        for (const fs::directory_entry &entry : fs::directory_iterator(folder))
            if (entry.is_regular_file())
                inputs.push_back(entry.path());
        std::sort(inputs.begin(), inputs.end());
        for (const fs::path &input : inputs) {
            std::printf("%s\n", input.c_str());
            std::fflush(stdout); // names the input that a failed invariant ends on
            const std::vector<std::uint8_t> bytes = ReadFile(input);
            LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
            ++replayed;
        }
    }
    std::printf("%d inputs replayed\n", replayed);
    return replayed > 0 ? 0 : 1;
}
