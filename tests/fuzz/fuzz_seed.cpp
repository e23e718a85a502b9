// Writes the fuzzer's seed to the file named by its argument: the record the engine hands the
// module at 128 kbit/s, then 4096 bytes of silence as input.
#include <cstdio>
#include <vector>

#include "encoder_config.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s SEED-FILE\n", argv[0]);
        return 2;
    }
    const BE_CONFIG config = BuildEncoderConfig(128, 44100, 0);
    const std::vector<unsigned char> silence(4096, 0);
    std::FILE* file = std::fopen(argv[1], "wb");
    const bool written = file != nullptr && std::fwrite(&config, sizeof(config), 1, file) == 1 &&
                         std::fwrite(silence.data(), silence.size(), 1, file) == 1;
    if (file == nullptr || std::fclose(file) != 0 || !written) {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}
