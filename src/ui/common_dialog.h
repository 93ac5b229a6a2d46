#pragma once

#include <QString>
#include <QStringList>

#include <functional>

class QWidget;

namespace varnook::ui {

// The window's one open and save dialog. Its file name survives from one
// use to the next, so the save dialog offers the file last read.
class CommonDialog {
public:
    explicit CommonDialog(QWidget* owner) : owner_(owner) { }

    QString FileName;
    // Pairs of description and pattern, every item separated by "|".
    QString Filter;
    // 1-based entry of Filter selected when the dialog opens.
    int FilterIndex = 1;

    // Modal; false when the user cancelled (FileName is then unchanged).
    bool ShowOpen();
    bool ShowSave();

    // Answers the dialogs instead of the user (tests and screenshots): gets
    // whether it is a save dialog and returns the chosen file, or an empty
    // string for a cancel.
    std::function<QString(bool save)> answer;

    // Whether a save into this existing file keeps it (a disk image that
    // takes the program as one of its files): then nobody is asked about
    // replacing it.
    std::function<bool(const QString& file)> keepsFile;

    // Qt name filters for Filter; "*.*" matches every file, as it does on
    // the platform the list strings come from.
    static QStringList qtFilters(const QString& filter);

private:
    bool show(bool save);
    QString ask(bool save, const QString& start);
    QWidget* owner_;
};

} // namespace varnook::ui
