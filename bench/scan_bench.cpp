// Micro-benchmarks of the scanner's inner loop on in-memory data (no file reading):
//
//   build/release/bench/scan_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only
//
// The configs are generated here, seeded, in the shapes of bench/gen_corpus.py.

#include "CvarList.h"
#include "Scanner.h"

#include <benchmark/benchmark.h>

#include <array>
#include <random>
#include <string>
#include <vector>

namespace {

using tromel::CvarList;
using tromel::Matcher;

constexpr std::array kPrefixes { "r_", "cg_", "cg_", "r_", "cl_", "com_", "sv_", "g_", "s_", "ui_", "b_",
    "m_" };
constexpr std::array kWords { "draw", "fov", "gamma", "picmip", "shadows", "flares", "fast", "sky", "lod",
    "max", "packets", "time", "nudge", "zoom", "default", "sniper", "team", "chat", "height", "weapon",
    "cycle", "delay", "marks", "brass", "crosshair", "size", "health", "alpha", "color", "fps", "speed",
    "mode", "texture", "filter", "detail", "dynamic", "light", "intensity", "bright", "bits", "map", "vertex",
    "lightmap", "depth", "yaw", "pitch", "avi", "demo", "frame", "rate", "spawn", "blood", "sound", "voice",
    "muzzle", "flash" };

std::string cvarName(std::mt19937& rng)
{
    auto pick = [&](const auto& from) { return std::string(from[rng() % from.size()]); };
    std::string name = pick(kPrefixes) + pick(kWords);
    for (auto words = rng() % 3; words > 0; --words) {
        std::string w = pick(kWords);
        if (rng() % 2 == 0)
            w[0] = static_cast<char>(w[0] - 'a' + 'A');
        name += w;
    }
    return name;
}

struct Workload {
    CvarList list;
    std::vector<std::string> unlisted;
};

// About count names, plus a duplicate and a name with a trailing space as hand-kept lists have.
Workload makeWorkload(std::size_t count)
{
    std::mt19937 rng(static_cast<unsigned>(count));
    Workload w;
    w.list.hasHeader = true;
    std::vector<std::string> seen;
    while (w.list.names.size() <= count) {
        std::string name = cvarName(rng);
        if (rng() % 4 == 0 && w.unlisted.size() < 4000)
            w.unlisted.push_back(name + "x"); // looks alike, never listed
        else
            w.list.names.push_back(std::move(name));
    }
    w.list.names.push_back(w.list.names[1]);
    w.list.names.push_back(w.list.names[2] + " ");
    return w;
}

// Lines from next(rng, out) until there are `bytes`.
template <typename Next> std::string generate(std::size_t bytes, unsigned seed, Next&& next)
{
    std::mt19937 rng(seed);
    std::string out;
    out.reserve(bytes + 128);
    while (out.size() < bytes)
        next(rng, out);
    return out;
}

std::string listed(const Workload& w, std::mt19937& rng)
{
    return w.list.names[1 + rng() % (w.list.names.size() - 3)];
}
std::string unlisted(const Workload& w, std::mt19937& rng)
{
    return w.unlisted[rng() % w.unlisted.size()];
}

// Player-config lines, about 2% of them setting a listed name.
std::string realisticConfig(const Workload& w, std::size_t bytes)
{
    return generate(bytes, 7, [&](std::mt19937& rng, std::string& out) {
        const auto r = rng() % 100;
        if (r < 2)
            out += "seta " + listed(w, rng) + " \"1\"\n";
        else if (r < 80)
            out += "seta " + unlisted(w, rng) + " \"" + std::to_string(rng() % 200) + "\"\n";
        else if (r < 92)
            out += "bind MOUSE" + std::to_string(rng() % 5) + " \"+attack\"\n";
        else
            out += "// " + unlisted(w, rng) + " was here\n";
    });
}

// One line of seta commands with a listed name in it now and then.
std::string singleLine(const Workload& w, std::size_t bytes)
{
    return generate(bytes, 11, [&](std::mt19937& rng, std::string& out) {
        out += "seta " + (rng() % 1000 == 0 ? listed(w, rng) : unlisted(w, rng)) + " \"0\"; ";
    });
}

const Workload& workload(std::size_t count)
{
    static const Workload small = makeWorkload(550);
    static const Workload large = makeWorkload(100000);
    return count == 550 ? small : large;
}

void scan(benchmark::State& state, const std::string& config, const CvarList& list)
{
    const Matcher matcher(list);
    std::size_t found = 0;
    for (auto _ : state) {
        const std::vector<tromel::Finding> findings = tromel::scanBuffer(config, matcher);
        found = findings.size();
        benchmark::DoNotOptimize(findings.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * config.size()));
    state.counters["findings"] = static_cast<double>(found);
}

void BM_Realistic(benchmark::State& state)
{
    const Workload& w = workload(static_cast<std::size_t>(state.range(0)));
    static const std::string config = realisticConfig(workload(550), 16 << 20);
    scan(state, config, w.list);
}
BENCHMARK(BM_Realistic)->Arg(550)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_SingleLine(benchmark::State& state)
{
    const Workload& w = workload(550);
    static const std::string config = singleLine(w, 16 << 20);
    scan(state, config, w.list);
}
BENCHMARK(BM_SingleLine)->Unit(benchmark::kMillisecond);

void BM_SetThenSpaces(benchmark::State& state)
{
    static const std::string config = "set" + std::string(16 << 20, ' ');
    scan(state, config, workload(550).list);
}
BENCHMARK(BM_SetThenSpaces)->Unit(benchmark::kMillisecond);

void BM_EveryLineAFinding(benchmark::State& state)
{
    const Workload& w = workload(550);
    static const std::string config = generate(16 << 20, 13,
        [&](std::mt19937& rng, std::string& out) { out += "seta " + listed(w, rng) + " \"1\"\n"; });
    scan(state, config, w.list);
}
BENCHMARK(BM_EveryLineAFinding)->Unit(benchmark::kMillisecond);

// Classification and line counting alone: the floor under every other case.
void BM_EmptyList(benchmark::State& state)
{
    static const std::string config = realisticConfig(workload(550), 16 << 20);
    scan(state, config, CvarList {});
}
BENCHMARK(BM_EmptyList)->Unit(benchmark::kMillisecond);

// Lists that would make a scan cost more than linear time: names made only of spaces; names with
// inner and trailing spaces; 5,000 names that share a 60-byte prefix; a name of 100 KB. Each is
// added to the 550 names and scanned in a config in the realistic shape that sets its names now
// and then, and near misses of the long ones. 100,000 names are BM_Realistic/100000.
enum class Hostile { Spaces, InnerAndTrailingSpaces, SharedPrefix, LongName };

Workload hostileWorkload(Hostile kind)
{
    Workload w = makeWorkload(550);
    std::vector<std::string> added;
    std::mt19937 rng(5);
    switch (kind) {
    case Hostile::Spaces:
        for (std::size_t n = 1; n <= 100; ++n)
            added.push_back(std::string(n, ' '));
        break;
    case Hostile::InnerAndTrailingSpaces:
        for (std::size_t k = 1; k < w.list.names.size(); ++k) {
            const std::string& name = w.list.names[k];
            added.push_back(k % 3 == 0 ? name + " " : k % 3 == 1 ? name + " 1" : "seta " + name + "  ");
        }
        break;
    case Hostile::SharedPrefix:
        for (int i = 0; i < 5000; ++i)
            added.push_back("cg_" + std::string(57, 'p') + cvarName(rng));
        break;
    case Hostile::LongName:
        added.push_back(std::string(100000, 'n'));
        break;
    }
    for (const std::string& name : added) {
        if (kind == Hostile::SharedPrefix || kind == Hostile::LongName)
            w.unlisted.push_back(name.substr(0, name.size() - 1) + "x");
    }
    w.list.names.insert(w.list.names.end() - 2, added.begin(), added.end());
    return w;
}

void BM_Hostile(benchmark::State& state, Hostile kind)
{
    const Workload w = hostileWorkload(kind);
    const std::string config = realisticConfig(w, 16 << 20);
    scan(state, config, w.list);
}
BENCHMARK_CAPTURE(BM_Hostile, spaces, Hostile::Spaces)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Hostile, innerAndTrailingSpaces, Hostile::InnerAndTrailingSpaces)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Hostile, sharedPrefix, Hostile::SharedPrefix)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Hostile, longName, Hostile::LongName)->Unit(benchmark::kMillisecond);

