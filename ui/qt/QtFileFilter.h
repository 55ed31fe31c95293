#pragma once
// The file dialog's filter as the engine words it, "Description(*.dat)|*.dat||" (description
// and pattern pairs, each followed by a bar, an empty entry at the end), turned into the name
// filters of QFileDialog: "Description(*.dat)". A description that does not end in its
// patterns gets them in parentheses. Pure.

#include <QStringList>
#include <string>

namespace tarvex {

QStringList NameFiltersFromBarList(const std::string& filter);

}  // namespace tarvex
