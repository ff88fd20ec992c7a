// Runs the fuzz harness once on each file named on the command line, so the
// corpus replays without a fuzzing engine; `--random COUNT SEED` runs it on
// COUNT inputs of random bytes instead, the same ones for the same seed.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv);
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

int main(int argc, char **argv) {
    LLVMFuzzerInitialize(&argc, &argv);
    if (argc == 4 && std::string(argv[1]) == "--random") {
        int count = std::stoi(argv[2]);
        std::mt19937 rng(std::stoul(argv[3]));
        for (int i = 0; i < count; i++) {
            std::vector<uint8_t> data(64 + rng() % 4096);
            for (uint8_t &b : data) b = uint8_t(rng());
            LLVMFuzzerTestOneInput(data.data(), data.size());
        }
        std::fprintf(stderr, "replay: %d random input(s) passed\n", count);
        return 0;
    }
    for (int i = 1; i < argc; i++) {
        std::ifstream file(argv[i], std::ios::binary);
        if (!file) {
            std::fprintf(stderr, "replay: cannot read %s\n", argv[i]);
            return 1;
        }
        std::vector<uint8_t> data((std::istreambuf_iterator<char>(file)),
                                  std::istreambuf_iterator<char>());
        LLVMFuzzerTestOneInput(data.data(), data.size());
    }
    std::fprintf(stderr, "replay: %d input(s) passed\n", argc - 1);
    return 0;
}
