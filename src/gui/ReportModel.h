#pragma once

#include "Report.h"

#include <QAbstractListModel>

namespace tromel {
struct CvarList;
}

namespace tromel::gui {

/// The report as List1 shows it. Items are made from the compact report only when the view asks
/// for them, so a report of millions of findings costs about a byte each and no strings.
class ReportModel final : public QAbstractListModel {
    Q_OBJECT
public:
    /// list must outlive the model; findings index into it.
    explicit ReportModel(const tromel::CvarList& list, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    void clear();
    void setReport(tromel::Report report);

private:
    tromel::Report m_report;
    bool m_hasReport = false;
};

} // namespace tromel::gui
