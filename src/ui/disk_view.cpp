#include "disk_view.h"

#include "volume_dialogs.h"

#include "core/base/failure.h"
#include "operations/disk_commands.h"
#include "operations/operation_frame.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QToolBar>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

namespace varnook::ui {
namespace {

enum Column { kName, kType, kBlocks, kDate, kNote };

QString qt(const std::string& text)
{
    return QString::fromStdString(text);
}

// The name a file is told by to the core: as the catalogue shows it, or by
// its entry where another entry has the same name.
std::string nameFor(const lif::Entry& entry)
{
    if (!entry.sharesName) {
        return lif::shownName(entry.name);
    }
    std::string name = std::to_string(entry.slot + 1);
    name.insert(name.begin(), '@');
    return name;
}

// A reason as a sentence, as the window's messages say it.
QString sentence(const QString& text)
{
    return qt(varnook::sentence(text.toStdString()));
}

} // namespace

// The catalogue: drags its selected files out as files, takes files dropped
// on it from outside.
class FileList : public QTreeWidget {
public:
    explicit FileList(DiskView* view) : QTreeWidget(view), view_(view)
    {
        setDragEnabled(true);
        setAcceptDrops(true);
        setDragDropMode(QAbstractItemView::DragDrop);
        setDefaultDropAction(Qt::CopyAction);
    }

protected:
    QStringList mimeTypes() const override { return {QStringLiteral("text/uri-list")}; }
    QMimeData* mimeData(const QList<QTreeWidgetItem*>&) const override { return view_->dragData(); }
    Qt::DropActions supportedDropActions() const override { return Qt::CopyAction; }
    void dragEnterEvent(QDragEnterEvent* event) override { accept(event); }
    void dragMoveEvent(QDragMoveEvent* event) override { accept(event); }
    void dropEvent(QDropEvent* event) override
    {
        if (accept(event)) {
            view_->insertFiles(localFiles(event->mimeData()));
        }
    }

public:
    static QStringList localFiles(const QMimeData* data)
    {
        QStringList files;
        for (const QUrl& url : data->urls()) {
            if (url.isLocalFile()) {
                files << url.toLocalFile();
            }
        }
        return files;
    }

private:
    // Files from outside only: a drag of the catalogue's own files onto
    // itself changes nothing.
    bool accept(QDropEvent* event)
    {
        if (event->source() == this || localFiles(event->mimeData()).isEmpty()) {
            event->ignore();
            return false;
        }
        event->setDropAction(Qt::CopyAction);
        event->accept();
        return true;
    }

    DiskView* view_;
};

DiskView::DiskView(QWidget* owner, const CodePage& codePage, const std::string& image)
    : QDialog(owner),
      codePage_(codePage)
{
    setObjectName(QStringLiteral("diskView"));
    setSizeGripEnabled(true);
    setAcceptDrops(true);
    auto* layout = new QVBoxLayout(this);
    list_ = new FileList(this);
    list_->setObjectName(QStringLiteral("diskFiles"));
    list_->setAccessibleName(QStringLiteral("Files of the disk image"));
    list_->setRootIsDecorated(false);
    list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list_->setHeaderLabels({QStringLiteral("Name"), QStringLiteral("Type"), QStringLiteral("Blocks"),
                            QStringLiteral("Date"), QStringLiteral("Note")});
    list_->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    list_->header()->setStretchLastSection(true);
    list_->setContextMenuPolicy(Qt::ActionsContextMenu);
    summary = new QLabel;
    summary->setObjectName(QStringLiteral("diskSummary"));
    summary->setWordWrap(true);
    summary->setTextInteractionFlags(Qt::TextSelectableByMouse);
    outcome = new QLabel;
    outcome->setObjectName(QStringLiteral("diskOutcome"));
    outcome->setWordWrap(true);
    createActions();
    auto* bar = new QToolBar;
    bar->setToolButtonStyle(Qt::ToolButtonTextOnly);
    bar->addActions({openAction, extractAction, insertAction, renameAction, purgeAction, packAction});
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    // Return belongs to the list (open the program), never to Close.
    buttons->button(QDialogButtonBox::Close)->setAutoDefault(false);
    layout->addWidget(bar);
    layout->addWidget(summary);
    layout->addWidget(list_, 1);
    layout->addWidget(outcome);
    layout->addWidget(buttons);
    connect(list_, &QTreeWidget::itemSelectionChanged, this, &DiskView::updateActions);
    connect(list_, &QTreeWidget::itemActivated, this, [this] { openProgram(); });
    // A note is often longer than its column: the line under the list says it whole.
    connect(list_, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) {
        if (item != nullptr && !item->text(kNote).isEmpty()) {
            outcome->setText(sentence(item->text(kNote)));
        }
    });
    const QFontMetrics metrics(font());
    resize(metrics.averageCharWidth() * 90, metrics.lineSpacing() * 26);
    showImage(image);
}

