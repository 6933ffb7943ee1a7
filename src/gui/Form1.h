#pragma once

#include "CvarList.h"
#include "PlainScan.h"

#include <QString>
#include <QWidget>

#include <memory>
#include <string>

class QLabel;
class QPushButton;

namespace tromel {
class Matcher;
class Report;
struct FileStatus;
} // namespace tromel

namespace tromel::gui {

class ConfigCheck;
class FormServices;
class ListBox;
class PictureBox;
class ReportModel;

/// The program's only window: browse for a config file, validate it against cvars.ini and show
/// the report. The checking itself is the core's, on a thread of its own; the window only shows
/// its answers and stays usable meanwhile.
class Form1 final : public QWidget {
    Q_OBJECT
public:
    explicit Form1(FormServices& services, QWidget* parent = nullptr);
    ~Form1() override;

    /// The start-up sequence. False when the program must end without showing the window; the
    /// user has then been told why.
    bool Form_Load();

    /// The chosen config's path as the core takes it: UTF-8, or on POSIX the name's own bytes.
    const std::string& cfgPath() const { return CfgPath; }
    /// Takes path as if it had been chosen with Command1: a dropped file, or one named on the
    /// command line. An empty path is a cancelled choice.
    void openConfig(const std::string& path);
    /// How the scan may cut a file into parts; tests make it slow enough to watch.
    void setScanPlan(const tromel::ScanPlan& plan) { m_plan = plan; }
    bool checking() const;

public slots:
    void Command1_Click();
    void Command2_Click();

protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    bool LoadCvars();
    void CheckConfig();
    void checkDone(const tromel::FileStatus& status, tromel::Report report);
    void setBusy(bool busy);
    std::string listPath();
    void buildControls();

    FormServices& m_services;
    tromel::CvarList CvarList;
    std::unique_ptr<tromel::Matcher> m_matcher;
    std::unique_ptr<ConfigCheck> m_check;
    // Every core, and reads of 256 KiB: a close waits for the scan of one read at most.
    tromel::ScanPlan m_plan { 0, 0, std::size_t { 256 } << 10 };
    std::string CfgPath;
    bool m_closed = false;
    ReportModel* m_report = nullptr;

    QPushButton* Command2 = nullptr;
    QPushButton* Command1 = nullptr;
    ListBox* List1 = nullptr;
    PictureBox* Picture1 = nullptr;
    PictureBox* Picture2 = nullptr;
    QLabel* Label7 = nullptr;
    QLabel* Label6 = nullptr;
    QLabel* Label5 = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label1 = nullptr;
};

/// "MS Sans Serif" 8.25 pt, or a sans-serif face of the same size where it is missing.
QFont dialogFont(bool bold);

} // namespace tromel::gui
