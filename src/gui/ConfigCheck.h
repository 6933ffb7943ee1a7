#pragma once

#include "FileStatus.h"
#include "PlainScan.h"
#include "Report.h"

#include <QObject>

#include <atomic>
#include <functional>
#include <string>
#include <thread>

namespace tromel {
struct CvarList;
class Matcher;
} // namespace tromel

namespace tromel::gui {

/// Checks one config file at a time on a thread of its own, so that the window keeps answering
/// while a large file is scanned. Whoever started a check is told on this object's thread when it
/// ends, unless it was stopped first.
class ConfigCheck final : public QObject {
public:
    /// status says how the check ended; report holds the findings when it succeeded.
    using Done = std::function<void(tromel::FileStatus status, tromel::Report report)>;

    /// list and matcher must outlive this object.
    ConfigCheck(const tromel::CvarList& list, const tromel::Matcher& matcher, QObject* parent = nullptr);
    ~ConfigCheck() override;

    /// Starts checking path, after stopping any check still running.
    void start(const std::string& path, const tromel::ScanPlan& plan, Done done);
    bool running() const { return m_thread.joinable(); }
    /// Cancels the running check and waits for its thread, which reads at most one more piece of
    /// the file. Its Done is not called.
    void stop();

private:
    void run(const std::string& path, const tromel::ScanPlan& plan, unsigned generation);
    void finish(unsigned generation);

    const tromel::CvarList& m_list;
    const tromel::Matcher& m_matcher;
    std::thread m_thread;
    std::atomic<bool> m_cancel { false };
    unsigned m_generation = 0; // the window thread's count of starts and stops
    Done m_done;
    tromel::FileStatus m_status; // written by the thread, read once it is joined
    tromel::Report m_report;
};

} // namespace tromel::gui
