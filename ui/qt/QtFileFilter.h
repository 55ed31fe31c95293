#pragma once
// The file dialog's filter (ui/FileFilter.h) as the name filters of QFileDialog:
// "Description(*.dat)". A description that does not end in its patterns gets them in
// parentheses, separated by blanks. Pure.

#include <QStringList>
#include <string>

namespace tarvex {

QStringList NameFiltersFromBarList(const std::string& filter);

}  // namespace tarvex
