#pragma once

#include <QString>

#include <string>

namespace tromel::gui {

/// What Form1 asks of its surroundings: the message box, the file chooser, the single-instance
/// check and the executable's folder. Tests answer these from a script.
class FormServices {
public:
    virtual ~FormServices() = default;

    /// Modal box with a warning icon and a single OK button; returns when dismissed.
    virtual void showMessage(const QString& title, const QString& prompt) = 0;
    /// The chosen file's full path, or empty when the user cancelled.
    virtual QString ShowOpenFile(const QString& title, const QString& filter, const QString& initialDir) = 0;
    virtual bool anotherInstanceRunning() = 0;
    /// The executable's folder, as the core takes paths (UTF-8).
    virtual std::string programDir() = 0;
};

} // namespace tromel::gui
