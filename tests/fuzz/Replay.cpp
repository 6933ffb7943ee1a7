// Runs a fuzz target on its seeds and on variations of each, so that every test run replays them
// with the target's own checks, without libFuzzer.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size);

namespace {

constexpr int kVariations = TROMEL_VARIATIONS;

void run(const std::string& input)
{
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(input.data()), input.size());
}

// A few byte changes, insertions, cuts and copied pieces, as a fuzzer's first steps make them.
std::string vary(std::string s, std::mt19937& rng)
{
    const auto pick = [&](std::size_t n) { return n == 0 ? std::size_t { 0 } : std::size_t { rng() } % n; };
    for (std::size_t edits = 1 + pick(4); edits > 0; --edits) {
        const std::size_t at = pick(s.size() + 1);
        switch (pick(4)) {
        case 0:
            if (!s.empty())
                s[pick(s.size())] = pick(2) == 0 ? static_cast<char>(rng()) : s[pick(s.size())];
            break;
        case 1:
            s.insert(at, 1, static_cast<char>(rng()));
            break;
        case 2:
            s.erase(at, 1 + pick(16));
            break;
        default:
            s.insert(at, s.substr(pick(s.size() + 1), 1 + pick(64)));
        }
    }
    return s;
}

} // namespace

int main()
{
    std::vector<std::filesystem::path> seeds;
    for (const auto& entry : std::filesystem::directory_iterator(TROMEL_SEEDS))
        seeds.push_back(entry.path());
    std::sort(seeds.begin(), seeds.end());
    std::mt19937 rng(1);
    for (const auto& path : seeds) {
        std::ifstream in(path, std::ios::binary);
        const std::string seed { std::istreambuf_iterator<char>(in), {} };
        run(seed);
        for (int i = 0; i < kVariations; ++i)
            run(vary(seed, rng));
    }
    std::printf("%zu seeds, %d variations of each\n", seeds.size(), kVariations);
    return seeds.empty() ? 1 : 0;
}
