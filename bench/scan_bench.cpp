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
