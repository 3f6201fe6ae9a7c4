// Runs a fuzz target once per input file, without libFuzzer: the corpus files
// then serve as regression tests in the ordinary (and the sanitizer) build.
//
//   FuzzName_replay FILE|FOLDER...
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size);

namespace {

bool replay(const std::filesystem::path &file)
{
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "replay: cannot read %s\n", file.c_str());
        return false;
    }
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::printf("replay: %s (%zu bytes)\n", file.c_str(), bytes.size());
    std::fflush(stdout); // a crash below must still show which input it was
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t *>(bytes.data()), bytes.size());
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE|FOLDER...\n", argv[0]);
        return 2;
    }
    int replayed = 0;
    bool ok = true;
    for (int i = 1; i < argc; ++i) {
        const std::filesystem::path path(argv[i]);
        std::error_code error;
        if (std::filesystem::is_directory(path, error)) {
            for (const auto &entry : std::filesystem::directory_iterator(path))
                if (entry.is_regular_file()) {
                    ok = replay(entry.path()) && ok;
                    ++replayed;
                }
        } else {
            ok = replay(path) && ok;
            ++replayed;
        }
    }
    if (replayed == 0) {
        std::fprintf(stderr, "replay: no input found\n");
        return 2;
    }
    return ok ? 0 : 1;
}
