#include "ConfigCheck.h"

#include <exception>
#include <new>

namespace tromel::gui {

namespace {

class IntoReport final : public tromel::FindingBatches {
public:
    IntoReport(tromel::Report& report, const std::atomic<bool>& cancel)
        : m_report(report)
        , m_cancel(cancel)
    {
    }
    void take(const tromel::Finding* findings, std::size_t count) override { m_report.add(findings, count); }
    bool cancelled() const override { return m_cancel.load(std::memory_order_relaxed); }

private:
    tromel::Report& m_report;
    const std::atomic<bool>& m_cancel;
};

} // namespace

ConfigCheck::ConfigCheck(const tromel::CvarList& list, const tromel::Matcher& matcher, QObject* parent)
    : QObject(parent)
    , m_list(list)
    , m_matcher(matcher)
    , m_report(list)
{
}

ConfigCheck::~ConfigCheck()
{
    stop();
}

void ConfigCheck::start(const std::string& path, const tromel::ScanPlan& plan, Done done)
{
    stop();
    m_cancel = false;
    m_done = std::move(done);
    m_report = tromel::Report(m_list);
    const unsigned generation = ++m_generation;
    try {
        m_thread = std::thread([this, path, plan, generation] { run(path, plan, generation); });
    } catch (const std::exception&) {
        // No thread to be had: the check could not run, which the window says like any failure.
        std::move(m_done)({ tromel::FileError::Failed, 0 }, tromel::Report(m_list));
    }
}

void ConfigCheck::stop()
{
    if (!m_thread.joinable())
        return;
    ++m_generation;
    m_cancel = true;
    m_thread.join();
    m_report = tromel::Report(m_list);
}

void ConfigCheck::run(const std::string& path, const tromel::ScanPlan& plan, unsigned generation)
{
    IntoReport out(m_report, m_cancel);
    try {
        m_status = tromel::scanConfig(path, m_matcher, out, plan).file;
    } catch (const std::bad_alloc&) {
        m_status = { tromel::FileError::OutOfMemory, 0 };
    } catch (...) {
        m_status = { tromel::FileError::Failed, 0 };
    }
    // A partial report is dropped here, which also frees the memory that telling the window takes.
    if (!m_status)
        m_report = tromel::Report(m_list);
    try {
        QMetaObject::invokeMethod(
            this, [this, generation] { finish(generation); }, Qt::QueuedConnection);
    } catch (...) {
        // Nothing left to tell the window with; it stays busy but can still be closed.
    }
}

void ConfigCheck::finish(unsigned generation)
{
    if (generation != m_generation || !m_thread.joinable())
        return; // stopped, or restarted, since this check ended
    m_thread.join();
    Done done = std::move(m_done);
    tromel::Report report = std::move(m_report);
    m_report = tromel::Report(m_list);
    done(m_status, std::move(report));
}

} // namespace tromel::gui
