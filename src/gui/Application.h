#pragma once

#include <memory>
#include <string>

class QApplication;

namespace tromel::gui {

/// The application object, with the program's name, version and icon, made without leaving
/// anything on disk. argc must outlive it.
std::unique_ptr<QApplication> createApplication(int& argc, char** argv);

/// The config named on the command line (the first argument Qt leaves), as an absolute path the
/// core takes: UTF-8, or on POSIX the name's own bytes. Empty when none is named.
std::string commandLineFile(int argc, char** argv);

} // namespace tromel::gui
