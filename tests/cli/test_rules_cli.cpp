#include "ProcessSupport.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

using tromel::testing::Outcome;
using tromel::testing::runInProcess;
using tromel::testing::TempDir;

namespace {

constexpr const char* kRules = "set sv_hostname x\n"
                               "sv_cvar cg_fov IN 90 120\n"
                               "sv_cvar r_picmip EQ 0\n"
                               "sv_cvar snaps EQ 40\n";

std::string repeated(std::string_view piece, std::size_t times)
{
    std::string out;
    for (std::size_t i = 0; i < times; ++i)
        out += piece;
    return out;
}

struct Case {
    std::string label;
    std::vector<std::string> options; // before the config; "@" is the rules file
    std::string config;
    int status;
    std::string out; // "@" stands for the config's path, "%" for the rules file's
    std::string err = {}; // a part of standard error
};

class RulesCli : public ::testing::TestWithParam<Case> {
protected:
    Outcome run(const Case& c) const
    {
        const std::string rules = m_dir.write("server.cfg", kRules);
        const std::string config = m_dir.write("player.cfg", c.config);
        std::vector<std::string> args;
        for (const std::string& o : c.options)
            args.push_back(o == "@" ? rules : o);
        args.push_back(config);
        return runInProcess(args);
    }

    std::string expand(std::string text) const
    {
        for (const auto& [mark, name] : { std::pair { '@', "player.cfg" }, std::pair { '%', "server.cfg" } })
            for (std::size_t at; (at = text.find(mark)) != std::string::npos;)
                text.replace(at, 1, m_dir.path(name));
        return text;
    }

    TempDir m_dir;
};

TEST_P(RulesCli, JudgesWhatAConfigLeaves)
{
    const Case& c = GetParam();
    const Outcome o = run(c);
    EXPECT_EQ(o.status, c.status) << o.err;
    EXPECT_EQ(o.out, expand(c.out));
    EXPECT_NE(o.err.find(expand(c.err)), std::string::npos) << o.err;
}

INSTANTIATE_TEST_SUITE_P(Runs, RulesCli,
    ::testing::Values(Case { "lastValueCounts", { "--rules", "@" },
                          "seta cg_fov 80\nseta cg_fov 100\nseta snaps 40\n", 0, "Total: 0 findings\n" },
        Case { "brokenValue", { "--rules", "@" }, "seta cg_fov 100\nseta r_picmip \"3\"\n", 1,
            "@:2:1: r_picmip \"3\" breaks \"sv_cvar r_picmip EQ 0\" (%:3): forced to \"0\"\nTotal: 1 "
            "finding\n" },
        Case { "keyPress", { "--rules", "@", "--engine", "rtcwpro" }, "bind x \"cg_fov 130\"\n", 1,
            "@:1:9: cg_fov \"130\" on key press breaks \"sv_cvar cg_fov IN 90 120\" (%:2): refused\n"
            "Total: 1 finding\n" },
        Case { "cycleStopsAtItsEnd", { "--rules", "@" }, "seta r_picmip 2\ncycle r_picmip 4 0 2\n", 0,
            "Total: 0 findings\n" },
        Case { "overriddenIsNotReported", { "--rules", "@" }, "seta r_picmip 3\nexec nowhere\nr_picmip 0\n",
            0, "Total: 0 findings\n", "warning: exec \"nowhere.cfg\"" },
        Case { "unsetListedNotCounted", { "--rules", "@", "--show-unset" }, "seta cg_fov 90\nseta snaps 40\n",
            0, "@: r_picmip is not set: \"sv_cvar r_picmip EQ 0\" (%:3)\nTotal: 0 findings\n" },
        Case { "guessedEngineSaid", { "--rules", "@" }, "", 0, "Total: 0 findings\n",
            "note: %: read as ET: Legacy rules; --engine rtcwpro reads them as RtCW Pro's\n"
            "tromel-check: warning: @: file is empty, nothing to check\n" },
        Case { "onlyLineBreaks", { "--rules", "@", "--engine", "etlegacy" }, "\r\n\n", 0,
            "Total: 0 findings\n",
            "tromel-check: warning: @: file holds only line breaks, nothing to check\n" },
        Case { "warningsCapped", { "--rules", "@", "--engine", "etlegacy" }, repeated("bind zz x\n", 1002), 0,
            "Total: 0 findings\n", "@:1:1: warning: 2 more warnings not shown\n" },
        Case { "tooCostlyToFollow", { "--rules", "@" },
            "set a \"" + std::string(1000, ' ') + "\"\n" + repeated("vstr a\n", 100000) + "seta r_picmip 3\n",
            2, "Total: 0 findings\n", "tromel-check: @: could not be checked\n" },
        Case { "emptyRulesPath", { "--rules", "" }, "", 2, "", "--rules: the path is empty" },
        Case { "missingRules", { "--rules", "nowhere.ini" }, "", 2, "",
            "tromel-check: nowhere.ini: no such file\n" },
        Case { "withList", { "--rules", "@", "--list", "x.ini" }, "", 2, "", "--list excludes --rules" },
        Case { "withAudit", { "--rules", "@", "--audit" }, "", 2, "", "--audit excludes --rules" },
        Case {
            "withDialect", { "--rules", "@", "--dialect", "et" }, "", 2, "", "--dialect requires --audit" },
        Case { "engineNeedsRules", { "--engine", "etlegacy" }, "", 2, "", "--engine requires --rules" },
        Case { "unknownEngine", { "--rules", "@", "--engine", "q3" }, "", 2, "", "--engine: q3 not in" }),
    tromel::testing::ByLabel());

TEST(RulesCliJson, RulesInsteadOfAListAndUnsetAsNotes)
{
    TempDir dir;
    const std::string rules
        = dir.write("pb.cfg", "pb_sv_cvar cg_fov IN 90 120\npb_sv_cvar r_picmip IN 0 0\n");
    const std::string config = dir.write("p.cfg", "seta cg_fov 130\n");
    const Outcome o = runInProcess({ "--format", "json", "--rules", rules, "--show-unset", config });
    EXPECT_EQ(o.status, 1);
    const auto doc = nlohmann::json::parse(o.out);
    EXPECT_FALSE(doc.contains("list"));
    EXPECT_EQ(
        doc["rules"], (nlohmann::json { { "path", rules }, { "engine", "punkbuster" }, { "count", 2 } }));
    const auto& file = doc["files"][0];
    EXPECT_EQ(file["findings"][0]["verdict"], "kicked");
    EXPECT_EQ(file["findings"][0]["rule"]["line"], 1);
    EXPECT_EQ(file["notes"],
        nlohmann::json::parse(R"([{"file":)" + nlohmann::json(config).dump()
            + R"(,"name":"r_picmip","rule":"pb_sv_cvar r_picmip IN 0 0","ruleLine":2}])"));
    EXPECT_EQ(doc["total"], 1);
}

} // namespace