DiskView::~DiskView() = default;

QTreeWidget* DiskView::files() const
{
    return list_;
}

void DiskView::createActions()
{
    // The menu bar names every action with its key; the toolbar and the
    // catalogue's context menu hold those about files.
    auto* menus = new QMenuBar(this);
    layout()->setMenuBar(menus);
    QMenu* diskMenu = menus->addMenu(QStringLiteral("&Disk"));
    QMenu* fileMenu = menus->addMenu(QStringLiteral("&File"));
    const auto action = [this](QMenu* menu, const QString& text, const QKeySequence& key, auto slot) {
        auto* made = new QAction(text, this);
        made->setShortcut(key);
        made->setShortcutContext(Qt::WindowShortcut);
        connect(made, &QAction::triggered, this, slot);
        menu->addAction(made);
        addAction(made);
        return made;
    };
    openAction = action(fileMenu, QStringLiteral("&Open in Document"), QKeySequence(Qt::CTRL | Qt::Key_Return),
                        &DiskView::openProgram);
    extractAction =
        action(fileMenu, QStringLiteral("&Extract..."), QKeySequence(Qt::CTRL | Qt::Key_E), [this] { extract(false); });
    extractBareAction = action(fileMenu, QStringLiteral("Extract &Bare..."),
                               QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_E), [this] { extract(true); });
    insertAction =
        action(fileMenu, QStringLiteral("&Insert..."), QKeySequence(Qt::CTRL | Qt::Key_I), &DiskView::insertChosen);
    renameAction = action(fileMenu, QStringLiteral("&Rename..."), QKeySequence(Qt::Key_F2), &DiskView::renameSelected);
    purgeAction =
        action(fileMenu, QStringLiteral("&Purge..."), QKeySequence(QKeySequence::Delete), &DiskView::purgeSelected);
    newAction =
        action(diskMenu, QStringLiteral("&New Image..."), QKeySequence(Qt::CTRL | Qt::Key_N), &DiskView::newImage);
    openImageAction =
        action(diskMenu, QStringLiteral("&Open Image..."), QKeySequence(Qt::CTRL | Qt::Key_O), &DiskView::openImage);
    diskMenu->addSeparator();
    packAction = action(diskMenu, QStringLiteral("&Pack"), QKeySequence(Qt::CTRL | Qt::Key_P), &DiskView::packVolume);
    labelAction =
        action(diskMenu, QStringLiteral("Set &Label..."), QKeySequence(Qt::CTRL | Qt::Key_L), &DiskView::labelVolume);
    exportAction = action(diskMenu, QStringLiteral("&Save As Plain Image..."),
                          QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S), &DiskView::exportCapture);
    diskMenu->addSeparator();
    QAction* close = diskMenu->addAction(QStringLiteral("&Close"), this, &QDialog::reject);
    close->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_W));
    addAction(close);
    list_->addActions({openAction, extractAction, extractBareAction, renameAction, purgeAction});
}

