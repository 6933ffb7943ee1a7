#pragma once

#include "Scanner.h"

#include <QAbstractListModel>

#include <vector>

namespace tromel {
struct CvarList;
}

namespace tromel::gui {

/// The report as List1 shows it. Items are made from the findings only when the view asks for
/// them, so a report of a million lines costs one vector and no strings.
class ReportModel final : public QAbstractListModel {
    Q_OBJECT
public:
    /// list must outlive the model; findings index into it.
    explicit ReportModel(const tromel::CvarList& list, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    void clear();
    void setFindings(std::vector<tromel::Finding> findings);

private:
    const tromel::CvarList& m_list;
    std::vector<tromel::Finding> m_findings;
    bool m_hasReport = false;
};

} // namespace tromel::gui
