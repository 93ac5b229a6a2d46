#include "common_dialog.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

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
        QString start = FileName;
        for (;;) {
            chosen = ask(save, start);
            // The question about replacing is asked here, not by the dialog:
            // writing into a disk image keeps the image and its other files.
            if (!save || chosen.isEmpty() || !QFileInfo::exists(chosen) || (keepsFile && keepsFile(chosen))) {
                break;
            }
            const auto reply = QMessageBox::question(
                owner_, QStringLiteral("Varnook"),
                QStringLiteral("%1 already exists.\nDo you want to replace it?").arg(QFileInfo(chosen).fileName()),
                QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
            if (reply == QMessageBox::Yes) {
                break;
            }
            start = chosen;
        }
    }
    if (chosen.isEmpty()) {
        return false;
    }
    FileName = chosen;
    return true;
}

QString CommonDialog::ask(bool save, const QString& start)
{
    QFileDialog dialog(owner_);
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    const QStringList filters = qtFilters(Filter);
    dialog.setNameFilters(filters);
    if (FilterIndex >= 1 && FilterIndex <= filters.size()) {
        dialog.selectNameFilter(filters[FilterIndex - 1]);
    }
    if (!start.isEmpty()) {
        const QFileInfo info(start);
        dialog.setDirectory(info.absolutePath());
        dialog.selectFile(info.fileName());
    }
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
        return dialog.selectedFiles().constFirst();
    }
    return QString();
}

} // namespace varnook::ui