// 1,000 names "a", "a a", "a a a"... and one line "set a a a ... a " of 400 KB: every name's
// occurrences hold all the shorter ones.
void BM_Staircase(benchmark::State& state)
{
    CvarList list;
    list.hasHeader = true;
    list.names.push_back("a");
    while (list.names.size() <= 1000)
        list.names.push_back(list.names.back() + " a");
    std::string config = "set ";
    while (config.size() < 400000)
        config += "a ";
    scan(state, config, list);
}
BENCHMARK(BM_Staircase)->Unit(benchmark::kMillisecond);

// Names of spaces in the longest run of spaces.
void BM_SpacesInSpaces(benchmark::State& state)
{
    static const std::string config = "set" + std::string(16 << 20, ' ');
    scan(state, config, hostileWorkload(Hostile::Spaces).list);
}
BENCHMARK(BM_SpacesInSpaces)->Unit(benchmark::kMillisecond);

void BM_MatcherBuild(benchmark::State& state)
{
    const CvarList& list = workload(static_cast<std::size_t>(state.range(0))).list;
    for (auto _ : state) {
        const Matcher matcher(list);
        benchmark::DoNotOptimize(&matcher);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * list.count()));
}
BENCHMARK(BM_MatcherBuild)->Arg(550)->Arg(100000)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