void DiskView::showImage(const std::string& image)
{
    image_ = image;
    setWindowTitle(image.empty() ? QStringLiteral("Disk Images - Varnook")
                                 : QFileInfo(qt(image)).fileName() + QStringLiteral(" - Disk - Varnook"));
    outcome->clear();
    reload();
}

void DiskView::reload()
{
    const QStringList selected = selectedNames();
    const QString current = list_->currentItem() ? list_->currentItem()->data(kName, Qt::UserRole).toString() : "";
    list_->clear();
    volume_.reset();
    if (image_.empty()) {
        summary->setText(QStringLiteral("No disk image is open: make a new one (Ctrl+N) or open one (Ctrl+O)."));
        updateActions();
        return;
    }
    std::string recovery;
    try {
        volume_ = disk::catalogue(image_, &recovery);
    } catch (const std::exception& e) {
        const auto* failure = dynamic_cast<const Failure*>(&e);
        summary->setText(
            QStringLiteral("%1 cannot be read: %2")
                .arg(QFileInfo(qt(image_)).fileName(),
                     sentence(failure != nullptr ? qt(failure->windowText()) : QString::fromLocal8Bit(e.what()))));
        updateActions();
        return;
    }
    if (!recovery.empty()) {
        warn(QFileInfo(qt(image_)).fileName() + QStringLiteral(": ") + sentence(qt(recovery)));
    }
    const lif::Volume& volume = *volume_;
    QString text = QStringLiteral("Volume %1 · %2 · %3 blocks free · %4 files")
                       .arg(volume.label.empty() ? QStringLiteral("(no label)") : qt(lif::shownName(volume.label)),
                            qt(disk::mediumText(volume)), QString::number(volume.freeBlocks()),
                            QString::number(volume.files.size()));
    if (volume.container != lif::Container::None) {
        text += QStringLiteral("\nA %1 capture: read here, never written. Save As Plain Image makes a disk image "
                               "that can be changed.")
                    .arg(QString::fromLatin1(containerName(volume.container)));
    } else if (const std::string damage = volume.damage(); !damage.empty()) {
        text += QStringLiteral("\nDamaged: %1 Nothing is written into it; its sound files can be read and extracted.")
                    .arg(sentence(qt(damage)));
    }
    summary->setText(text);
    for (const auto& file : volume.files) {
        const QString note = !file.damage.empty() ? qt(file.damage)
                             : file.sharesName    ? QStringLiteral("another entry has this name")
                                                  : QString();
        auto* item = new QTreeWidgetItem(list_, {qt(lif::shownName(file.name)), qt(lif::typeName(file.type)),
                                                 QString::number(file.blocks), qt(lif::formatDate(file.date)), note});
        item->setTextAlignment(kBlocks, Qt::AlignRight | Qt::AlignVCenter);
        for (int column = 0; column <= kNote && !note.isEmpty(); ++column) {
            item->setToolTip(column, note);
        }
        item->setData(kName, Qt::UserRole, qt(nameFor(file)));
        if (selected.contains(qt(nameFor(file)))) {
            item->setSelected(true);
        }
        if (qt(nameFor(file)) == current || (current.isEmpty() && list_->currentItem() == nullptr)) {
            list_->setCurrentItem(item, 0, QItemSelectionModel::NoUpdate);
        }
    }
    // The file that was current is gone (purged, renamed): the first one is.
    if (list_->currentItem() == nullptr && list_->topLevelItemCount() > 0) {
        list_->setCurrentItem(list_->topLevelItem(0), 0, QItemSelectionModel::NoUpdate);
    }
    if (list_->selectedItems().isEmpty() && list_->currentItem() != nullptr) {
        list_->currentItem()->setSelected(true);
    }
    updateActions();
}

const lif::Entry* DiskView::entryOf(const QString& key) const
{
    if (volume_) {
        for (const auto& file : volume_->files) {
            if (qt(nameFor(file)) == key) {
                return &file;
            }
        }
    }
    return nullptr;
}

