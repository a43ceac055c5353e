// The native side of the web benchmark (bench/web_bench.sh): times implode and explode of each
// file given, in memory, exactly as the page's module does (web/codec_bench.h), and prints one
// JSON line per file and direction for the script to compare with the module's figures.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "web/codec_bench.h"

int main(int argc, char** argv)
{
    const int reps = 10;
    for (int i = 1; i < argc; ++i) {
        std::ifstream file(argv[i], std::ios::binary);
        const std::vector<unsigned char> input((std::istreambuf_iterator<char>(file)),
                                               std::istreambuf_iterator<char>());
        for (const bool implode : {true, false}) {
            std::vector<unsigned char> output;
            const double ms = codecbench::BestMilliseconds(input, implode, reps, output);
            std::printf("{\"file\": \"%s\", \"op\": \"%s\", \"ms\": %.3f, \"bytes\": %zu, "
                        "\"outputBytes\": %zu}\n",
                        argv[i], implode ? "implode" : "explode", ms, input.size(), output.size());
        }
    }
    return 0;
}
