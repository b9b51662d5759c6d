// Runs a fuzz target over saved inputs: every regular file in the directories (or the files)
// named on the command line, so that inputs which once failed keep passing in the unit tests.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    std::vector<fs::path> paths;
    try {
        for (int i = 1; i < argc; ++i) {
            if (!fs::is_directory(argv[i])) {
                paths.emplace_back(argv[i]);
                continue;
            }
            for (const auto& entry : fs::directory_iterator(argv[i])) {
                if (entry.is_regular_file()) paths.push_back(entry.path());
            }
        }
        for (const fs::path& path : paths) {
            // Exactly the input's size, so that reads past the end are caught under ASan.
            std::vector<std::uint8_t> input(fs::file_size(path));
            std::ifstream in(path, std::ios::binary);
            if (!in.read(reinterpret_cast<char*>(input.data()), input.size())) {
                std::fprintf(stderr, "cannot read %s\n", path.c_str());
                return 1;
            }
            LLVMFuzzerTestOneInput(input.data(), input.size());
        }
    } catch (const fs::filesystem_error& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    if (paths.empty()) {
        std::fprintf(stderr, "no inputs\n");
        return 1;
    }
    std::printf("%zu inputs passed\n", paths.size());
    return 0;
}