QString DiskView::shownOf(const QString& key) const
{
    const lif::Entry* entry = entryOf(key);
    return entry == nullptr ? key : qt(lif::shownName(entry->name));
}

QStringList DiskView::selectedNames() const
{
    QStringList names;
    for (const QTreeWidgetItem* item : list_->selectedItems()) {
        names << item->data(kName, Qt::UserRole).toString();
    }
    return names;
}

void DiskView::updateActions()
{
    const bool open = volume_.has_value();
    const bool plain = open && volume_->container == lif::Container::None;
    const bool sound = plain && volume_->damage().empty();
    const int selected = static_cast<int>(list_->selectedItems().size());
    const lif::Entry* current = nullptr;
    if (open && selected == 1) {
        current = entryOf(selectedNames().front());
    }
    openAction->setEnabled(current != nullptr && current->type == lif::kTypeAscii && current->damage.empty());
    extractAction->setEnabled(selected > 0);
    extractBareAction->setEnabled(selected > 0);
    insertAction->setEnabled(sound);
    renameAction->setEnabled(sound && selected == 1);
    purgeAction->setEnabled(sound && selected > 0);
    packAction->setEnabled(sound);
    labelAction->setEnabled(sound);
    exportAction->setEnabled(open);
    exportAction->setText(open && !plain ? QStringLiteral("&Save As Plain Image...")
                                         : QStringLiteral("&Save Copy As Plain Image..."));
}

std::optional<QString> DiskView::ask(const QString& what, const QString& text, const QString& offer)
{
    if (answer) {
        return answer(what, text);
    }
    QString got;
    const QString folder = image_.empty() ? QDir::homePath() : QFileInfo(qt(image_)).absolutePath();
    const QString images =
        QStringLiteral("Disk images (*.lif *.hpi *.dsk *.td0 *.imd *.LIF *.HPI *.DSK *.TD0 *.IMD);;All files (*)");
    if (what == QLatin1String("files")) {
        got = QFileDialog::getOpenFileNames(this, text, folder).join(QLatin1Char('\n'));
    } else if (what == QLatin1String("folder")) {
        got = QFileDialog::getExistingDirectory(this, text, folder);
    } else if (what == QLatin1String("open")) {
        got = QFileDialog::getOpenFileName(this, text, folder, images);
    } else if (what == QLatin1String("save")) {
        // A new image never replaces a file: the core refuses one, saying so.
        got = QFileDialog::getSaveFileName(this, text, QDir(folder).filePath(offer), images, nullptr,
                                           QFileDialog::DontConfirmOverwrite);
    }
    if (got.isEmpty()) {
        return std::nullopt;
    }
    return got;
}

bool DiskView::question(const QString& text, bool noByDefault)
{
    if (answer) {
        return answer(QStringLiteral("question"), text) == QStringLiteral("yes");
    }
    return QMessageBox::question(this, QStringLiteral("Varnook"), text, QMessageBox::Yes | QMessageBox::No,
                                 noByDefault ? QMessageBox::No : QMessageBox::Yes) == QMessageBox::Yes;
}

void DiskView::warn(const QString& text)
{
    if (onWarning) {
        onWarning(text);
        return;
    }
    QMessageBox::warning(this, QStringLiteral("Varnook"), text);
}

bool DiskView::change(const QString& failed, const QString& done, const std::function<void()>& step)
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
    bool worked = false;
    QString failure;
    try {
        step();
        worked = true;
    } catch (const Failure& e) {
        failure = qt(e.windowText());
    } catch (const std::bad_alloc&) {
        failure = QStringLiteral("not enough memory");
    } catch (const std::exception& e) {
        failure = QString::fromLocal8Bit(e.what());
    }
    QApplication::restoreOverrideCursor();
    reload();
    outcome->setText(worked ? done : failed + QLatin1Char('.'));
    if (!worked) {
        warn(failed + QStringLiteral(".\n") + sentence(failure));
    }
    return worked;
}

