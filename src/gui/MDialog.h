#pragma once

#include <QString>

class QWidget;

namespace tromel::gui::MDialog {

/// The open-file chooser: one filter entry, existing files only, starting in initialDir. Answers
/// the chosen file's full path, or an empty text when cancelled. Keeps no history on disk.
QString ShowOpenFile(QWidget* owner, const QString& title, const QString& filter, const QString& initialDir);

} // namespace tromel::gui::MDialog
