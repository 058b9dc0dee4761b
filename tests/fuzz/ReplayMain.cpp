// Runs a fuzz target over inputs on disk, without libFuzzer: every file of each folder given (in name
// order), or the files given themselves. This is how CI replays the committed corpus in every build,
// g++ and the sanitizer builds included. A failed invariant aborts, which fails the test.
//
//   fuzz_request_head_replay tests/fuzz/corpus/request_head
#include "tests/fuzz/FuzzSupport.h"

#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <set>
#include <string>

int main(int argc, char** argv)
{
    std::set<std::filesystem::path> inputs; // in name order
    for (int i = 1; i < argc; ++i) {
        if (!std::filesystem::is_directory(argv[i])) {
            inputs.insert(argv[i]);
            continue;
        }
        for (const auto& entry : std::filesystem::directory_iterator(argv[i])) {
            if (entry.is_regular_file()) {
                inputs.insert(entry.path());
            }
        }
    }
    // An empty corpus folder would pass without testing anything.
    if (inputs.empty()) {
        std::cerr << "usage: " << argv[0] << " FOLDER_OR_FILE... (with at least one input)\n";
        return 2;
    }
    for (const auto& file : inputs) {
        std::ifstream stream(file, std::ios::binary);
        if (!stream) {
            std::cerr << "cannot read " << file << "\n";
            return 1;
        }
        const std::string bytes{std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};
        LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    }
    std::cout << "replayed " << inputs.size() << " inputs\n";
    return 0;
}