void DiskView::openProgram()
{
    if (!volume_ || list_->currentItem() == nullptr) {
        return;
    }
    const lif::Entry* entry = entryOf(list_->currentItem()->data(kName, Qt::UserRole).toString());
    if (entry == nullptr) {
        return;
    }
    if (!entry->damage.empty() || entry->type != lif::kTypeAscii) {
        outcome->setText(sentence(
            qt(entry->damage.empty() ? lif::notTextReason(entry->type) : entry->damage + "; it cannot be read")));
        return;
    }
    opened_ = entry->name;
    accept();
}

void DiskView::extract(bool bare)
{
    const QStringList names = selectedNames();
    if (names.isEmpty()) {
        return;
    }
    const auto folder = ask(QStringLiteral("folder"), bare ? QStringLiteral("Extract the blocks alone into")
                                                           : QStringLiteral("Extract as LIF files into"));
    if (!folder) {
        return;
    }
    for (const QString& name : names) {
        const QString shown = shownOf(name);
        const QString target = QDir(*folder).filePath(shown);
        if (QFileInfo::exists(target) &&
            !question(QStringLiteral("%1 already exists. Replace it?").arg(QDir::toNativeSeparators(target)), true)) {
            continue;
        }
        change(QStringLiteral("Could not extract %1").arg(shown),
               QStringLiteral("Extracted %1 to %2.").arg(shown, QDir::toNativeSeparators(target)),
               [&] { disk::extract(image_, name.toStdString(), target.toStdString(), bare); });
    }
}

void DiskView::insertChosen()
{
    if (const auto chosen = ask(QStringLiteral("files"), QStringLiteral("Insert into the disk image"))) {
        insertFiles(chosen->split(QLatin1Char('\n')));
    }
}

void DiskView::insertFiles(const QStringList& files)
{
    if (!volume_ || volume_->container != lif::Container::None) {
        warn(QStringLiteral("Nothing can be inserted here: %1")
                 .arg(volume_ ? QStringLiteral("a capture is read, never written. Save it as a plain image first.")
                              : QStringLiteral("no disk image is open.")));
        return;
    }
    for (const QString& file : files) {
        const QString shown = QFileInfo(file).fileName();
        disk::Arrival arrival;
        const QString failed = QStringLiteral("Could not insert %1").arg(shown);
        if (!change(failed, outcome->text(),
                    [&] { arrival = disk::arrivalOf(file.toStdString(), image_, codePage_); })) {
            continue;
        }
        bool replace = false;
        if (arrival.name.empty()) {
            const auto name = askVolumeFileName(this, *volume_, "");
            if (!name) {
                continue;
            }
            arrival.name = *name;
            replace = volume_->find(*name) != nullptr; // the dialog said it replaces
        } else if (volume_->find(arrival.name) != nullptr) {
            if (!question(QStringLiteral("The disk already holds %1. Replace it with %2?")
                              .arg(qt(lif::shownName(arrival.name)), shown),
                          true)) {
                continue;
            }
            replace = true;
        }
        change(failed, QStringLiteral("Inserted %1 as %2.").arg(shown, qt(lif::shownName(arrival.name))),
               [&] { disk::insert(image_, arrival, replace); });
    }
}

namespace {

// A one-line answer, held to a rule as it is typed.
std::optional<QString> askLine(QWidget* owner, const QString& caption, const QString& offer, int length,
                               const std::function<bool(const QString&)>& allowed)
{
    QDialog dialog(owner);
    dialog.setWindowTitle(QStringLiteral("Varnook"));
    auto* layout = new QVBoxLayout(&dialog);
    auto* label = new QLabel(caption);
    label->setWordWrap(true);
    auto* line = new QLineEdit(offer);
    line->setObjectName(QStringLiteral("diskAnswer"));
    line->setMaxLength(length);
    label->setBuddy(line);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    layout->addWidget(label);
    layout->addWidget(line);
    layout->addWidget(buttons);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    const auto update = [&] { buttons->button(QDialogButtonBox::Ok)->setEnabled(allowed(line->text())); };
    QObject::connect(line, &QLineEdit::textChanged, &dialog, update);
    update();
    line->selectAll();
    dialog.setMinimumWidth(380);
    if (dialog.exec() != QDialog::Accepted) {
        return std::nullopt;
    }
    return line->text();
}

bool labelAllowed(const QString& text)
{
    return text.isEmpty() || lif::isValidName(text.toStdString());
}

} // namespace

