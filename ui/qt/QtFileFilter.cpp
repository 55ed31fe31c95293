#include "ui/qt/QtFileFilter.h"

#include <QString>

#include "ui/FileFilter.h"

namespace tarvex {

QStringList NameFiltersFromBarList(const std::string& filter) {
    QStringList nameFilters;
    for (const FileFilterEntry& entry : ParseFileFilter(filter)) {
        const QString description = QString::fromStdString(entry.Description);
        QString patterns = QString::fromStdString(entry.Patterns);
        patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
        const QString suffix = QStringLiteral("(%1)").arg(patterns);
        nameFilters.append(description.endsWith(suffix) ? description
                                                        : description + QLatin1Char(' ') + suffix);
    }
    return nameFilters;
}

}  // namespace tarvex
