#include "ui/qt/QtFileFilter.h"

#include <QString>

namespace tarvex {

QStringList NameFiltersFromBarList(const std::string& filter) {
    const QStringList parts = QString::fromStdString(filter).split(QLatin1Char('|'));
    QStringList nameFilters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString& description = parts[i];
        if (description.isEmpty()) {
            break;  // the empty entry that ends the list
        }
        QString patterns = parts[i + 1];
        patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
        const QString suffix = QStringLiteral("(%1)").arg(patterns);
        nameFilters.append(description.endsWith(suffix) ? description
                                                        : description + QLatin1Char(' ') + suffix);
    }
    return nameFilters;
}

}  // namespace tarvex