void DiskView::renameSelected()
{
    const QStringList names = selectedNames();
    if (names.size() != 1) {
        return;
    }
    const QString shown = shownOf(names.front());
    const QString caption = QStringLiteral("New name of %1 (%2):").arg(shown, QString::fromLatin1(lif::kNameRule));
    const auto name = answer ? answer(QStringLiteral("name"), caption)
                             : askLine(this, caption, shown, 10,
                                       [](const QString& text) { return lif::isValidName(text.toStdString()); });
    if (!name || *name == shown) {
        return;
    }
    change(QStringLiteral("Could not rename %1").arg(shown), QStringLiteral("Renamed %1 to %2.").arg(shown, *name),
           [&] { disk::rename(image_, names.front().toStdString(), name->toStdString()); });
}

void DiskView::purgeSelected()
{
    const QStringList names = selectedNames();
    if (names.isEmpty() || !purgeAction->isEnabled()) {
        return;
    }
    QStringList shown;
    for (const QString& name : names) {
        shown << shownOf(name);
    }
    if (!question(QStringLiteral("Purge %1 from %2? The blocks become free space; they are not kept anywhere.")
                      .arg(shown.join(QStringLiteral(", ")), QFileInfo(qt(image_)).fileName()),
                  true)) {
        return;
    }
    for (int i = 0; i < names.size(); ++i) {
        change(QStringLiteral("Could not purge %1").arg(shown[i]), QStringLiteral("Purged %1.").arg(shown[i]),
               [&] { disk::purge(image_, names[i].toStdString()); });
    }
}

void DiskView::packVolume()
{
    if (change(QStringLiteral("Could not pack the volume"), QStringLiteral("Packed."), [&] { disk::pack(image_); }) &&
        volume_) {
        outcome->setText(QStringLiteral("Packed: %1 blocks free in one gap.").arg(volume_->freeBlocks()));
    }
}

void DiskView::labelVolume()
{
    if (!volume_) {
        return;
    }
    const QString caption = QStringLiteral("Volume label (up to 6 letters, digits, _ and -; empty for none):");
    const auto label = answer ? answer(QStringLiteral("label"), caption)
                              : askLine(this, caption, qt(lif::shownName(volume_->label)), 6, labelAllowed);
    if (!label) {
        return;
    }
    change(QStringLiteral("Could not set the label"),
           QStringLiteral("Labelled %1.").arg(label->isEmpty() ? QStringLiteral("(no label)") : *label),
           [&] { disk::setLabel(image_, label->toStdString()); });
}

