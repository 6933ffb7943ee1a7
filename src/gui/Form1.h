#pragma once

#include "CvarList.h"

#include <QString>
#include <QWidget>

#include <memory>
#include <string>

class QLabel;
class QListView;
class QPushButton;

namespace tromel {
class Matcher;
}

namespace tromel::gui {

class FormServices;
class PictureBox;
class ReportModel;

/// The program's only window: browse for a config file, validate it against cvars.ini and show
/// the report. The checking itself is the core's; the window only shows its answers.
class Form1 final : public QWidget {
    Q_OBJECT
public:
    explicit Form1(FormServices& services, QWidget* parent = nullptr);
    ~Form1() override;

    /// The start-up sequence. False when the program must end without showing the window; the
    /// user has then been told why.
    bool Form_Load();

    const QString& cfgPath() const { return CfgPath; }

public slots:
    void Command1_Click();
    void Command2_Click();

private:
    bool LoadCvars();
    void CheckConfig();
    QString listPath();
    void buildControls();

    FormServices& m_services;
    tromel::CvarList CvarList;
    std::unique_ptr<tromel::Matcher> m_matcher;
    QString CfgPath;
    ReportModel* m_report = nullptr;

    QPushButton* Command2 = nullptr;
    QPushButton* Command1 = nullptr;
    QListView* List1 = nullptr;
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
