// SPDX-License-Identifier: MIT
// The fuzz harness without an engine: on each file named (the corpus), and
// on COUNT random inputs for each `--random COUNT SEED`.
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
    int inputs = 0;
    for (int i = 1; i < argc; i++) {
        std::vector<uint8_t> data;
        if (std::string(argv[i]) == "--random" && i + 2 < argc) {
            std::mt19937 rng(std::stoul(argv[i + 2]));
            for (int n = std::stoi(argv[i + 1]); n > 0; n--, inputs++) {
                data.resize(64 + rng() % 4096);
                for (uint8_t &b : data) b = uint8_t(rng());
                LLVMFuzzerTestOneInput(data.data(), data.size());
            }
            i += 2;
            continue;
        }
        std::ifstream file(argv[i], std::ios::binary);
        if (!file) return std::fprintf(stderr, "replay: cannot read %s\n", argv[i]), 1;
        data.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
        LLVMFuzzerTestOneInput(data.data(), data.size()), inputs++;
    }
    std::fprintf(stderr, "replay: %d input(s) passed\n", inputs);
}
