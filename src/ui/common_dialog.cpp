#include "common_dialog.h"

#include <QFileDialog>
#include <QFileInfo>

namespace varnook::ui {

QStringList CommonDialog::qtFilters(const QString& filter)
{
    const QStringList items = filter.split(QLatin1Char('|'));
    QStringList filters;
    for (qsizetype i = 0; i + 1 < items.size(); i += 2) {
        QStringList patterns = items[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts);
        for (QString& pattern : patterns) {
            if (pattern.trimmed() == QLatin1String("*.*")) {
                pattern = QStringLiteral("*");
            }
        }
        filters << items[i] + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) + QStringLiteral(")");
    }
    return filters;
}

bool CommonDialog::ShowOpen()
{
    return show(false);
}

bool CommonDialog::ShowSave()
{
    return show(true);
}

bool CommonDialog::show(bool save)
{
    QString chosen;
    if (answer) {
        chosen = answer(save);
    } else {
        QFileDialog dialog(owner_);
        dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
        dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
        dialog.setOption(QFileDialog::HideNameFilterDetails);
        const QStringList filters = qtFilters(Filter);
        dialog.setNameFilters(filters);
        if (FilterIndex >= 1 && FilterIndex <= filters.size()) {
            dialog.selectNameFilter(filters[FilterIndex - 1]);
        }
        if (!FileName.isEmpty()) {
            const QFileInfo info(FileName);
            dialog.setDirectory(info.absolutePath());
            dialog.selectFile(info.fileName());
        }
        if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
            chosen = dialog.selectedFiles().constFirst();
        }
    }
    if (chosen.isEmpty()) {
        return false;
    }
    FileName = chosen;
    return true;
}

} // namespace varnook::ui
