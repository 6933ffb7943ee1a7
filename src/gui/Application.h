#pragma once

class QApplication;

namespace tromel::gui {

/// Name, version and icon of the window program. Sets nothing that would be saved.
void configureApplication(QApplication& app);

} // namespace tromel::gui
