#include "ReportModel.h"

#include "CvarList.h"
#include "Scanner.h"

#include <algorithm>
#include <climits>

namespace tromel::gui {

ReportModel::ReportModel(const tromel::CvarList& list, QObject* parent)
    : QAbstractListModel(parent)
    , m_report(list)
{
}

int ReportModel::rowCount(const QModelIndex& parent) const
{
    if (parent.isValid() || !m_hasReport)
        return 0;
    return static_cast<int>(std::min<std::uint64_t>(m_report.size(), INT_MAX));
}

QVariant ReportModel::data(const QModelIndex& index, int role) const
{
    if (role != Qt::DisplayRole || !checkIndex(index, CheckIndexOption::IndexIsValid))
        return {};
    // A report longer than a view can count still ends in its blank and total rows.
    const auto shown = static_cast<std::uint64_t>(rowCount());
    auto row = static_cast<std::uint64_t>(index.row());
    if (row + 2 >= shown)
        row = m_report.size() - (shown - row);
    // Name bytes are shown as the characters of the same code.
    const std::string item = m_report.item(row);
    return QString::fromLatin1(item.data(), static_cast<qsizetype>(item.size()));
}

void ReportModel::clear()
{
    if (!m_hasReport)
        return;
    beginResetModel();
    m_hasReport = false;
    m_report = tromel::Report(m_report.list());
    endResetModel();
}

void ReportModel::setReport(tromel::Report report)
{
    beginResetModel();
    m_report = std::move(report);
    m_hasReport = true;
    endResetModel();
}

} // namespace tromel::gui
