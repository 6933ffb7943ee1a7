// Audit mode on one config, printed as tromel-check prints it: for measuring time and memory
// (bench/audit_memory.sh) without the command line around it.
//
//   audit_run LIST CONFIG [DIALECTS]

#include "AuditChecker.h"
#include "CvarList.h"

#include <cstdio>
#include <string>

namespace {

class Print final : public tromel::FileReport {
public:
    void finding(const tromel::Record& record) override
    {
        line(record);
        ++findings;
    }
    void warning(const tromel::Record& record) override { line(record); }
    bool cancelled() const override { return false; }
    std::uint64_t findings = 0;

private:
    void line(const tromel::Record& record)
    {
        m_text.clear();
        record.text(m_text);
        m_text += '\n';
        std::fwrite(m_text.data(), 1, m_text.size(), stdout);
    }
    std::string m_text;
};

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: audit_run LIST CONFIG [DIALECTS]\n");
        return 2;
    }
    const tromel::ListResult list = tromel::LoadCvars(argv[1]);
    const auto dialects = tromel::console::parseDialects(argc > 3 ? argv[3] : "any");
    if (!list || !dialects) {
        std::fprintf(stderr, "audit_run: bad list or dialects\n");
        return 2;
    }
    const tromel::AuditChecker checker(list.list, *dialects);
    Print out;
    const tromel::FileStatus status = checker.check(argv[2], out, 1);
    std::printf("Total: %llu findings\n", static_cast<unsigned long long>(out.findings));
    return status ? (out.findings > 0 ? 1 : 0) : 2;
}
