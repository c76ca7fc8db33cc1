// Runs a fuzz target once on each input file named on the command line (a folder stands for
// every file in it), as libFuzzer would replay them: the corpora run as ordinary tests with any
// compiler, and a crash found by fuzzing stays a test once its input is in the corpus.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

bool Replay(const std::filesystem::path& file) {
    std::ifstream stream(file, std::ios::binary);
    if (!stream) {
        std::fprintf(stderr, "cannot read %s\n", file.c_str());
        return false;
    }
    // A heap block of exactly the input's size: a read past its end is caught, as under
    // libFuzzer.
    const std::vector<std::uint8_t> input{std::istreambuf_iterator<char>(stream),
                                          std::istreambuf_iterator<char>()};
    LLVMFuzzerTestOneInput(input.data(), input.size());
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::size_t replayed = 0;
    bool ok = argc > 1;
    for (int i = 1; i < argc; ++i) {
        const std::filesystem::path path = argv[i];
        std::error_code error;
        if (std::filesystem::is_directory(path, error)) {
            std::vector<std::filesystem::path> files;
            for (const auto& entry : std::filesystem::directory_iterator(path, error))
                if (entry.is_regular_file()) files.push_back(entry.path());
            if (error) ok = false;
            for (const auto& file : files) {
                ok = Replay(file) && ok;
                ++replayed;
            }
        } else {
            ok = Replay(path) && ok;
            ++replayed;
        }
    }
    std::printf("%zu inputs replayed\n", replayed);
    if (replayed == 0) std::fprintf(stderr, "no input to replay\n");
    return ok && replayed > 0 ? 0 : 1;
}
