#pragma once

#include "core/lif/lif.h"
#include "core/text/code_page.h"

#include <QDialog>
#include <QTemporaryDir>

#include <functional>
#include <memory>
#include <optional>
#include <string>

class QAction;
class QLabel;
class QMimeData;
class QTreeWidget;

namespace varnook::ui {

class FileList;

// A disk image or capture as a catalogue (label, medium, free blocks; each
// file's name, type, blocks, date and damage), and everything done to it:
// open a program into the document, extract, insert, rename, purge, pack,
// label, a new image, a capture saved as a plain image. Each change goes
// through the core under the image's lock, then the catalogue is read again.
class DiskView : public QDialog {
    Q_OBJECT

public:
    // image: the disk image to show, or empty for none yet (New Image...,
    // Open Image... start from there).
    DiskView(QWidget* owner, const CodePage& codePage, const std::string& image);
    ~DiskView() override;

    // The image shown, and the ASCII file the user opened from it (the view
    // then closes), as the volume names it.
    const std::string& image() const { return image_; }
    const std::optional<std::string>& opened() const { return opened_; }

    // Reads the catalogue again (after a change made elsewhere, too).
    void reload();
    // Inserts the files as a drop does.
    void insertFiles(const QStringList& files);
    // The selected files extracted for a drag: their LIF exchange forms in a
    // folder that lives as long as the view.
    QMimeData* dragData();

    // Answers instead of the user (tests): what is asked ("files", "folder",
    // "save", "open", "name", "label", "new image", "question") and the text
    // or offer; nothing cancels. A question is answered "yes" or "no".
    std::function<std::optional<QString>(const QString& what, const QString& text)> answer;
    // Sees each warning instead of the user (tests).
    std::function<void(const QString&)> onWarning;

    QTreeWidget* files() const;
    QLabel* summary = nullptr;
    QLabel* outcome = nullptr;
    QAction* openAction = nullptr;
    QAction* extractAction = nullptr;
    QAction* extractBareAction = nullptr;
    QAction* insertAction = nullptr;
    QAction* renameAction = nullptr;
    QAction* purgeAction = nullptr;
    QAction* packAction = nullptr;
    QAction* labelAction = nullptr;
    QAction* exportAction = nullptr;
    QAction* newAction = nullptr;
    QAction* openImageAction = nullptr;

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void createActions();
    void updateActions();
    void showImage(const std::string& image);
    // The names the core is told (as the catalogue shows them, or @N) of
    // the selected files; a file by that name, and its name as shown.
    QStringList selectedNames() const;
    const lif::Entry* entryOf(const QString& key) const;
    QString shownOf(const QString& key) const;
    // Runs a step on the image; then the catalogue is read again and the
    // outcome line says what was done, or what failed, and a warning why.
    // True when it worked.
    bool change(const QString& failed, const QString& done, const std::function<void()>& step);
    std::optional<QString> ask(const QString& what, const QString& text, const QString& offer = {});
    bool question(const QString& text, bool noByDefault);
    void warn(const QString& text);

    void openProgram();
    void extract(bool bare);
    void insertChosen();
    void renameSelected();
    void purgeSelected();
    void packVolume();
    void labelVolume();
    void newImage();
    void openImage();
    void exportCapture();

    CodePage codePage_;
    std::string image_;
    std::optional<lif::Volume> volume_;
    std::optional<std::string> opened_;
    FileList* list_ = nullptr;
    std::unique_ptr<QTemporaryDir> dragFolder_;
};

} // namespace varnook::ui
