#include "ReportModel.h"

#include "CvarList.h"
#include "Report.h"

#include <algorithm>
#include <climits>

namespace tromel::gui {

ReportModel::ReportModel(const tromel::CvarList& list, QObject* parent)
    : QAbstractListModel(parent)
    , m_list(list)
{
}

int ReportModel::rowCount(const QModelIndex& parent) const
{
    if (parent.isValid() || !m_hasReport)
        return 0;
    const std::size_t size = tromel::Report(m_list, m_findings).size();
    return static_cast<int>(std::min<std::size_t>(size, INT_MAX));
}

QVariant ReportModel::data(const QModelIndex& index, int role) const
{
    if (role != Qt::DisplayRole || !checkIndex(index, CheckIndexOption::IndexIsValid))
        return {};
    // A report longer than a view can count still ends in its blank and total rows.
    const tromel::Report report(m_list, m_findings);
    const auto shown = static_cast<std::size_t>(rowCount());
    auto row = static_cast<std::size_t>(index.row());
    if (row + 2 >= shown)
        row = report.size() - (shown - row);
    // Name bytes are shown as the characters of the same code.
    const std::string item = report.item(row);
    return QString::fromLatin1(item.data(), static_cast<qsizetype>(item.size()));
}

void ReportModel::clear()
{
    beginResetModel();
    std::vector<tromel::Finding>().swap(m_findings);
    m_hasReport = false;
    endResetModel();
}

void ReportModel::setFindings(std::vector<tromel::Finding> findings)
{
    beginResetModel();
    m_findings = std::move(findings);
    m_hasReport = true;
    endResetModel();
}

} // namespace tromel::gui