void DiskView::newImage()
{
    std::optional<QString> properties; // label, a tab, medium
    if (answer) {
        properties = answer(QStringLiteral("new image"), QString());
    } else {
        QDialog dialog(this);
        dialog.setWindowTitle(QStringLiteral("New Disk Image - Varnook"));
        auto* form = new QFormLayout(&dialog);
        auto* medium = new QComboBox;
        for (const lif::Medium& each : lif::kMedia) {
            medium->addItem(QStringLiteral("%1 (%2 blocks)").arg(QString::fromLatin1(each.name)).arg(each.blocks),
                            QString::fromLatin1(each.name));
        }
        medium->setCurrentIndex(1); // the 3.5-inch double-sided disk
        auto* label = new QLineEdit;
        label->setMaxLength(6);
        form->addRow(QStringLiteral("&Medium:"), medium);
        form->addRow(QStringLiteral("&Label:"), label);
        auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
        form->addRow(buttons);
        connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
        connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
        connect(label, &QLineEdit::textChanged, &dialog,
                [&] { buttons->button(QDialogButtonBox::Ok)->setEnabled(labelAllowed(label->text())); });
        if (dialog.exec() == QDialog::Accepted) {
            properties = label->text() + QLatin1Char('\t') + medium->currentData().toString();
        }
    }
    if (!properties) {
        return;
    }
    const QString label = properties->section(QLatin1Char('\t'), 0, 0);
    const QString mediumName = properties->section(QLatin1Char('\t'), 1, 1);
    const auto* medium = std::find_if(std::begin(lif::kMedia), std::end(lif::kMedia),
                                      [&](const lif::Medium& m) { return mediumName == QLatin1String(m.name); });
    if (medium == std::end(lif::kMedia)) {
        return;
    }
    const auto file = ask(QStringLiteral("save"), QStringLiteral("New disk image"),
                          (label.isEmpty() ? QStringLiteral("disk") : label.toLower()) + QStringLiteral(".lif"));
    if (!file) {
        return;
    }
    const std::string before = image_;
    image_ = file->toStdString();
    if (!change(QStringLiteral("Could not make %1").arg(QFileInfo(*file).fileName()),
                QStringLiteral("Made %1, an empty %2 disk.").arg(QFileInfo(*file).fileName(), mediumName),
                [&] { disk::create(image_, label.toStdString(), medium->blocks); })) {
        const QString failed = outcome->text();
        showImage(before);
        outcome->setText(failed);
        return;
    }
    const QString done = outcome->text();
    showImage(image_);
    outcome->setText(done);
}

void DiskView::openImage()
{
    if (const auto file = ask(QStringLiteral("open"), QStringLiteral("Open a disk image"))) {
        showImage(file->toStdString());
    }
}

void DiskView::exportCapture()
{
    if (!volume_) {
        return;
    }
    const QFileInfo info(qt(image_));
    const auto target =
        ask(QStringLiteral("save"), QStringLiteral("Save as a plain image"), info.completeBaseName() + ".lif");
    if (!target) {
        return;
    }
    if (QFileInfo::exists(*target) &&
        !question(QStringLiteral("%1 already exists. Replace it?").arg(QFileInfo(*target).fileName()), true)) {
        return;
    }
    std::string missing;
    if (!change(QStringLiteral("Could not save %1").arg(QFileInfo(*target).fileName()),
                QStringLiteral("Saved %1 as %2.").arg(info.fileName(), QFileInfo(*target).fileName()),
                [&] { missing = disk::exportPlain(image_, target->toStdString()); })) {
        return;
    }
    if (!missing.empty()) {
        warn(QStringLiteral("Blocks missing from the capture were written as zeros: %1.").arg(qt(missing)));
    }
    // The plain image is the one to change: shown from now on.
    const QString done = outcome->text();
    showImage(target->toStdString());
    outcome->setText(done + QStringLiteral(" It is shown now."));
}

QMimeData* DiskView::dragData()
{
    const QStringList names = selectedNames();
    if (names.isEmpty() || !volume_) {
        return nullptr;
    }
    dragFolder_ = std::make_unique<QTemporaryDir>();
    QList<QUrl> urls;
    for (const QString& name : names) {
        const QString target = dragFolder_->filePath(shownOf(name));
        if (change(QStringLiteral("Could not extract %1").arg(name), outcome->text(),
                   [&] { disk::extract(image_, name.toStdString(), target.toStdString(), false); })) {
            urls << QUrl::fromLocalFile(target);
        }
    }
    if (urls.isEmpty()) {
        return nullptr;
    }
    auto* data = new QMimeData;
    data->setUrls(urls);
    return data;
}

void DiskView::dragEnterEvent(QDragEnterEvent* event)
{
    if (!FileList::localFiles(event->mimeData()).isEmpty() && event->source() != list_) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    }
}

void DiskView::dropEvent(QDropEvent* event)
{
    event->setDropAction(Qt::CopyAction);
    event->accept();
    insertFiles(FileList::localFiles(event->mimeData()));
}

} // namespace varnook::ui
